#!/usr/bin/python3
"""Fails when an executable imports, statically, a DLL that could be planted beside it.

The loader resolves static imports before the program runs, with the default search order
(the executable's folder first). Only KnownDLLs are safe there: the loader maps them from
the system directory whatever lies beside the executable. The list below holds DLLs that are
KnownDLLs on every supported version (Windows 7 through 11; wininet and gdiplus are not on
all of them, iphlpapi, msimg32, comctl32, version and bcrypt on none), plus ntdll, which is
mapped into every process before anything is searched. Everything else must be delay-loaded
(src/app/delayload) or loaded explicitly from the system directory.
"""

import argparse
import re
import subprocess
import sys

SAFE_STATIC_IMPORTS = frozenset({
    "ntdll.dll",
    "kernel32.dll",
    "user32.dll",
    "gdi32.dll",
    "advapi32.dll",
    "msvcrt.dll",
    "shell32.dll",
    "shlwapi.dll",
    "ole32.dll",
    "oleaut32.dll",
    "ws2_32.dll",
    "comdlg32.dll",
    "imm32.dll",
    "rpcrt4.dll",
})


def static_imports(objdump, exe):
    """Lower-case names of the DLLs in the import table of `exe`. (GNU ld leaves the delay
    import directory entry empty, so delay-loaded DLLs never show up here.)"""
    text = subprocess.run([objdump, "-p", exe], check=True, capture_output=True, text=True).stdout
    return sorted({match.group(1).lower() for match in re.finditer(r"^\s*DLL Name: (\S+)", text, re.M)})


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--objdump", required=True)
    parser.add_argument("exe")
    args = parser.parse_args()
    static = static_imports(args.objdump, args.exe)
    unsafe = sorted(set(static) - SAFE_STATIC_IMPORTS)
    if unsafe:
        print(f"{args.exe}: imports {', '.join(unsafe)} statically; add a .def in src/app/delayload "
              "and list it in installer_add_delay_imports", file=sys.stderr)
        return 1
    print(f"static imports, all KnownDLLs: {', '.join(static)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
