// A host program as a browser would be one: creates the installed component by
// its ProgID, opens the composition window, and prints which DLL serves it.
// Built for both architectures; the installer tests run it.

#include <windows.h>

#include <cstdio>

#include "foundation/handles.h"
#include "support/late_bound.h"

int main() {
    kt::ComApartment apartment;
    CLSID classId{};
    kt::ComPtr<IDispatch> mailer;
    if (FAILED(CLSIDFromProgID(L"KT_EMailer.cEmail", &classId)) ||
        FAILED(CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, mailer.putVoid()))) {
        std::puts("FAIL: KT_EMailer.cEmail cannot be created");
        return 1;
    }
    const HRESULT sent = kt::test::invoke(mailer.get(), L"SendEMail", DISPATCH_METHOD,
                                          {L"page", L"subject", L"", L"127.0.0.1", L"reader@example.com"});
    const HWND window = FindWindowW(nullptr, L"Ardwyn E-Mail Message");
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (FAILED(sent) || !window || !IsWindowVisible(window) || owner != GetCurrentProcessId()) {
        std::puts("FAIL: SendEMail opened no window");
        return 1;
    }
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(GetModuleHandleW(L"KT_EMailer.dll"), path, MAX_PATH);
    std::printf("served by %ls\n", path);
    return 0;
}
