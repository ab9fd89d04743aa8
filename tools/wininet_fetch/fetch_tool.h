// Downloads the package a package description names with the block download engine over
// a given transport, then re-checks the file: the driver of the engine tests under Wine
// and of the benchmark.
#pragma once

#include <string>
#include <vector>

#include "download/range_transport.h"

namespace installer {

// Arguments: --ini DESCRIPTION --out PACKAGE [--url MIRROR]... [--workers N] [--max-run N]
// [--outage-budget-ms N] [--no-recheck] [--report] (--url replaces the description's mirrors;
// --max-run 1 asks for one block per request; --no-recheck skips reading the finished file
// back, which the benchmark does with its own digest; --report prints a line per mirror with
// what the engine measured and counted there). Prints one line per event and a summary.
// Returns 0 when the package is complete and verified, 1 when the download failed or the
// file does not verify, 2 on bad arguments.
int RunFetch(const std::vector<std::wstring>& args, IRangeTransport& transport);

}  // namespace installer
