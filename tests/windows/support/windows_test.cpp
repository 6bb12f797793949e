#include "support/windows_test.h"

#include <sddl.h>

#include <fstream>
#include <sstream>

#include "KT_EMailer.h"
#include "addressbook/address_book_store.h"
#include "component/class_factory.h"
#include "compose/frmEmail.h"
#include "delivery/oauth/oauth_profiles.h"
#include "foundation/utf8.h"

namespace kt::test {

WindowsTest::WindowsTest()
    : responder_([this](const MessageBoxRequest& request) {
          shownBoxes.push_back(request);
          const int answer = boxAnswers.empty() ? IDOK : boxAnswers.front();
          if (!boxAnswers.empty()) boxAnswers.pop_front();
          return answer;
      }) {}

WindowsTest::~WindowsTest() {
    for (const auto& caption : {kPickerCaption, kComposeCaption})
        for (HWND window : threadWindows(caption)) DestroyWindow(window);
}

::testing::AssertionResult WindowsTest::noBox() const {
    if (shownBoxes.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << shownBoxes.size() << " boxes, the first: " << shownBoxes[0].text;
}

::testing::AssertionResult WindowsTest::oneBoxSays(const std::vector<std::wstring>& parts) const {
    if (shownBoxes.size() != 1) return ::testing::AssertionFailure() << shownBoxes.size() << " boxes";
    return holdsAll(shownBoxes[0].text, parts);
}

::testing::AssertionResult holdsAll(const std::wstring& text, const std::vector<std::wstring>& parts) {
    for (const auto& part : parts)
        if (text.find(part) == std::wstring::npos)
            return ::testing::AssertionFailure() << "no \"" << part << "\" in:\n" << text;
    return ::testing::AssertionSuccess();
}

void setRegistryString(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    RegSetKeyValueW(root, key.c_str(), name, REG_SZ, value.c_str(),
                    static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

std::wstring windowsPathOf(const std::string& buildPath) {
    std::wstring path = fromUtf8(buildPath[0] == '/' ? "Z:" + buildPath : buildPath);
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
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

bool closes(HWND window, std::chrono::milliseconds deadline) {
    return pumpUntil([window] { return !IsWindow(window); }, deadline);
}

void pumpFor(std::chrono::milliseconds duration) {
    pumpUntil([] { return false; }, duration);
}

bool pumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (MSG message;;) {
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

namespace {
thread_local StepsOnTimer* t_steps = nullptr;
}

StepsOnTimer::StepsOnTimer(std::deque<std::function<void()>> steps, unsigned intervalMs)
    : steps_(std::move(steps)), timer_(SetTimer(nullptr, 0, intervalMs, &StepsOnTimer::tick)) {
    t_steps = this;
}

StepsOnTimer::StepsOnTimer(std::function<void()> everyTick, unsigned intervalMs)
    : StepsOnTimer(std::deque<std::function<void()>>(), intervalMs) {
    everyTick_ = std::move(everyTick);
}

AnswerProbe::AnswerProbe(HWND window)
    : thread_([this, window] {
          while (asking_) {
              const auto asked = std::chrono::steady_clock::now();
              DWORD_PTR result = 0;
              SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result);
              const auto took = std::chrono::steady_clock::now() - asked;
              slowestMs_ = std::max<long long>(
                  slowestMs_, std::chrono::duration_cast<std::chrono::milliseconds>(took).count());
              Sleep(20);
          }
          ended_ = true;
      }) {}

AnswerProbe::~AnswerProbe() {
    if (thread_.joinable()) stop();
}

std::chrono::milliseconds AnswerProbe::stop() {
    asking_ = false;
    pumpUntil([this] { return ended_.load(); }, 10s);
    thread_.join();
    return std::chrono::milliseconds(slowestMs_);
}

StepsOnTimer::~StepsOnTimer() {
    KillTimer(nullptr, timer_);
    t_steps = nullptr;
}

void CALLBACK StepsOnTimer::tick(HWND, UINT, UINT_PTR, DWORD) {
    if (!t_steps) return;
    if (t_steps->steps_.empty()) {
        if (t_steps->everyTick_) t_steps->everyTick_();
        return;
    }
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

DISPID dispidOf(IDispatch* object, const wchar_t* name) {
    DISPID id = DISPID_UNKNOWN;
    auto* names = const_cast<LPOLESTR>(name);
    object->GetIDsOfNames(IID_NULL, &names, 1, LOCALE_USER_DEFAULT, &id);
    return id;
}

HRESULT invoke(IDispatch* object, const wchar_t* name, WORD kind, const std::vector<Argument>& arguments,
               std::wstring* result) {
    std::vector<VARIANT> raw(arguments.size());
    for (size_t i = 0; i < arguments.size(); ++i) {
        VARIANT& value = raw[arguments.size() - 1 - i];  // IDispatch takes them last first
        V_VT(&value) = arguments[i].isFlag ? VT_BOOL : VT_BSTR;
        if (arguments[i].isFlag)
            V_BOOL(&value) = arguments[i].flag ? VARIANT_TRUE : VARIANT_FALSE;
        else
            V_BSTR(&value) = Bstr(arguments[i].text).release();
    }
    DISPID put = DISPID_PROPERTYPUT;
    const bool isPut = kind == DISPATCH_PROPERTYPUT;
    DISPPARAMS parameters{raw.data(), isPut ? &put : nullptr, static_cast<UINT>(raw.size()), isPut ? 1u : 0u};
    VARIANT out;
    VariantInit(&out);
    const HRESULT hr = object->Invoke(dispidOf(object, name), IID_NULL, LOCALE_USER_DEFAULT, kind, &parameters,
                                      isPut ? nullptr : &out, nullptr, nullptr);
    if (result && V_VT(&out) == VT_BSTR) *result = Bstr::toString(V_BSTR(&out));
    VariantClear(&out);
    for (auto& value : raw) VariantClear(&value);
    return hr;
}

namespace {

std::wstring hexOf(DWORD value) {
    wchar_t text[16];
    swprintf(text, 16, L"%lX", value);
    return text;
}

// Moves a key of the current user to another name; false when there was none.
bool moveKey(const std::wstring& from, const std::wstring& to) {
    UniqueRegKey source, target;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, from.c_str(), 0, KEY_READ, source.put()) != ERROR_SUCCESS) return false;
    RegCreateKeyExW(HKEY_CURRENT_USER, to.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, target.put(), nullptr);
    RegCopyTreeW(source.get(), nullptr, target.get());
    source.reset();
    RegDeleteTreeW(HKEY_CURRENT_USER, from.c_str());
    return RegDeleteKeyW(HKEY_CURRENT_USER, from.c_str()) == ERROR_SUCCESS;
}

}  // namespace

AddressBookTest::AddressBookTest()
    : backup_(L"Software\\KT_EMailer Tests\\address book " + std::to_wstring(GetCurrentProcessId())),
      hadKey_(moveKey(kAddressBookKey, backup_)) {}

AddressBookTest::~AddressBookTest() {
    allowOnly(KEY_ALL_ACCESS);
    RegDeleteTreeW(HKEY_CURRENT_USER, kAddressBookKey);
    RegDeleteKeyW(HKEY_CURRENT_USER, kAddressBookKey);
    if (hadKey_) moveKey(backup_, kAddressBookKey);
}

void AddressBookTest::seed(const std::vector<std::wstring>& records) const {
    RegDeleteTreeW(HKEY_CURRENT_USER, kAddressBookKey);
    for (size_t i = 0; i < records.size(); ++i) setString(std::to_wstring(i), records[i]);
}

void AddressBookTest::setValue(const std::wstring& name, DWORD type, const void* data, DWORD size) const {
    RegSetKeyValueW(HKEY_CURRENT_USER, kAddressBookKey, name.c_str(), type, data, size);
}

void AddressBookTest::setString(const std::wstring& name, const std::wstring& text) const {
    setRegistryString(HKEY_CURRENT_USER, kAddressBookKey, name.c_str(), text);
}

std::map<std::wstring, std::wstring> AddressBookTest::stored() const {
    std::map<std::wstring, std::wstring> values;
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kAddressBookKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return values;
    wchar_t name[256], data[2048];
    for (DWORD i = 0, length = 256, size = sizeof data, type = 0;
         RegEnumValueW(key.get(), i, name, &length, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) ==
         ERROR_SUCCESS;
         ++i, length = 256, size = sizeof data)
        values[name] = type == REG_SZ ? std::wstring(data, wcsnlen(data, size / sizeof(wchar_t)))
                                      : L"<type " + std::to_wstring(type) + L">";
    return values;
}

void AddressBookTest::allowOnly(DWORD rights) const {
    UniqueRegKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kAddressBookKey, 0, nullptr, 0, WRITE_DAC, nullptr, key.put(), nullptr) !=
        ERROR_SUCCESS)
        return;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const std::wstring everyone = L"D:P(A;;0x" + hexOf(rights | READ_CONTROL) + L";;;WD)";
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(everyone.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        return;
    const UniqueLocalMemory owned(descriptor);
    EXPECT_EQ(RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, descriptor), ERROR_SUCCESS);
}

namespace {
const std::wstring kLocalhostProfile = std::wstring(kOAuthProfilesKey) + L"\\localhost";
}

ProviderProfile::ProviderProfile(const std::wstring& tokenEndpoint) {
    for (const auto& [name, value] : {std::pair{L"AuthorizationEndpoint", L"https://authorization.invalid/authorize"},
                                      std::pair{L"TokenEndpoint", tokenEndpoint.c_str()},
                                      std::pair{L"ClientId", L"kt-emailer"}, std::pair{L"Scope", L"smtp"}})
        setRegistryString(HKEY_CURRENT_USER, kLocalhostProfile, name, value);
}

ProviderProfile::~ProviderProfile() { RegDeleteTreeW(HKEY_CURRENT_USER, kLocalhostProfile.c_str()); }

Catcher::Catcher(const std::string& name) : directory(toUtf8(windowsPathOf(KT_SMTP_CATCHERS_DIR "/smtp-" + name))) {
    std::ifstream(directory + "\\port") >> port;
}

std::vector<std::wstring> Catcher::caught(const std::wstring& subject) const {
    std::vector<std::wstring> found;
    for (int n = 1;; ++n) {
        std::stringstream text;
        if (!(text << std::ifstream(directory + "\\spool\\" + std::to_string(n) + ".txt", std::ios::binary).rdbuf()))
            return found;
        if (fromUtf8(text.str()).find(L"Subject: " + subject + L"\n") != std::wstring::npos)
            found.push_back(fromUtf8(text.str()));
    }
}

std::vector<std::string> Catcher::signIns() const {
    std::ifstream log(directory + "\\sign-ins");
    std::vector<std::string> lines;
    for (std::string line; std::getline(log, line);) lines.push_back(line);
    return lines;
}

std::wstring uniqueSubject(const std::wstring& what) {
    return what + L" " + std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(GetCurrentProcessId());
}

}  // namespace kt::test
