// HttpGet and HttpPost against the local server that xmlhttp_wine_test.py
// runs. Usage: xmlhttp_wine_test.exe http://127.0.0.1:PORT http://127.0.0.1:DEADPORT
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "utf8_output.h"
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
    for (std::size_t pos = 0; (pos = text.find(L'\n' + prefix, pos)) != std::wstring::npos; ++pos) {
        ++count;
    }
    return count;
}

void TestPostSendsHeadersAndBodyAsGiven() {
    const std::wstring body = L"uin=12345&name=a+b%20c";
    const std::wstring echo = TextOf(HttpPost(server + L"/echo", body, kResponseText));
    std::printf("  echo of POST:\n%s\n", korvane::testing::Utf8(echo).c_str());
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

void TestFailuresGiveEmptyText() {
    Check(TextOf(HttpGet(L"no address at all", kResponseText)).empty(),
          "an unusable address gives empty text");
    // Wine's request object never reports completion of a failed transfer, so
    // there only the time limit ends the wait: keep it short here.
    for (int mode : {kResponseBytes, kResponseDecodedBytes}) {
        const ULONGLONG start = GetTickCount64();
        VARIANT result = internal::Fetch(L"get", dead_server + L"/echo", nullptr, mode, 2000);
        const ULONGLONG elapsed = GetTickCount64() - start;
        const bool empty_text = result.vt == VT_BSTR && SysStringLen(result.bstrVal) == 0;
        VariantClear(&result);
        std::printf("  server down, mode %d: %llu ms\n", mode, elapsed);
        Check(empty_text, "the server down gives empty text");
    }

    const ULONGLONG start = GetTickCount64();
    const std::wstring late =
        TextOf(internal::Fetch(L"get", server + L"/slow?ms=4000", nullptr, kResponseText, 500));
    const ULONGLONG elapsed = GetTickCount64() - start;
    Check(late.empty(), "a fetch past its time limit gives empty text");
    Check(elapsed < 3000, "the time limit ends the wait before the reply comes");
}

// Window messages during the wait: a timer keeps ticking, and a posted
// message starts a nested fetch that completes inside the outer one.
struct NestedState {
    bool outer_waiting = false;
    bool nested_ran_while_outer_waited = false;
    std::wstring nested_result;
    int ticks = 0;
    // Until then each tick takes longer than the timer's interval.
    ULONGLONG slow_ticks_until = 0;
};
NestedState nested;

LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER) {
        ++nested.ticks;
        if (GetTickCount64() < nested.slow_ticks_until) Sleep(20);
        return 0;
    }
    if (message == WM_APP) {
        nested.nested_result = TextOf(HttpGet(server + L"/echo?nested", kResponseText));
        nested.nested_ran_while_outer_waited = nested.outer_waiting;
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void TestMessagesAreDispatchedWhileWaiting() {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = TestWindowProc;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"XmlHttpWineTest";
    RegisterClassW(&window_class);
    HWND window = CreateWindowW(window_class.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                nullptr, window_class.hInstance, nullptr);
    Check(window != nullptr, "test window created");

    SetTimer(window, 1, 50, nullptr);
    PostMessageW(window, WM_APP, 0, 0);
    nested.outer_waiting = true;
    const std::wstring outer = TextOf(HttpGet(server + L"/slow?ms=1500", kResponseText));
    nested.outer_waiting = false;
    KillTimer(window, 1);

    std::printf("  timer ticks during a 1.5 s fetch: %d\n", nested.ticks);
    Check(outer == L"slept 1500", "the outer fetch completes");
    Check(nested.nested_ran_while_outer_waited, "the posted message is handled during the wait");
    Check(nested.nested_result.rfind(L"GET /echo?nested\n", 0) == 0,
          "the nested fetch completes inside the outer one");
    Check(nested.ticks >= 10, "the timer keeps ticking during the wait");

    // Blocking, not spinning: the thread uses a small share of the wait.
    FILETIME created, exited, kernel_before, user_before, kernel_after, user_after;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel_before, &user_before);
    const ULONGLONG start = GetTickCount64();
    TextOf(HttpGet(server + L"/slow?ms=1000", kResponseText));
    const ULONGLONG elapsed = GetTickCount64() - start;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel_after, &user_after);
    auto ticks = [](FILETIME time) {
        return ULARGE_INTEGER{{time.dwLowDateTime, time.dwHighDateTime}}.QuadPart;
    };
    const ULONGLONG cpu_ms =
        (ticks(kernel_after) - ticks(kernel_before) + ticks(user_after) - ticks(user_before)) /
        10000;
    std::printf("  thread CPU during a %llu ms wait: %llu ms\n", elapsed, cpu_ms);
    Check(cpu_ms * 4 < elapsed, "the wait does not spin");

    // A 10 ms timer whose ticks take 20 ms keeps a WM_TIMER pending at every
    // look at the queue; the wait still tests its limit. (The ticks turn fast
    // after 15 s, so that a wait that never looks ends anyway.)
    nested.slow_ticks_until = GetTickCount64() + 15000;
    SetTimer(window, 1, 10, nullptr);
    const ULONGLONG slow_start = GetTickCount64();
    VARIANT slow = internal::Fetch(L"get", dead_server + L"/echo", nullptr, kResponseText, 2000);
    const ULONGLONG slow_elapsed = GetTickCount64() - slow_start;
    KillTimer(window, 1);
    VariantClear(&slow);
    std::printf("  server down with slow ticks, 2 s limit: %llu ms\n", slow_elapsed);
    Check(slow_elapsed < 2500, "slow ticks do not hold the wait past its limit");

    DestroyWindow(window);
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
    TestMessagesAreDispatchedWhileWaiting();

    CoUninitialize();
    std::printf("%d failed\n", failures);
    return failures == 0 ? 0 : 1;
}
