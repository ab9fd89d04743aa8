#!/usr/bin/env python3
"""What a Windows executable is made of: its file size, the size in the file of each PE
section, and its resources by kind (the skin's images and INI files, icons, the dialog,
the manifest, strings). With --max BYTES it fails (exit 1) when the file is larger.

usage: exe_breakdown.py [--max BYTES] FILE.exe
"""
import argparse
import os
import struct
import sys

RESOURCE_TYPES = {1: "cursor", 3: "icon", 4: "menu", 5: "dialog", 6: "strings", 10: "data", 12: "cursor group",
                  14: "icon group", 16: "version", 24: "manifest"}
RESOURCE_DIRECTORY = 2


class PeError(Exception):
    pass


def u16(data, at):
    return struct.unpack_from("<H", data, at)[0]


def u32(data, at):
    return struct.unpack_from("<I", data, at)[0]


def read_pe(data):
    """(sections, resource directory RVA): sections as (name, raw size, virtual address,
    raw offset, virtual size)."""
    if len(data) < 0x40 or data[:2] != b"MZ":
        raise PeError("not an MZ executable")
    pe = u32(data, 0x3C)
    if data[pe:pe + 4] != b"PE\0\0":
        raise PeError("no PE header")
    count = u16(data, pe + 6)
    symbols, symbol_count = u32(data, pe + 12), u32(data, pe + 16)
    optional_size = u16(data, pe + 20)
    optional = pe + 24
    magic = u16(data, optional)
    directories = optional + (96 if magic == 0x10B else 112)
    resource_rva = u32(data, directories + 8 * RESOURCE_DIRECTORY)
    sections = []
    table = optional + optional_size
    for i in range(count):
        at = table + 40 * i
        name = data[at:at + 8].rstrip(b"\0").decode("ascii", "replace")
        if name.startswith("/") and name[1:].isdigit() and symbols:
            # A long name (".eh_frame" from GNU ld) lives in the COFF string table.
            start = symbols + 18 * symbol_count + int(name[1:])
            name = data[start:data.index(b"\0", start)].decode("ascii", "replace")
        virtual_size, address, raw_size, raw_offset = struct.unpack_from("<IIII", data, at + 8)
        sections.append((name, raw_size, address, raw_offset, virtual_size))
    return sections, resource_rva


def rva_to_offset(sections, rva):
    for _name, raw_size, address, raw_offset, virtual_size in sections:
        if address <= rva < address + max(raw_size, virtual_size):
            return raw_offset + rva - address
    raise PeError(f"address {rva:#x} lies in no section")


def resource_entries(data, sections, resource_rva):
    """(type, name, size) of every resource: type a number or a name, name likewise."""
    if resource_rva == 0:
        return []
    base = rva_to_offset(sections, resource_rva)

    def entries(directory):
        named, numbered = u16(data, directory + 12), u16(data, directory + 14)
        for i in range(named + numbered):
            at = directory + 16 + 8 * i
            ident, target = u32(data, at), u32(data, at + 4)
            if ident & 0x80000000:
                name_at = base + (ident & 0x7FFFFFFF)
                length = u16(data, name_at)
                key = data[name_at + 2:name_at + 2 + 2 * length].decode("utf-16-le")
            else:
                key = ident
            yield key, target

    found = []
    for type_key, type_target in entries(base):
        for name_key, name_target in entries(base + (type_target & 0x7FFFFFFF)):
            for _language, language_target in entries(base + (name_target & 0x7FFFFFFF)):
                leaf = base + (language_target & 0x7FFFFFFF)
                found.append((type_key, name_key, u32(data, leaf + 4)))
    return found


def kind_of(type_key, name_key):
    if type_key == 10 and isinstance(name_key, str):
        extension = os.path.splitext(name_key)[1].lower()
        return {".png": "skin PNG images", ".jpg": "skin JPEG images", ".jpeg": "skin JPEG images",
                ".ini": "skin INI files"}.get(extension, "other data")
    return RESOURCE_TYPES.get(type_key, str(type_key))


def breakdown(path):
    with open(path, "rb") as f:
        data = f.read()
    sections, resource_rva = read_pe(data)
    kinds = {}
    for type_key, name_key, size in resource_entries(data, sections, resource_rva):
        count, total = kinds.get(kind_of(type_key, name_key), (0, 0))
        kinds[kind_of(type_key, name_key)] = (count + 1, total + size)
    return len(data), [(s[0], s[1]) for s in sections], kinds


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--max", type=int, help="fail when the file is larger than this many bytes")
    parser.add_argument("exe")
    args = parser.parse_args()
    try:
        size, sections, kinds = breakdown(args.exe)
    except (OSError, PeError, struct.error) as e:
        print(f"exe_breakdown: {args.exe}: {e}", file=sys.stderr)
        return 2
    print(f"{os.path.basename(args.exe)}: {size:,} bytes ({size / 1048576:.2f} MiB)")
    in_sections = sum(raw for _name, raw in sections)
    for name, raw in sections:
        print(f"  section {name:<16}{raw:>12,}  {100 * raw / size:5.1f} %")
    print(f"  headers and tail  {size - in_sections:>12,}")
    if kinds:
        print("  resources by kind (inside .rsrc):")
        for kind, (count, total) in sorted(kinds.items(), key=lambda item: -item[1][1]):
            print(f"    {kind:<20}{count:>4} {total:>12,}")
    if args.max is not None:
        verdict = "within" if size <= args.max else "OVER"
        print(f"  {verdict} the limit of {args.max:,} bytes")
        return 0 if size <= args.max else 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
