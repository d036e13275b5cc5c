#!/usr/bin/env python3
"""Writes the manual page tesmar(1) from the tool's own help texts, or checks the committed one.

usage: tools/gen/man_page.py TESMAR [--check] [--readme README.md] OUT.1

The page holds `tesmar --help` and every `tesmar COMMAND --help` as they are, so the three never
disagree; --check compares OUT.1 with what would be written (and, with --readme, that the README's
command table names every command and no other) and exits 1 on a difference.
"""
import re
import subprocess
import sys


def run(tool, *args):
    return subprocess.run([tool, *args], check=True, capture_output=True, text=True).stdout


def commands(overview):
    names = []
    in_list = False
    for line in overview.splitlines():
        if line == "Commands:":
            in_list = True
        elif in_list and line.startswith("  "):
            names.append(line.split()[0])
        elif in_list:
            break
    return names


def roff(text):
    out = []
    for line in text.rstrip("\n").split("\n"):
        line = line.replace("\\", "\\e").replace("-", "\\-")
        if line.startswith((".", "'")):
            line = "\\&" + line
        out.append(line)
    return "\n".join(out)


def page(tool):
    overview = run(tool, "--help")
    version = run(tool, "--version").split()[1]
    parts = [
        f'.TH TESMAR 1 "" "Tesmar {version}" "User Commands"',
        ".SH NAME",
        "tesmar \\- the command of the Tesmar library for CAD data-exchange translators",
        ".SH SYNOPSIS",
        ".B tesmar",
        ".I COMMAND",
        "[\\fIARGS\\fR...]",
        ".br",
        ".B tesmar",
        "\\-\\-help | \\-\\-version",
        ".SH DESCRIPTION",
        ".nf",
        roff(overview),
        ".fi",
        ".SH CONVENTIONS",
        "Options may stand before, between or after the operands; \\fB\\-\\-\\fR ends them.",
        "\\fB\\-\\fR names standard input (or, after \\fB\\-o\\fR, standard output) where a command",
        "reads or writes a file. Outputs are written under a temporary name beside them and",
        "renamed into place, never over an input; an existing output is replaced only with",
        "\\fB\\-f\\fR (\\fB\\-\\-force\\fR). Diagnostics go to standard error as",
        "\"tesmar COMMAND: ...\", library failures by their symbolic names.",
        ".SH EXIT STATUS",
        "0 success, 1 the work failed (a failed write of standard output included), 2 a usage error.",
        ".SH COMMANDS",
    ]
    for name in commands(overview):
        parts += [f".SS tesmar {name}", ".nf", roff(run(tool, name, "--help")), ".fi"]
    return "\n".join(parts) + "\n", commands(overview)


def readme_commands(path):
    names = set()
    for line in open(path, encoding="utf-8"):
        m = re.match(r"\| `tesmar (\w+)", line)
        if m:
            names.add(m.group(1))
    return names


def main(argv):
    args = [a for a in argv[1:] if not a.startswith("--")]
    check = "--check" in argv
    readme = None
    if "--readme" in argv:
        readme = argv[argv.index("--readme") + 1]
        args.remove(readme)
    tool, out = args
    text, names = page(tool)
    if not check:
        with open(out, "w", encoding="utf-8") as f:
            f.write(text)
        return 0
    status = 0
    with open(out, encoding="utf-8") as f:
        if f.read() != text:
            print(f"{out} differs from the help texts: run tools/gen/man_page.py {tool} {out}")
            status = 1
    if readme is not None:
        listed = readme_commands(readme)
        if listed != set(names):
            print(f"README's command table names {sorted(listed)}, `tesmar --help` {sorted(names)}")
            status = 1
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv))
