// CPU cost of waiting for a slow update service: creates "Quorvel.Detection",
// calls Updates late-bound and reports the CPU time the calling thread (and
// the whole process) spent, against the wall-clock time of the call.
//
//   detection_fetch_bench ACCOUNT APPNAME [ROUNDS]

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

double Seconds(const FILETIME& kernel, const FILETIME& user) {
    auto ticks = [](const FILETIME& t) {
        return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
}

double ThreadCpuSeconds() {
    FILETIME creation, exit, kernel, user;
    GetThreadTimes(GetCurrentThread(), &creation, &exit, &kernel, &user);
    return Seconds(kernel, user);
}

double ProcessCpuSeconds() {
    FILETIME creation, exit, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernel, &user);
    return Seconds(kernel, user);
}

double WallSeconds() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fputs("usage: detection_fetch_bench ACCOUNT APPNAME [ROUNDS]\n", stderr);
        return 2;
    }
    int rounds = argc > 3 ? _wtoi(argv[3]) : 3;
    if (rounds < 1) rounds = 1;
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
        VARIANT args[2];
        VariantInit(&args[0]);
        VariantInit(&args[1]);
        args[1].vt = VT_BSTR;
        args[1].bstrVal = SysAllocString(argv[1]);
        args[0].vt = VT_BSTR;
        args[0].bstrVal = SysAllocString(argv[2]);
        DISPPARAMS params{args, nullptr, 2, 0};
        VARIANT result;
        VariantInit(&result);

        const double wall0 = WallSeconds();
        const double thread0 = ThreadCpuSeconds();
        const double process0 = ProcessCpuSeconds();
        HRESULT hr = dispatch->Invoke(disp_id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                      &params, &result, nullptr, nullptr);
        const double thread = ThreadCpuSeconds() - thread0;
        const double process = ProcessCpuSeconds() - process0;
        const double wall = WallSeconds() - wall0;

        const double percent = wall > 0 ? 100.0 * thread / wall : 0;
        if (percent > worst_percent) worst_percent = percent;
        std::printf(
            "round %d: wait %.3f s, calling thread CPU %.3f s (%.2f %%), "
            "process CPU %.3f s (%.2f %%), reply %ls\n",
            round, wall, thread, percent, process, wall > 0 ? 100.0 * process / wall : 0,
            SUCCEEDED(hr) && result.vt == VT_BSTR ? result.bstrVal : L"<failed>");
        if (FAILED(hr)) status = 1;
        VariantClear(&result);
        VariantClear(&args[0]);
        VariantClear(&args[1]);
    }
    std::printf("calling thread CPU during the wait: worst %.2f %% of wall time (target < 5 %%)\n",
                worst_percent);
    dispatch->Release();
    CoUninitialize();
    return status;
}
