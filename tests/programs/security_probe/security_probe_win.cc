// security_probe: what the tests need to see of file security under Wine.
//
//   security_probe sddl PATH          prints the owner and DACL of PATH as SDDL, and the
//                                     current user's SID on a second line
//   security_probe plant PATH SDDL    creates the file PATH (a few bytes) with the security
//                                     descriptor SDDL, e.g. owned by another account
//
// Exit status 0 on success, 1 on failure (the Win32 error is printed), 2 on bad arguments.
#include <windows.h>
#include <sddl.h>

#include <cstdio>
#include <memory>
#include <string>

#include "base/text.h"
#include "win/private_folder_win.h"
#include "win/scoped_handle.h"

namespace {

struct LocalFreeDeleter {
    void operator()(void* memory) const { ::LocalFree(memory); }
};

void Print(const std::wstring& text) {
    std::printf("%s\n", installer::WideToUtf8(text).c_str());
}

int Sddl(const std::wstring& path) {
    const std::wstring sddl = installer::win::SecurityDescriptorSddl(path);
    if (sddl.empty()) {
        std::printf("error %lu\n", ::GetLastError());
        return 1;
    }
    Print(sddl);
    Print(installer::win::CurrentUserSid());
    return 0;
}

int Plant(const std::wstring& path, const std::wstring& sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
        std::printf("error %lu: not a security descriptor\n", ::GetLastError());
        return 1;
    }
    std::unique_ptr<void, LocalFreeDeleter> owner(descriptor);
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
    installer::win::ScopedFileHandle file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        std::printf("error %lu: cannot create\n", ::GetLastError());
        return 1;
    }
    static constexpr char kBytes[] = "planted";
    DWORD written = 0;
    if (!::WriteFile(file.Get(), kBytes, sizeof(kBytes) - 1, &written, nullptr)) {
        std::printf("error %lu: cannot write\n", ::GetLastError());
        return 1;
    }
    file.Close();
    // What the platform now says of it: the owner must be the one asked for.
    return Sddl(path);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && std::wstring(argv[1]) == L"sddl") {
        return Sddl(argv[2]);
    }
    if (argc == 4 && std::wstring(argv[1]) == L"plant") {
        return Plant(argv[2], argv[3]);
    }
    std::fprintf(stderr, "usage: security_probe sddl PATH | security_probe plant PATH SDDL\n");
    return 2;
}
