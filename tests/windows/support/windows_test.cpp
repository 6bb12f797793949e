#include "support/windows_test.h"

#include "KT_EMailer.h"
#include "component/class_factory.h"
#include "compose/frmEmail.h"

namespace kt::test {

MessageBoxRecorder::MessageBoxRecorder()
    : responder_([this](const MessageBoxRequest& request) {
          shown.push_back(request);
          if (answers.empty()) return IDOK;
          const int answer = answers.front();
          answers.pop_front();
          return answer;
      }) {}

WindowsTest::~WindowsTest() {
    for (const auto& caption : {kPickerCaption, kComposeCaption})
        for (HWND window : threadWindows(caption)) DestroyWindow(window);
}

std::wstring windowsPathOf(const std::string& buildPath) {
    // A cross build names Unix paths; under Wine drive Z: is the Unix root.
    const std::string path = !buildPath.empty() && buildPath[0] == '/' ? "Z:" + buildPath : buildPath;
    std::wstring result(path.begin(), path.end());
    for (auto& c : result)
        if (c == L'/') c = L'\\';
    return result;
}

std::wstring componentDllPath() { return windowsPathOf(KT_EMAILER_DLL); }

std::vector<HWND> threadWindows(const std::wstring& caption) {
    std::vector<HWND> found;
    for (HWND window = nullptr; (window = FindWindowExW(nullptr, window, nullptr, caption.c_str()));)
        if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) found.push_back(window);
    return found;
}

HWND findThreadWindow(const std::wstring& caption) {
    const auto found = threadWindows(caption);
    return found.empty() ? nullptr : found.front();
}

std::wstring windowText(HWND hwnd) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
    return text;
}

void pumpFor(std::chrono::milliseconds duration) {
    pumpUntil([] { return false; }, duration);
}

bool pumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (condition()) return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(std::min<long long>(left.count(), 10)),
                                  QS_ALLINPUT);
    }
}

namespace {
thread_local StepsOnTimer* t_steps = nullptr;
}

StepsOnTimer::StepsOnTimer(std::deque<std::function<void()>> steps, unsigned intervalMs) : steps_(std::move(steps)) {
    t_steps = this;
    timer_ = SetTimer(nullptr, 0, intervalMs, &StepsOnTimer::tick);
}

StepsOnTimer::~StepsOnTimer() {
    KillTimer(nullptr, timer_);
    t_steps = nullptr;
}

void CALLBACK StepsOnTimer::tick(HWND, UINT, UINT_PTR, DWORD) {
    if (!t_steps || t_steps->steps_.empty()) return;
    const auto step = std::move(t_steps->steps_.front());
    t_steps->steps_.pop_front();
    step();
}

ComPtr<IDispatch> newEmail() {
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(getClassObject(CLSID_cEmail, IID_IClassFactory, factory.putVoid()), S_OK);
    ComPtr<IDispatch> email;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, email.putVoid()), S_OK);
    return email;
}

frmEmail& sendEMail(IDispatch* email, const std::wstring& body, const std::wstring& to, const std::wstring& server,
                    std::vector<Argument> flags, const std::wstring& sender, const std::wstring& subject) {
    flags.insert(flags.begin(), {body, subject, to, server, sender});
    const auto before = threadWindows(kComposeCaption);
    EXPECT_EQ(invoke(email, L"SendEMail", DISPATCH_METHOD, flags), S_OK);
    for (HWND window : threadWindows(kComposeCaption))
        if (std::find(before.begin(), before.end(), window) == before.end()) return *formOf<frmEmail>(window);
    throw std::runtime_error("SendEMail opened no window");
}

void press(const FormControl& button) { SendMessageW(button.hwnd(), BM_CLICK, 0, 0); }

}  // namespace kt::test
