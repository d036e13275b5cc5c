#!/usr/bin/env python3
"""Checks the library's layering (src/layers.txt) against what the build produced.

    check_layers.py SOURCE_DIR BUILD_DIR     checks; exit status 1 on any finding
    check_layers.py SOURCE_DIR --diagram     prints the diagram docs/architecture.md must show

Findings: a module whose objects use a symbol defined by a module it may not use (an upward or
sideways use); a symbol defined by two modules; a source file that reaches another module's
internal header by a relative path (the include paths of the build stop every other way); a
folder of src/ missing from src/layers.txt; and a diagram in docs/architecture.md that is not the
one src/layers.txt gives.
"""
import glob
import os
import re
import subprocess
import sys

DEFINED = set("TDBRC")  # strong definitions; weak ones (inline functions, templates) are shared


def read_layers(source):
    """[(group, uses)] bottom first, and {module: modules it may use}, itself included."""
    lines, allowed = [], {}
    with open(os.path.join(source, "src", "layers.txt")) as f:
        for number, line in enumerate(f, 1):
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            head, _, tail = line.partition(":")
            group, uses = head.split(), tail.split()
            may = set(group)
            for used in uses:
                if used not in allowed:
                    sys.exit(f"src/layers.txt:{number}: '{used}' is used before it is listed")
                may |= allowed[used]
            for module in group:
                allowed[module] = may
            lines.append((group, uses))
    return lines, allowed


def levels(lines):
    level = {}
    for group, uses in lines:
        here = 1 + max((level[u] for u in uses), default=-1)
        for module in group:
            level[module] = here
    return level


def diagram(lines):
    level = levels(lines)
    rows = []
    for n in range(max(level.values()), -1, -1):
        names = []
        for group, _ in lines:
            if level[group[0]] == n:
                names.append(" = ".join(group))
        rows.append(f"    {n:2d}  " + "   ".join(names))
    rows.append("")
    for group, uses in reversed(lines):
        rows.append(f"    {' = '.join(group):<16}uses {' '.join(uses) if uses else '(the system only)'}")
    return "\n".join(rows) + "\n"


def documented_diagram(source):
    text = open(os.path.join(source, "docs", "architecture.md")).read()
    m = re.search(r"<!-- layers -->\n```\n(.*?)```\n<!-- /layers -->", text, re.S)
    return m.group(1) if m else None


def symbols(objects):
    defined, used = set(), set()
    out = subprocess.run(["nm", "--defined-only", *objects], capture_output=True, text=True,
                         check=True).stdout
    for line in out.splitlines():
        parts = line.split()
        if len(parts) == 3 and parts[1] in DEFINED:
            defined.add(parts[2])
    out = subprocess.run(["nm", "--undefined-only", *objects], capture_output=True, text=True,
                         check=True).stdout
    for line in out.splitlines():
        parts = line.split()
        if len(parts) == 2 and parts[0] == "U":
            used.add(parts[1])
    return defined, used


def main():
    source = sys.argv[1]
    lines, allowed = read_layers(source)
    if sys.argv[2] == "--diagram":
        sys.stdout.write(diagram(lines))
        return 0
    build = sys.argv[2]
    findings = []

    for folder in sorted(glob.glob(os.path.join(source, "src", "*", ""))):
        name = os.path.basename(os.path.dirname(folder))
        if name not in allowed:
            findings.append(f"src/{name} is not listed in src/layers.txt")

    owner, uses = {}, {}
    for module in allowed:
        objects = glob.glob(os.path.join(build, "CMakeFiles", f"tesmar_{module}.dir", "**", "*.o"),
                            recursive=True)
        if not objects:
            findings.append(f"no objects of module {module} under {build}")
            continue
        defined, used = symbols(objects)
        uses[module] = used
        for symbol in defined:
            if symbol in owner and owner[symbol] != module:
                findings.append(f"{symbol} is defined by both {owner[symbol]} and {module}")
            owner[symbol] = module
    for module, used in sorted(uses.items()):
        for symbol in sorted(used):
            other = owner.get(symbol)
            if other is not None and other not in allowed[module]:
                findings.append(f"{module} uses {other}: {symbol}")

    relative = re.compile(r'#\s*include\s*"\.\./')
    for path in sorted(glob.glob(os.path.join(source, "src", "*", "*"))):
        with open(path, errors="replace") as f:
            for number, line in enumerate(f, 1):
                if relative.search(line):
                    findings.append(f"{os.path.relpath(path, source)}:{number}: relative include")

    shown = documented_diagram(source)
    if shown != diagram(lines):
        findings.append("docs/architecture.md does not show the layers of src/layers.txt "
                        "(print them with: tests/check_layers.py . --diagram)")

    for finding in findings:
        print(finding)
    if not findings:
        print(f"layers: {len(allowed)} modules, {len(owner)} symbols, no use outside the layers")
    return 1 if findings else 0


if __name__ == "__main__":
    sys.exit(main())
