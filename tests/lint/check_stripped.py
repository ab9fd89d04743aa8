#!/usr/bin/env python3
"""The shipped executable carries no debug information nor symbol table, and the debug information it was
built with is kept beside it (FILE.debug, named in the executable's .gnu_debuglink)."""
import re
import subprocess
import sys


def sections(objdump, path):
    out = subprocess.run([objdump, "-h", path], capture_output=True, text=True, check=True).stdout
    return {m.group(1): int(m.group(2), 16) for m in re.finditer(r"^\s*\d+\s+(\S+)\s+([0-9a-f]+)", out, re.M)}


def main():
    if len(sys.argv) != 3:
        print("usage: check_stripped.py OBJDUMP EXE")
        return 2
    objdump, exe = sys.argv[1], sys.argv[2]
    problems = []
    shipped = sections(objdump, exe)
    debug_in_exe = sorted(name for name in shipped if name.startswith(".debug"))
    if debug_in_exe:
        problems.append(f"{exe} carries debug sections: {', '.join(debug_in_exe)}")
    symbols = subprocess.run([objdump, "-t", exe], capture_output=True, text=True).stdout
    if re.search(r"^\[\s*\d+\]", symbols, re.M):
        problems.append(f"{exe} carries its symbol table")
    if ".gnu_debuglink" not in shipped:
        problems.append(f"{exe} does not name its debug file (.gnu_debuglink)")
    try:
        kept = sections(objdump, exe + ".debug")
        if kept.get(".debug_info", 0) == 0:
            problems.append(f"{exe}.debug holds no .debug_info")
    except (subprocess.CalledProcessError, FileNotFoundError):
        problems.append(f"{exe}.debug is missing or unreadable")
    for p in problems:
        print(p)
    if not problems:
        print(f"{exe}: no debug sections; debug information in {exe}.debug")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
