#!/usr/bin/env python3
"""Checks that a shared library exports exactly the names its headers declare with TESMAR_API."""
import re
import subprocess
import sys
from pathlib import Path


def declared(header_dir):
    names = set()
    for header in sorted(Path(header_dir).glob("*.h")):
        text = re.sub(r"/\*.*?\*/", " ", header.read_text(), flags=re.S)
        text = re.sub(r"//[^\n]*", " ", text)
        for decl in re.findall(r"TESMAR_API\b([^;]*);", text):
            decl = decl.strip()
            if decl.startswith("extern"):  # a variable: the name before '[' or the end
                m = re.search(r"(\w+)\s*(\[[^\]]*\]\s*)*$", decl)
            else:  # a function: the name before the first '('
                m = re.search(r"(\w+)\s*\(", decl)
            if m:
                names.add(m.group(1))
    return names


def exported(library):
    out = subprocess.run(["nm", "-D", "--defined-only", library], check=True,
                         capture_output=True, text=True).stdout
    names = set()
    for line in out.splitlines():
        parts = line.split()
        if len(parts) == 3 and parts[1] in "TDBRVWiu":
            names.add(parts[2].split("@")[0])
    return names


def main():
    library, header_dir = sys.argv[1], sys.argv[2]
    want, have = declared(header_dir), exported(library)
    # Symbols the toolchain adds to every shared object.
    have -= {"_init", "_fini", "_edata", "_end", "__bss_start"}
    missing, extra = sorted(want - have), sorted(have - want)
    for name in missing:
        print("declared but not exported:", name)
    for name in extra:
        print("exported but not declared:", name)
    print(f"{len(want)} declared, {len(have)} exported")
    return 1 if missing or extra else 0


if __name__ == "__main__":
    sys.exit(main())
