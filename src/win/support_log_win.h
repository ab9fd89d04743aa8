// The process's support log on Windows: one SupportLog for the whole run, its file in the
// user's temporary folder, and the few facts about the machine it starts with. Every
// function here is safe from any thread and never fails the caller: without a file the
// log is simply not written.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/support_log.h"

namespace installer::win {

// The run's log (held in memory until OpenProcessLogFile).
SupportLog& ProcessLog();
// Milliseconds since the process started its log (the first call of any function here).
int64_t ProcessElapsedMs();
// An ordinary line / a line about how the run ended (see SupportLog).
void LogEvent(std::string_view text);
void LogFinal(std::string_view text);

// Creates the log file in the temporary folder, named after the product's sub-directory,
// the partner and the start time (SupportLogFileName), deletes the product's older logs
// beyond the last runs kept, and writes what the log holds. Only the first call acts.
// False when there is no file (a read-only or full temporary folder): nothing else changes.
bool OpenProcessLogFile(std::wstring_view sub_dir, int32_t partner, int64_t sub_partner);
// The path of the log file, empty before OpenProcessLogFile succeeded.
std::wstring ProcessLogPath();

// "Windows 10.0.19045 (x64)" and the like, as the system reports itself.
std::string WindowsVersionText();
// The system's proxy setting as WinINet uses it ("direct" without one), without any login.
std::string ProxySettingText();

}  // namespace installer::win
