#!/usr/bin/env python3
"""Writes a resource script that builds every file of a skin folder into the executable,
each as RCDATA named after its file in upper case (the name the installer looks up).

usage: skin_resources.py --skin DIR --out FILE.rc
"""
import argparse
import os
import re
import sys

# What the installer accepts as a resource name (see SkinResourceName): printable ASCII
# without blanks, quotes, colons or path separators.
NAME = re.compile(r'^[!#-9;-\[\]-~]+$')


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--skin", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    names = sorted(n for n in os.listdir(args.skin) if os.path.isfile(os.path.join(args.skin, n)))
    if not names:
        print(f"skin_resources: no files in {args.skin}", file=sys.stderr)
        return 1
    lines = ["// Generated from the default skin by src/skin/skin_resources.py; do not edit."]
    seen = set()
    for name in names:
        if not NAME.match(name) or name.strip(".") == "":
            print(f"skin_resources: {name!r} cannot be a resource name", file=sys.stderr)
            return 1
        upper = name.upper()
        if upper in seen:
            print(f"skin_resources: two files named {upper} in any case", file=sys.stderr)
            return 1
        seen.add(upper)
        path = os.path.abspath(os.path.join(args.skin, name)).replace("\\", "/")
        # A LANGUAGE line between entries: windres joins a file name and the next quoted
        # resource name into one string otherwise.
        lines += ["LANGUAGE 0, 0", f'"{upper}" RCDATA "{path}"']
    text = "\n".join(lines) + "\n"
    with open(args.out, "w", encoding="utf-8") as f:
        f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
