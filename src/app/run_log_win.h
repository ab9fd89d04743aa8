// The support log's first lines: which build runs, on which Windows, at which scale,
// through which proxy, for which partner.
#pragma once

#include <string>

namespace installer {

// Writes the start-of-run lines to the process's support log. Never fails.
void LogStartOfRun(const std::wstring& argument);

}  // namespace installer
