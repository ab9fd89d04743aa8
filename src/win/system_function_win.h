// Functions of system DLLs that only newer Windows versions export, looked up at run time
// so that the installer still starts on the older ones.
#pragma once

#include <windows.h>

namespace installer::win {

// The export `function_name` of the already loaded `module_name`, or null when this
// Windows lacks it. GetProcAddress returns a generic FARPROC; going through a void
// function pointer keeps -Wcast-function-type quiet about the deliberate conversion.
template <typename Function>
Function SystemFunction(const wchar_t* module_name, const char* function_name) {
    const HMODULE module = ::GetModuleHandleW(module_name);
    if (module == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(module, function_name)));
}

}  // namespace installer::win
