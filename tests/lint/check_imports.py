#!/usr/bin/env python3
"""Fails when a Windows executable imports a DLL that Windows does not ship."""
import re
import subprocess
import sys

SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "shlwapi.dll", "ole32.dll",
    "oleaut32.dll", "comctl32.dll", "comdlg32.dll", "wininet.dll", "ws2_32.dll", "iphlpapi.dll", "gdiplus.dll",
    "msimg32.dll", "msvcrt.dll", "oleacc.dll", "version.dll", "crypt32.dll", "bcrypt.dll", "uxtheme.dll", "wbemuuid.dll",
    "rpcrt4.dll", "secur32.dll", "winmm.dll", "imm32.dll", "api-ms-win-crt-runtime-l1-1-0.dll",
}


def main(paths):
    bad = False
    for path in paths:
        out = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", path], capture_output=True, text=True,
                             check=True).stdout
        dlls = sorted({d.lower() for d in re.findall(r"DLL Name: (\S+)", out)})
        print(path, "imports", ", ".join(dlls))
        foreign = [d for d in dlls if d not in SYSTEM_DLLS]
        if foreign:
            print("  not system DLLs:", ", ".join(foreign))
            bad = True
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
