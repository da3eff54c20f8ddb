// HttpGet and HttpPost against the local server that xmlhttp_wine_test.py
// runs. Usage: xmlhttp_wine_test.exe http://127.0.0.1:PORT http://127.0.0.1:DEADPORT
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "test_driver.h"
#include "xmlhttp.h"
#include "xmlhttp_internal.h"

using namespace korvane::http;

namespace {

int failures = 0;
std::wstring server;
std::wstring dead_server;

void Check(bool ok, const char* what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    if (!ok) ++failures;
}

// A fetch result as text; "<not text>" when it is no VT_BSTR.
std::wstring TextOf(VARIANT result) {
    std::wstring text = L"<not text>";
    if (result.vt == VT_BSTR) text.assign(result.bstrVal, SysStringLen(result.bstrVal));
    VariantClear(&result);
    return text;
}

std::vector<unsigned char> BytesOf(VARIANT result) {
    std::vector<unsigned char> bytes;
    if (result.vt == (VT_ARRAY | VT_UI1)) {
        LONG lower = 0, upper = -1;
        SafeArrayGetLBound(result.parray, 1, &lower);
        SafeArrayGetUBound(result.parray, 1, &upper);
        void* data = nullptr;
        if (SUCCEEDED(SafeArrayAccessData(result.parray, &data))) {
            auto* first = static_cast<unsigned char*>(data);
            bytes.assign(first, first + (upper - lower + 1));
            SafeArrayUnaccessData(result.parray);
        }
    } else {
        bytes.push_back('?');  // tells "no byte array" apart from "no bytes"
    }
    VariantClear(&result);
    return bytes;
}

bool Contains(const std::wstring& text, const std::wstring& part) {
    return text.find(part) != std::wstring::npos;
}

int CountLinesStarting(const std::wstring& text, const std::wstring& prefix) {
    int count = 0;
    for (std::size_t pos = 0; (pos = text.find(L'\n' + prefix, pos)) != std::wstring::npos; ++pos)
        ++count;
    return count;
}

void TestPostSendsHeadersAndBodyAsGiven() {
    const std::wstring body = L"uin=12345&name=a+b%20c";
    const std::wstring echo = TextOf(HttpPost(server + L"/echo", body, kResponseText));
    Check(echo.rfind(L"POST /echo\n", 0) == 0, "POST uses the POST method");
    Check(Contains(echo, L"\nContent-Length: 22\n"), "Content-Length is the body's length");
    Check(CountLinesStarting(echo, L"Content-Length:") == 1, "Content-Length is sent once");
    Check(Contains(echo, L"\nCONTENT-TYPE: application/x-www-form-urlencoded\n"),
          "CONTENT-TYPE is form-urlencoded, spelled as given");
    Check(echo.size() > body.size() && echo.ends_with(L"\n\n" + body), "body arrives unchanged");
}

void TestGetAndResponseModes() {
    const std::wstring echo = TextOf(HttpGet(server + L"/echo?q=1", kResponseText));
    Check(echo.rfind(L"GET /echo?q=1\n", 0) == 0, "get fetches with GET");

    std::vector<unsigned char> all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<unsigned char>(i);
    Check(BytesOf(HttpGet(server + L"/bytes", kResponseBytes)) == all,
          "mode 2 returns the bytes unchanged");
    Check(TextOf(HttpGet(server + L"/gbk", kResponseDecodedBytes)) == L"A啊B 中文\n",
          "mode 3 decodes GBK bytes in code page 936");

    Check(TextOf(HttpGet(server + L"/mark?id=m0", 0)).empty(), "mode 0 gives empty text");
    Check(TextOf(HttpPost(server + L"/mark?id=m4", L"", 4)).empty(), "mode 4 gives empty text");
    Check(TextOf(HttpGet(server + L"/seen?ids=m0,m4", kResponseText)) == L"m0,m4",
          "modes 0 and 4 still make the request");

    Check(TextOf(HttpGet(server + L"/status/404", kResponseDecodedBytes)) == L"页面不存在 404",
          "a 404 still yields its body");

    Check(TextOf(HttpGet(server + L"/lonelead", kResponseDecodedBytes)).empty(),
          "mode 3 with a final lone lead byte gives empty text");
    Check(BytesOf(HttpGet(server + L"/lonelead", kResponseBytes)) ==
              std::vector<unsigned char>{'A', 0xB0},
          "mode 2 keeps the lone lead byte");
}

// The server's answer to a request about held reply `id`: /state tells what
// it did with it ("none", "held", "answered", "dropped"), /release lets it go.
std::wstring Ask(const wchar_t* what, const std::wstring& id) {
    return TextOf(HttpGet(server + what + id, kResponseText));
}

// Has the server close a held request unanswered, for a fetch that has
// given up on it. Wine's request object keeps no reference from its pending
// transfer to itself: after abort and release, a late answer is written
// into the freed object (or into the next one made at its address), while a
// failed transfer touches nothing.
void Drop(const std::wstring& id) {
    Ask(L"/drop?id=", id);
    bool dropped = false;
    for (const ULONGLONG end = GetTickCount64() + 10000; !dropped && GetTickCount64() < end;
         Sleep(10))
        dropped = Ask(L"/state?id=", id) == L"dropped";
    Check(dropped, "the server closes the request that the fetch gave up");
}

void TestFailuresGiveEmptyText() {
    Check(TextOf(HttpGet(L"no address at all", kResponseText)).empty(),
          "an unusable address gives empty text");
    // Wine's request object never reports completion of a failed transfer, so
    // there only the time limit ends the wait: keep it short here.
    for (int mode : {kResponseBytes, kResponseDecodedBytes}) {
        VARIANT result = internal::Fetch(L"get", dead_server + L"/echo", nullptr, mode, 2000);
        Check(result.vt == VT_BSTR && SysStringLen(result.bstrVal) == 0,
              mode == kResponseBytes ? "the server down gives empty text in mode 2"
                                     : "the server down gives empty text in mode 3");
        VariantClear(&result);
    }

    // The reply is held until dropped, so only the limit can end this wait.
    const std::wstring late = TextOf(
        internal::Fetch(L"get", server + L"/hold?id=limit&ms=60000", nullptr, kResponseText, 500));
    Check(late.empty(), "a fetch past its time limit gives empty text");
    Check(Ask(L"/state?id=", L"limit") != L"answered",
          "the time limit ends the wait before the reply");
    Drop(L"limit");
}

// Window messages during the wait: a timer keeps ticking, a posted message
// starts a nested fetch that completes inside the outer one, and a WM_QUIT
// ends the wait.
struct NestedState {
    bool outer_waiting = false;
    bool nested_ran_while_outer_waited = false;
    std::wstring nested_result;
    int ticks = 0;
    // At this tick a nested fetch releases the held reply named here.
    int release_at_tick = 0;
    std::wstring release_id;
    // Ticks up to this one take longer than the timer's interval.
    int slow_ticks = 0;
};
NestedState nested;

constexpr UINT kNestedFetch = WM_APP;
constexpr UINT kPostQuit = WM_APP + 1;
constexpr int kQuitCode = 42;

LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER) {
        const int tick = ++nested.ticks;
        if (tick <= nested.slow_ticks) Sleep(20);
        if (tick == nested.release_at_tick) Ask(L"/release?id=", nested.release_id);
    } else if (message == kNestedFetch) {
        nested.nested_result = TextOf(HttpGet(server + L"/echo?nested", kResponseText));
        nested.nested_ran_while_outer_waited = nested.outer_waiting;
    } else if (message == kPostQuit) {
        PostQuitMessage(kQuitCode);
    } else {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return 0;
}

void TestMessagesAreDispatchedWhileWaiting(HWND window) {
    // The outer reply is held until the fifth tick of a 50 ms timer releases
    // it: it completes only if the timer ticks during the wait.
    nested = NestedState{};
    nested.release_at_tick = 5;
    nested.release_id = L"outer";
    SetTimer(window, 1, 50, nullptr);
    PostMessageW(window, kNestedFetch, 0, 0);
    nested.outer_waiting = true;
    const std::wstring outer = TextOf(HttpGet(server + L"/hold?id=outer&ms=20000", kResponseText));
    nested.outer_waiting = false;
    KillTimer(window, 1);
    Check(outer == L"released outer",
          "the timer ticks during the wait and its fetch releases the outer one");
    Check(nested.nested_ran_while_outer_waited, "the posted message is handled during the wait");
    Check(nested.nested_result.rfind(L"GET /echo?nested\n", 0) == 0,
          "the nested fetch completes inside the outer one");

    // A 10 ms timer whose ticks take 20 ms keeps a WM_TIMER pending at every
    // look at the queue; the wait still tests its limit. The ticks turn fast
    // after the 1000th, so that a wait that never looks ends anyway.
    nested = NestedState{};
    nested.slow_ticks = 1000;
    SetTimer(window, 1, 10, nullptr);
    const std::wstring held = TextOf(
        internal::Fetch(L"get", server + L"/hold?id=ticks&ms=60000", nullptr, kResponseText, 2000));
    const int ticks = nested.ticks;
    KillTimer(window, 1);
    Check(held.empty() && ticks < nested.slow_ticks,
          "slow ticks do not hold the wait past its limit");
    Drop(L"ticks");
}

// A WM_QUIT that arrives during the wait ends it at once with empty text and
// is posted again for the thread's own message loop.
void TestQuitEndsTheWait(HWND window) {
    for (const bool post : {false, true}) {
        const std::wstring id = post ? L"quit-post" : L"quit-get";
        // Held for less than HttpGet's own limit: a wait that goes on past
        // the quit gets the reply.
        const std::wstring address = server + L"/hold?id=" + id + L"&ms=20000";
        PostMessageW(window, kPostQuit, 0, 0);
        const std::wstring result = TextOf(post ? HttpPost(address, L"a=1", kResponseText)
                                                : HttpGet(address, kResponseText));
        MSG message{};
        const bool quit = PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
        Check(result.empty(), post ? "a WM_QUIT ends HttpPost's wait with empty text"
                                   : "a WM_QUIT ends HttpGet's wait with empty text");
        Check(quit && message.wParam == kQuitCode,
              "the WM_QUIT is posted again, with its exit code, for the thread's loop");
        Check(Ask(L"/state?id=", id) != L"answered", "the wait ended before the reply");
        Drop(id);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: xmlhttp_wine_test <server> <dead server>\n");
        return 2;
    }
    server = argv[1];
    dead_server = argv[2];
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    Check(GetACP() == 936, "the ANSI code page is 936");
    // 0x04FF is QS_ALLINPUT as Windows 7 defines it.
    Check((internal::kWaitWakeMask & ~0x04FFu) == 0,
          "the wait asks only for input kinds that Windows 7 knows");
    TestPostSendsHeadersAndBodyAsGiven();
    TestGetAndResponseModes();
    TestFailuresGiveEmptyText();

    const HWND window =
        korvane::testing::NewWindow(L"XmlHttpWineTest", TestWindowProc, 0, 0, {}, HWND_MESSAGE);
    Check(window != nullptr, "test window created");
    TestMessagesAreDispatchedWhileWaiting(window);
    TestQuitEndsTheWait(window);
    DestroyWindow(window);

    CoUninitialize();
    std::printf("%d failed\n", failures);
    return failures == 0 ? 0 : 1;
}
