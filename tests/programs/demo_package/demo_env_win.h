// Environment settings the demo programs take from tests.
#pragma once

#include <windows.h>

#include <string>

namespace installer::demo {

// The value of environment variable `name`, or empty when it is unset or too long.
std::wstring Env(const wchar_t* name);

// True when `name` is set (to anything).
bool HasEnv(const wchar_t* name);

// A duration given in seconds (fractions allowed) by variable `name`: `default_ms` when it
// is unset, `minimum_ms` when it is not a positive number, never more than an hour.
DWORD MillisecondsFromEnv(const wchar_t* name, DWORD default_ms, DWORD minimum_ms);

}  // namespace installer::demo
