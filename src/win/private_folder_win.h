// Folders of the current user that no other standard user can write to: where the
// installer keeps the package it starts (perhaps as administrator) and the record of the
// package descriptions it has accepted.
#pragma once

#include <windows.h>

#include <string>

namespace installer::win {

// The current user's security identifier as text ("S-1-5-21-..."); empty on failure.
std::wstring CurrentUserSid();

// The current user's local application data folder (CSIDL_LOCAL_APPDATA), created if
// missing; empty on failure.
std::wstring LocalAppDataFolder();

// The installer's own folder for `product` in the local application data:
// LocalAppDataFolder() + "\OnlineInstaller\" + product. Not created here; empty on failure.
std::wstring InstallerDataFolder(const std::wstring& product);

// The security descriptor every private folder gets (SDDL): owned by the user, full
// access for the user, Administrators and SYSTEM, inherited by what is made inside, and
// protected, so that nothing is inherited from the parent.
std::wstring PrivateFolderSddl(const std::wstring& user_sid);

// Creates `path` (and its missing parents, with the parents' default security) and gives
// it PrivateFolderSddl; an existing folder of the user's is given it again. Returns false
// with `*error` set when the folder cannot be made private (another owner, no rights).
bool EnsurePrivateFolder(const std::wstring& path, DWORD* error);

enum class Ownership { kMissing, kCurrentUser, kOther, kUnknown };

// Who owns the file or folder at `path`. Administrators and SYSTEM count as kOther: a file
// the installer made is owned by the user who ran it.
Ownership OwnerOf(const std::wstring& path);

// The security descriptor of `path` as SDDL (owner and DACL); empty on failure.
std::wstring SecurityDescriptorSddl(const std::wstring& path);

}  // namespace installer::win
