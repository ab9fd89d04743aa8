// Where the installer loads DLLs from: the system directory only, never the folder it was
// started from (usually a Downloads folder) nor the current directory.
#pragma once

#include <windows.h>

namespace installer {

// What RestrictDllSearchPath achieved.
enum class DllSearchRestriction {
    kSystemDirectoryOnly,     // SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) took effect
    kCurrentDirectoryRemoved  // only SetDllDirectoryW(L""): the executable's folder is still searched
};

// Restricts the default DLL search of the process to the system directory. Call it first in
// wWinMain, before anything loads a DLL on our behalf. Where SetDefaultDllDirectories is
// missing (Windows 7 without KB2533623) or fails, falls back to removing the current
// directory from the search; delay-loaded DLLs are then still loaded by full system path
// (LoadSystemLibrary). Never fails the process.
DllSearchRestriction RestrictDllSearchPath();

// Loads from the system directory, for the life of the process, the DLLs that system
// components load by bare name on the installer's behalf before it has loaded them itself:
// a message box shown before the window (the theme library draws it with AlphaBlend) would
// otherwise have msimg32 found by a search that some loaders make without the restriction
// above. Once loaded, a load by name binds to the module already in the process. Call it
// right after RestrictDllSearchPath. Never fails the process.
void PreloadSystemLibraries();

// Loads the DLL `name` (a bare file name such as "wininet.dll") from the system directory
// only, or returns null with the last error set. The caller owns the returned module
// reference. Side-by-side redirection (comctl32 version 6 from the manifest) still applies
// where LOAD_LIBRARY_SEARCH_SYSTEM32 is available.
HMODULE LoadSystemLibrary(const wchar_t* name);

// The fallback of LoadSystemLibrary where the search flags are missing: loads `name` (a bare
// file name) by its full path in the system directory, its dependencies searched from there
// first. Returns null with the last error set; the caller owns the module reference. No
// side-by-side redirection applies to a full path (comctl32 would be version 5).
HMODULE LoadFromSystemDirectoryPath(const wchar_t* name);

}  // namespace installer
