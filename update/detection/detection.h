#pragma once
// The Detection object: the one creatable class of Update.dll. Its members
// Updates and GetNetDate are reached late-bound through the type library.

#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>

#include <atomic>

#include "win_handles.h"
#include "quorvel_h.h"

namespace korvane::update {

class Detection final : public _Detection, public IProvideClassInfo, public ISupportErrorInfo {
public:
    // A new object with one reference, or an error.
    static HRESULT Create(REFIID iid, void** object) noexcept;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** object) noexcept override;
    STDMETHODIMP_(ULONG) AddRef() noexcept override;
    STDMETHODIMP_(ULONG) Release() noexcept override;

    // IDispatch, answered from the embedded type information
    STDMETHODIMP GetTypeInfoCount(UINT* count) noexcept override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** type_info) noexcept override;
    STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                               DISPID* disp_ids) noexcept override;
    STDMETHODIMP Invoke(DISPID disp_id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* exception,
                        UINT* argument_error) noexcept override;

    // _Detection
    STDMETHODIMP Updates(BSTR MyQQ, BSTR AppName, BSTR* reply) noexcept override;
    STDMETHODIMP GetNetDate(DATE* date) noexcept override;

    // IProvideClassInfo
    STDMETHODIMP GetClassInfo(ITypeInfo** type_info) noexcept override;

    // ISupportErrorInfo
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) noexcept override;

private:
    explicit Detection(ComPtr<ITypeLib> type_lib, ComPtr<ITypeInfo> type_info) noexcept;
    ~Detection();

    std::atomic<ULONG> references_{1};
    ComPtr<ITypeLib> type_lib_;
    ComPtr<ITypeInfo> type_info_;
};

}  // namespace korvane::update
