// Checks of the setup run under Wine: the hold on a finished package refuses a writer and
// is released once the setup has started, the setup's exit code comes back, and a package
// changed after its check never starts. Arguments: a scratch folder and a program that
// ends with the code given by "--exit-code N" (the test driver's sample window). Prints one
// line per failed check and a summary; the exit code is the number of failures.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "dialog/setup_launch_win.h"
#include "download/package_verify.h"
#include "win/scoped_handle.h"
#include "check_count.h"

namespace {

using installer::win_checks::Check;

std::vector<uint8_t> ReadWhole(const std::wstring& path) {
    installer::win::ScopedFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::vector<uint8_t> bytes(file ? ::GetFileSize(file.Get(), nullptr) : 0);
    DWORD read = 0;
    if (!file || !::ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) {
        bytes.clear();
    }
    bytes.resize(read);
    return bytes;
}

bool WriteWhole(const std::wstring& path, const std::vector<uint8_t>& bytes) {
    installer::win::ScopedFileHandle file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

// Whether another writer could open the package now.
bool Writable(const std::wstring& path) {
    installer::win::ScopedFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE,
                                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return static_cast<bool>(file);
}

void TestSetupLaunch(const std::wstring& dir, const std::wstring& program) {
    using installer::SetupLaunch;
    using installer::SetupOutcome;
    const std::vector<uint8_t> bytes = ReadWhole(program);
    Check(!bytes.empty(), "the sample program is readable");
    const std::wstring package = dir + L"\\package.exe";
    Check(WriteWhole(package, bytes), "the package is written");
    const auto blocks = installer::BlockTableOf(bytes.data(), bytes.size());
    const std::wstring command = L"\"" + package + L"\" --exit-code 7";
    int progress_calls = 0;
    const SetupLaunch::ShowProgress progress = [&progress_calls](int) { ++progress_calls; };

    SetupLaunch launch;
    Check(launch.Lock(package) && launch.locked(), "the finished package is held");
    Check(!Writable(package), "the hold refuses a writer");
    const SetupOutcome ran = launch.Run(nullptr, package, command, blocks, {}, progress);
    Check(ran.kind == SetupOutcome::Kind::kExited, "the setup ran");
    Check(ran.code == 7, "the setup's exit code comes back");
    Check(!launch.locked() && Writable(package), "the hold is released once the setup has started");

    // Changed after the download: refused, nothing started.
    std::vector<uint8_t> changed = bytes;
    changed[changed.size() / 2] ^= 1;
    Check(WriteWhole(package, changed), "the package is changed");
    SetupLaunch refused;
    const SetupOutcome invalid = refused.Run(nullptr, package, command, blocks, {}, progress);
    Check(invalid.kind == SetupOutcome::Kind::kPackageInvalid, "a changed package is refused");
    Check(!refused.locked() && Writable(package), "a refused package is not held");

    // A package that is missing altogether: refused too, not started.
    ::DeleteFileW(package.c_str());
    SetupLaunch missing;
    Check(missing.Run(nullptr, package, command, blocks, {}, progress).kind == SetupOutcome::Kind::kPackageInvalid,
          "a missing package is refused");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::printf("usage: setup_launch_test SCRATCH_DIR PROGRAM\n");
        return 100;
    }
    TestSetupLaunch(argv[1], argv[2]);
    return installer::win_checks::Summary();
}
