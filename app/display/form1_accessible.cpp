// Form1 for screen readers. The window's title stays "Form1", which says
// nothing, so WM_GETOBJECT answers for the client area with an object whose
// name is the caption (its start, CaptionName), whose role is static text and
// whose state is read-only; everything else comes from the standard object
// that the system makes for the window. A change of the caption's text is
// announced; ticks and wraps only move it and announce nothing.
#include "form1.h"

#include <oleacc.h>

#include <new>

#include "caption_name.h"
#include "system_library.h"

namespace korvane {
namespace {

// oleacc.dll, loaded from the system folder at the first request: it is no
// known DLL, so an import of it would be looked for beside the program first.
struct Oleacc {
    using CreateStdAccessibleObjectFn = HRESULT(WINAPI*)(HWND, LONG, REFIID, void**);
    using LresultFromObjectFn = LRESULT(WINAPI*)(REFIID, WPARAM, LPUNKNOWN);
    CreateStdAccessibleObjectFn create_standard = nullptr;
    LresultFromObjectFn lresult_from_object = nullptr;
};

const Oleacc& OleaccFunctions() {
    static const Oleacc functions = [] {
        Oleacc found;
        if (HMODULE oleacc = LoadSystemLibrary(L"oleacc.dll")) {
            found.create_standard = reinterpret_cast<Oleacc::CreateStdAccessibleObjectFn>(
                reinterpret_cast<void*>(GetProcAddress(oleacc, "CreateStdAccessibleObject")));
            found.lresult_from_object = reinterpret_cast<Oleacc::LresultFromObjectFn>(
                reinterpret_cast<void*>(GetProcAddress(oleacc, "LresultFromObject")));
        }
        return found;
    }();
    return functions;
}

bool IsSelf(const VARIANT& child) { return child.vt == VT_I4 && child.lVal == CHILDID_SELF; }

// The caption as an accessible object of the strip's client area. It lives
// on the strip's thread; other processes reach it through COM's marshalling.
class StripAccessible final : public IAccessible, public IOleWindow {
public:
    StripAccessible(const Form1& strip, ComPtr<IAccessible> standard)
        : strip_(strip), standard_(std::move(standard)) {}

    // IUnknown. Only what this object implements: the standard object's other
    // interfaces (its marshalling among them) would answer for it instead.
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IDispatch) ||
            iid == __uuidof(IAccessible)) {
            *object = static_cast<IAccessible*>(this);
        } else if (iid == __uuidof(IOleWindow)) {
            *object = static_cast<IOleWindow*>(this);
        } else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

    // IDispatch: no type information, so late-bound callers use the vtable.
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info) *info = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                        UINT*) override {
        return E_NOTIMPL;
    }

    // IAccessible: name, role and state of its own; the rest is the
    // standard object's.
    STDMETHODIMP get_accName(VARIANT child, BSTR* name) override {
        if (!IsSelf(child)) return standard_->get_accName(child, name);
        if (!name) return E_POINTER;
        const std::wstring_view text = CaptionName(strip_.CaptionText());
        *name = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return *name ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP get_accRole(VARIANT child, VARIANT* role) override {
        if (!IsSelf(child)) return standard_->get_accRole(child, role);
        if (!role) return E_POINTER;
        role->vt = VT_I4;
        role->lVal = ROLE_SYSTEM_STATICTEXT;
        return S_OK;
    }
    STDMETHODIMP get_accState(VARIANT child, VARIANT* state) override {
        const HRESULT result = standard_->get_accState(child, state);
        if (!IsSelf(child) || !state) return result;
        // Whether it is shown comes from the window; the text cannot be edited.
        const LONG shown = SUCCEEDED(result) && state->vt == VT_I4
                               ? state->lVal & (STATE_SYSTEM_INVISIBLE | STATE_SYSTEM_OFFSCREEN)
                               : 0;
        VariantClear(state);
        state->vt = VT_I4;
        state->lVal = shown | STATE_SYSTEM_READONLY;
        return S_OK;
    }
    STDMETHODIMP get_accParent(IDispatch** parent) override {
        return standard_->get_accParent(parent);
    }
    STDMETHODIMP get_accChildCount(long* count) override {
        return standard_->get_accChildCount(count);
    }
    STDMETHODIMP get_accChild(VARIANT child, IDispatch** object) override {
        return standard_->get_accChild(child, object);
    }
    STDMETHODIMP get_accValue(VARIANT child, BSTR* value) override {
        return standard_->get_accValue(child, value);
    }
    STDMETHODIMP get_accDescription(VARIANT child, BSTR* text) override {
        return standard_->get_accDescription(child, text);
    }
    STDMETHODIMP get_accHelp(VARIANT child, BSTR* text) override {
        return standard_->get_accHelp(child, text);
    }
    STDMETHODIMP get_accHelpTopic(BSTR* file, VARIANT child, long* topic) override {
        return standard_->get_accHelpTopic(file, child, topic);
    }
    STDMETHODIMP get_accKeyboardShortcut(VARIANT child, BSTR* text) override {
        return standard_->get_accKeyboardShortcut(child, text);
    }
    STDMETHODIMP get_accFocus(VARIANT* child) override { return standard_->get_accFocus(child); }
    STDMETHODIMP get_accSelection(VARIANT* children) override {
        return standard_->get_accSelection(children);
    }
    STDMETHODIMP get_accDefaultAction(VARIANT child, BSTR* text) override {
        return standard_->get_accDefaultAction(child, text);
    }
    STDMETHODIMP accSelect(long flags, VARIANT child) override {
        return standard_->accSelect(flags, child);
    }
    STDMETHODIMP accLocation(long* left, long* top, long* width, long* height,
                             VARIANT child) override {
        return standard_->accLocation(left, top, width, height, child);
    }
    STDMETHODIMP accNavigate(long direction, VARIANT start, VARIANT* end) override {
        return standard_->accNavigate(direction, start, end);
    }
    STDMETHODIMP accHitTest(long x, long y, VARIANT* child) override {
        return standard_->accHitTest(x, y, child);
    }
    STDMETHODIMP accDoDefaultAction(VARIANT child) override {
        return standard_->accDoDefaultAction(child);
    }
    STDMETHODIMP put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

    // IOleWindow: the window this object belongs to.
    STDMETHODIMP GetWindow(HWND* window) override {
        if (!window) return E_POINTER;
        *window = strip_.hwnd();
        return S_OK;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

private:
    ~StripAccessible() = default;

    const Form1& strip_;
    ComPtr<IAccessible> standard_;
    ULONG references_ = 1;
};

}  // namespace

LRESULT Form1::OnGetObject(WPARAM wparam, LPARAM lparam) {
    // The object id is 32 bits wide, sign-extended into lParam or not.
    const Oleacc& oleacc = OleaccFunctions();
    if (static_cast<DWORD>(lparam) != static_cast<DWORD>(OBJID_CLIENT) || !oleacc.create_standard ||
        !oleacc.lresult_from_object) {
        return WindowBase::HandleMessage(WM_GETOBJECT, wparam, lparam);
    }
    ComPtr<IAccessible> standard;
    if (FAILED(oleacc.create_standard(hwnd(), OBJID_CLIENT, __uuidof(IAccessible),
                                      standard.put_void()))) {
        return WindowBase::HandleMessage(WM_GETOBJECT, wparam, lparam);
    }
    StripAccessible* created = new (std::nothrow) StripAccessible(*this, std::move(standard));
    if (!created) return 0;
    const ComPtr<IAccessible> object = ComPtr<IAccessible>::attach(created);
    return oleacc.lresult_from_object(__uuidof(IAccessible), wparam, object.get());
}

void Form1::CaptionTextChanged() {
    NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, hwnd(), OBJID_CLIENT, CHILDID_SELF);
    if (caption_text_listener_) caption_text_listener_();
}

}  // namespace korvane
