#!/usr/bin/env python3
"""Keeps the layers of src/ visible:
- the portable code stays portable: only the Win32 layer (src/win/) and files named
  *_win.cc / *_win.h may include Windows headers;
- the folders form floors, from start-up down to the helpers: a folder includes only
  from itself and the floors below it, so no two folders depend on each other; folders
  that share a floor know nothing of each other."""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WINDOWS_HEADERS = re.compile(r'#\s*include\s*[<"](windows|winbase|wininet|winhttp|winuser|wingdi|objbase|objidl|'
                             r'gdiplus|shlobj|shellapi|commctrl|iphlpapi|wbemidl|comdef|tchar|atl\w*|afx\w*)\.h[>"]',
                             re.IGNORECASE)
PROJECT_INCLUDE = re.compile(r'#\s*include\s*"([a-z_]+)/')

# Top floor first; the folders of one floor stand side by side.
FLOORS = [["app"], ["dialog"], ["config"], ["skin", "download", "identity"], ["win"], ["base"]]
FOLDERS = [folder for floor in FLOORS for folder in floor]


def below(folder):
    """The folders `folder` may include from: itself and every lower floor."""
    level = next(i for i, floor in enumerate(FLOORS) if folder in floor)
    return {folder} | {f for floor in FLOORS[level + 1:] for f in floor}


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
            folder = rel.split(os.sep)[1] if rel.count(os.sep) >= 2 else None
            if folder is not None and folder not in FOLDERS:
                bad.append(f"{rel}: folder '{folder}' has no floor in tests/lint/check_layers.py")
                folder = None
            allowed = below(folder) if folder else set(FOLDERS)
            portable = not is_win32_file(rel)
            with open(os.path.join(ROOT, rel), encoding="utf-8", errors="replace") as f:
                for number, line in enumerate(f, 1):
                    if portable and WINDOWS_HEADERS.search(line):
                        bad.append(f"{rel}:{number}: portable file includes a Windows header: {line.strip()}")
                    m = PROJECT_INCLUDE.search(line)
                    if m and m.group(1) in FOLDERS and m.group(1) not in allowed:
                        bad.append(f"{rel}:{number}: {folder}/ includes from a floor above it or beside it: "
                                   f"{line.strip()}")
    for b in bad:
        print(b)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
