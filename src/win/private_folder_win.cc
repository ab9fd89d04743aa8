// Owner-only folders in the user's local application data.
#include "win/private_folder_win.h"

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <memory>

#include "win/scoped_handle.h"

namespace installer::win {
namespace {

struct LocalFreeDeleter {
    void operator()(void* memory) const { ::LocalFree(memory); }
};
using LocalMemory = std::unique_ptr<void, LocalFreeDeleter>;

// The current process's user SID, copied into `sid`; false on failure.
bool ReadUserSid(std::unique_ptr<BYTE[]>& buffer, PSID* sid) {
    HANDLE raw_token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw_token)) {
        return false;
    }
    ScopedKernelHandle token(raw_token);
    DWORD size = 0;
    ::GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
    if (size == 0) {
        return false;
    }
    buffer = std::make_unique<BYTE[]>(size);
    if (!::GetTokenInformation(token.Get(), TokenUser, buffer.get(), size, &size)) {
        return false;
    }
    *sid = reinterpret_cast<TOKEN_USER*>(buffer.get())->User.Sid;
    return true;
}

std::wstring SidText(PSID sid) {
    LPWSTR text = nullptr;
    if (!::ConvertSidToStringSidW(sid, &text)) {
        return {};
    }
    LocalMemory owner(text);
    return text;
}

bool CreateWithDescriptor(const std::wstring& path, const std::wstring& sddl, DWORD* error) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
        *error = ::GetLastError();
        return false;
    }
    LocalMemory owner(descriptor);
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
    if (::CreateDirectoryW(path.c_str(), &attributes)) {
        return true;
    }
    *error = ::GetLastError();
    return false;
}

// Gives the existing folder `path` the DACL of `sddl`, protected from inheritance.
bool ApplyDescriptor(const std::wstring& path, const std::wstring& sddl, DWORD* error) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
        *error = ::GetLastError();
        return false;
    }
    LocalMemory owner(descriptor);
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (!::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present) {
        *error = ERROR_INVALID_SECURITY_DESCR;
        return false;
    }
    std::wstring mutable_path = path;
    const DWORD result = ::SetNamedSecurityInfoW(mutable_path.data(), SE_FILE_OBJECT,
                                                 DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                                 nullptr, nullptr, dacl, nullptr);
    if (result != ERROR_SUCCESS) {
        *error = result;
        return false;
    }
    return true;
}

}  // namespace

std::wstring CurrentUserSid() {
    std::unique_ptr<BYTE[]> buffer;
    PSID sid = nullptr;
    return ReadUserSid(buffer, &sid) ? SidText(sid) : std::wstring();
}

std::wstring LocalAppDataFolder() {
    wchar_t path[MAX_PATH] = {};
    if (FAILED(
            ::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path))) {
        return {};
    }
    return path;
}

std::wstring InstallerDataFolder(const std::wstring& product) {
    const std::wstring base = LocalAppDataFolder();
    return base.empty() ? base : base + L"\\OnlineInstaller\\" + product;
}

std::wstring PrivateFolderSddl(const std::wstring& user_sid) {
    // OICI: what is created inside inherits the same three entries.
    return L"O:" + user_sid + L"D:P(A;OICI;FA;;;" + user_sid + L")(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
}

bool EnsurePrivateFolder(const std::wstring& path, DWORD* error) {
    const std::wstring sid = CurrentUserSid();
    if (sid.empty()) {
        *error = ::GetLastError();
        return false;
    }
    // The parents first, with the security they would get anyway.
    for (size_t slash = path.find(L'\\', 3); slash != std::wstring::npos; slash = path.find(L'\\', slash + 1)) {
        const std::wstring parent = path.substr(0, slash);
        if (!::CreateDirectoryW(parent.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
            *error = ::GetLastError();
            return false;
        }
    }
    const std::wstring sddl = PrivateFolderSddl(sid);
    if (CreateWithDescriptor(path, sddl, error)) {
        return true;
    }
    if (*error != ERROR_ALREADY_EXISTS) {
        return false;
    }
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        // A file or a link in its place: not a folder the user made for us.
        *error = ERROR_ALREADY_EXISTS;
        return false;
    }
    if (OwnerOf(path) != Ownership::kCurrentUser) {
        *error = ERROR_ACCESS_DENIED;
        return false;
    }
    return ApplyDescriptor(path, sddl, error);
}

Ownership OwnerOf(const std::wstring& path) {
    if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return Ownership::kMissing;
    }
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                                nullptr, &descriptor) != ERROR_SUCCESS) {
        return Ownership::kUnknown;
    }
    LocalMemory kept(descriptor);
    std::unique_ptr<BYTE[]> buffer;
    PSID user = nullptr;
    if (owner == nullptr || !ReadUserSid(buffer, &user)) {
        return Ownership::kUnknown;
    }
    return ::EqualSid(owner, user) ? Ownership::kCurrentUser : Ownership::kOther;
}

std::wstring SecurityDescriptorSddl(const std::wstring& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                nullptr, nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
        return {};
    }
    LocalMemory kept(descriptor);
    LPWSTR text = nullptr;
    if (!::ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr)) {
        return {};
    }
    LocalMemory text_owner(text);
    return text;
}

}  // namespace installer::win
