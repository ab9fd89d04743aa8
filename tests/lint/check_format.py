#!/usr/bin/env python3
"""Fails when a C++ file tracked or added in the tree is not clang-format clean."""
import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def sources():
    out = subprocess.run(["git", "ls-files", "-co", "--exclude-standard", "*.cc", "*.h", "*.cpp"],
                         cwd=ROOT, text=True, capture_output=True, check=True).stdout
    return [f for f in out.split() if os.path.exists(os.path.join(ROOT, f))]


def main():
    bad = []
    for f in sources():
        r = subprocess.run(["clang-format", "--dry-run", "--Werror", f], cwd=ROOT, capture_output=True, text=True)
        if r.returncode != 0:
            bad.append(f)
    for f in bad:
        print("not formatted:", f)
    print(f"{len(bad)} of {len(sources())} files need clang-format")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
