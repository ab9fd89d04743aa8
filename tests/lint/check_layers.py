#!/usr/bin/env python3
"""Keeps the portable code portable: only the Win32 layer (src/win/) and files named
*_win.cc / *_win.h may include Windows headers."""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WINDOWS_HEADERS = re.compile(r'#\s*include\s*[<"](windows|winbase|wininet|winhttp|winuser|wingdi|objbase|objidl|'
                             r'gdiplus|shlobj|shellapi|commctrl|iphlpapi|wbemidl|comdef|tchar|atl\w*|afx\w*)\.h[>"]',
                             re.IGNORECASE)


def is_win32_file(rel):
    name = os.path.basename(rel)
    stem = os.path.splitext(name)[0]
    return rel.startswith("src/win/") or stem.endswith("_win")


def main():
    bad = []
    for base, _, files in os.walk(os.path.join(ROOT, "src")):
        for name in files:
            if not name.endswith((".cc", ".h", ".cpp")):
                continue
            rel = os.path.relpath(os.path.join(base, name), ROOT)
            if is_win32_file(rel):
                continue
            with open(os.path.join(ROOT, rel), encoding="utf-8", errors="replace") as f:
                for number, line in enumerate(f, 1):
                    if WINDOWS_HEADERS.search(line):
                        bad.append(f"{rel}:{number}: {line.strip()}")
    for b in bad:
        print("portable file includes a Windows header:", b)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
