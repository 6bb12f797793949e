#pragma once
// Calls through IDispatch by name, the way a late-bound automation client
// (a script, a VB-style client) makes them.

#include <oaidl.h>
#include <windows.h>

#include <string>
#include <vector>

namespace kt::test {

// A text or a Boolean, as a script passes it.
struct Argument {
    Argument(const wchar_t* value) : text(value) {}
    Argument(std::wstring value) : text(std::move(value)) {}
    Argument(bool value) : isFlag(true), flag(value) {}
    std::wstring text;
    bool isFlag = false, flag = false;
};

DISPID dispidOf(IDispatch* object, const wchar_t* name);

// Invokes a method or property (DISPATCH_...) with the arguments in the order
// a caller writes them; a text that comes back goes to `result`.
HRESULT invoke(IDispatch* object, const wchar_t* name, WORD kind, const std::vector<Argument>& arguments = {},
               std::wstring* result = nullptr);

}  // namespace kt::test
