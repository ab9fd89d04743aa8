#!/usr/bin/python3
"""Fails when a delay-imported function's import slot does not lead to its load stub.

Code that calls through a dllimport declaration jumps through the slot __imp_<name>, which
must hold the address of the stub that loads the DLL on first call. A linker that drops the
stub leaves the slot null, and the first call jumps to address 0. Reads the link output's
symbol table; an executable without one (stripped) is reported and not checked.
"""

import argparse
import re
import subprocess
import sys


def exports(def_path, decorated):
    """Function names of a .def file, as the linker spells them in this build."""
    names = []
    with open(def_path, encoding="utf-8") as f:
        for line in f:
            m = re.match(r"^\s+([A-Za-z_]\w*)(@\d+)\s*$", line)
            if m:
                names.append("_" + m.group(1) + m.group(2) if decorated else m.group(1))
    return names


def sections(objdump, exe):
    """(vma, size, file offset) of each section of `exe`."""
    text = subprocess.run([objdump, "-h", exe], check=True, capture_output=True, text=True).stdout
    found = []
    for m in re.finditer(r"^\s*\d+\s+\S+\s+([0-9a-f]+)\s+([0-9a-f]+)\s+[0-9a-f]+\s+([0-9a-f]+)", text, re.M):
        size, vma, offset = (int(g, 16) for g in m.groups())
        found.append((vma, size, offset))
    return found


def read_pointer(data, sects, address, width):
    for vma, size, offset in sects:
        if vma <= address and address + width <= vma + size:
            start = offset + address - vma
            return int.from_bytes(data[start:start + width], "little")
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--nm", required=True)
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--pointer-size", type=int, required=True)
    parser.add_argument("exe")
    parser.add_argument("defs", nargs="+")
    args = parser.parse_args()

    listing = subprocess.run([args.nm, args.exe], capture_output=True, text=True).stdout
    symbols = {}
    for line in listing.splitlines():
        parts = line.split()
        if len(parts) == 3:
            symbols[parts[2]] = (int(parts[0], 16), parts[1])
    if not symbols:
        print(f"{args.exe}: no symbol table, delay-load stubs not checked")
        return 0

    with open(args.exe, "rb") as f:
        data = f.read()
    sects = sections(args.objdump, args.exe)
    bad = []
    checked = 0
    for def_path in args.defs:
        for name in exports(def_path, decorated=args.pointer_size == 4):
            slot = symbols.get("__imp_" + name)
            if slot is None:
                continue  # not called by this program
            checked += 1
            stub = symbols.get(name)
            target = read_pointer(data, sects, slot[0], args.pointer_size)
            if stub is None or stub[1] != "T" or not target or not stub[0] < target < stub[0] + 16:
                bad.append(f"{name} (slot holds {target:#x})" if target is not None else name)
    if bad:
        print(f"{args.exe}: delay-import slots that do not lead to their load stub: " + ", ".join(bad))
        return 1
    print(f"delay-load stubs in place for all {checked} delay-imported functions")
    return 0


if __name__ == "__main__":
    sys.exit(main())
