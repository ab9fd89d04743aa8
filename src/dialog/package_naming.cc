// Package file name, setup arguments and command line.
#include "dialog/package_naming.h"

#include <cstdint>

#include "identity/partner_identity.h"
#include "base/text.h"

namespace installer {
namespace {

constexpr size_t kArgumentTailChars = 49;  // start-up reads at most 49 characters from the underscore

bool IsForbiddenInFileName(wchar_t c) {
    return c < 0x20 || c == L'\\' || c == L'/' || c == L':' || c == L'*' || c == L'?' || c == L'"' || c == L'<' ||
           c == L'>' || c == L'|';
}

}  // namespace

std::wstring PackageFileName(std::wstring_view sub_dir, std::wstring_view argument) {
    std::wstring name(sub_dir);
    for (wchar_t& c : name) {
        if (IsForbiddenInFileName(c)) {
            c = L'_';
        }
    }
    const size_t underscore = argument.find(L'_');
    if (underscore == std::wstring_view::npos) {
        return name + L".exe";
    }
    int32_t partner = 0;
    int64_t sub_partner = 0;
    ScanPartnerNumbers(argument.substr(underscore, kArgumentTailChars), partner, sub_partner);
    name += L"_";
    name += Int64ToWide(partner);
    name += L"_";
    name += Int64ToWide(sub_partner);
    name += Contains(argument, L"_pure") ? L"_pure.exe" : L".exe";
    return name;
}

std::wstring PackagePath(std::wstring_view folder, std::wstring_view sub_dir, std::wstring_view argument) {
    std::wstring path(folder);
    path += L"\\";
    path += PackageFileName(sub_dir, argument);
    return path;
}

std::wstring SetupArguments(bool start_at_boot, std::wstring_view install_dir) {
    std::wstring arguments = L" /S ";
    if (start_at_boot) {
        arguments += L"/RUN";
    }
    arguments += L" /D=";
    arguments += install_dir;
    return arguments;
}

std::wstring SetupCommandLine(std::wstring_view package_path, std::wstring_view arguments) {
    std::wstring command = L"\"";
    command += package_path;
    command += L"\"";
    command += arguments;
    return command;
}

std::wstring MainProgramPath(std::wstring_view install_dir) {
    std::wstring path(install_dir);
    // A directory that already ends in "\" (a drive root with an empty sub-directory)
    // would otherwise give "D:\\Main.exe".
    if (!path.empty() && path.back() == L'\\') {
        path.pop_back();
    }
    path += L"\\Main.exe";
    return path;
}

}  // namespace installer
