// CPU cost of waiting for a slow update service: creates "Quorvel.Detection",
// calls Updates late-bound and reports the CPU time the calling thread (and
// the whole process) spent, against the wall-clock time of the call.
//
//   detection_fetch_bench ACCOUNT APPNAME [ROUNDS]

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <string>

namespace {

// Kernel and user time, in seconds, of the calling thread or of the whole process.
double CpuSeconds(bool thread) {
    FILETIME creation, exit, kernel, user;
    thread ? GetThreadTimes(GetCurrentThread(), &creation, &exit, &kernel, &user)
           : GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernel, &user);
    const auto ticks = [](const FILETIME& t) {
        return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
}

double WallSeconds() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration<double>(now).count();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fputs("usage: detection_fetch_bench ACCOUNT APPNAME [ROUNDS]\n", stderr);
        return 2;
    }
    const int rounds = std::max(1, argc > 3 ? _wtoi(argv[3]) : 3);
    if (FAILED(CoInitialize(nullptr))) return 1;

    CLSID clsid;
    IDispatch* dispatch = nullptr;
    if (FAILED(CLSIDFromProgID(L"Quorvel.Detection", &clsid)) ||
        FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                reinterpret_cast<void**>(&dispatch)))) {
        std::fputs("cannot create Quorvel.Detection (is Update.dll registered?)\n", stderr);
        CoUninitialize();
        return 1;
    }
    DISPID disp_id = 0;
    LPOLESTR name = const_cast<LPOLESTR>(L"Updates");
    dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &disp_id);

    int status = 0;
    double worst_percent = 0;
    for (int round = 1; round <= rounds; ++round) {
        VARIANT args[2]{}, result{};  // empty; the arguments in reverse order
        args[0].vt = args[1].vt = VT_BSTR;
        args[1].bstrVal = SysAllocString(argv[1]);
        args[0].bstrVal = SysAllocString(argv[2]);
        DISPPARAMS params{args, nullptr, 2, 0};

        const double wall0 = WallSeconds();
        const double thread0 = CpuSeconds(true), process0 = CpuSeconds(false);
        HRESULT hr = dispatch->Invoke(disp_id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                      &params, &result, nullptr, nullptr);
        const double thread = CpuSeconds(true) - thread0, process = CpuSeconds(false) - process0;
        const double wall = WallSeconds() - wall0;

        const double percent = wall > 0 ? 100.0 * thread / wall : 0;
        worst_percent = std::max(worst_percent, percent);
        std::printf(
            "round %d: wait %.3f s, calling thread CPU %.3f s (%.2f %%), "
            "process CPU %.3f s (%.2f %%), reply %ls\n",
            round, wall, thread, percent, process, wall > 0 ? 100.0 * process / wall : 0,
            SUCCEEDED(hr) && result.vt == VT_BSTR ? result.bstrVal : L"<failed>");
        if (FAILED(hr)) status = 1;
        for (VARIANT* each : {&result, &args[0], &args[1]}) VariantClear(each);
    }
    std::printf("calling thread CPU during the wait: worst %.2f %% of wall time (target < 5 %%)\n",
                worst_percent);
    dispatch->Release();
    CoUninitialize();
    return status;
}
