#!/usr/bin/env python3
"""Every subcommand of the tool against the same bad arguments and files.

usage: tests/cli_table.py TESMAR SOURCE_DIR

Each row names a subcommand, arguments that work, the option whose value can go missing, which
argument is its input and which its output. Every row is run with an unknown option, a missing
value, a missing input, a directory, an unreadable input (as user nobody when the test runs as
root and can switch; otherwise said and skipped), standard output on /dev/full, output over its own
input and over an existing file; each must give the conventional exit status (1 the work failed,
2 a usage error), a diagnostic beginning "tesmar COMMAND: ", an input left as it was, and no file
left half-written beside the output.
"""
import gzip
import os
import shutil
import stat
import subprocess
import sys
import tempfile

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)


def main(tool, source):
    work = tempfile.mkdtemp(prefix="tesmar-cli.")
    os.chmod(work, 0o755)
    try:
        run_table(tool, source, work)
    finally:
        shutil.rmtree(work)
    for f in failures:
        print("FAILED:", f)
    print(f"{len(failures)} failures")
    return 1 if failures else 0


def run(tool, args, stdout=subprocess.PIPE, user=None, stdin=subprocess.DEVNULL):
    command = [tool, *args]
    if user is not None:
        command = ["setpriv", "--reuid", str(user), "--regid", str(user), "--clear-groups", *command]
    return subprocess.run(command, stdout=stdout, stderr=subprocess.PIPE, stdin=stdin, timeout=300)


def fixtures(tool, source, work):
    f = lambda name: os.path.join(work, name)
    samples = os.path.join(source, "samples")
    for args in (["ddl", "compile", f"{samples}/geometry.ddl", "-o", f("g.ddf")],
                 ["ddl", "compile", f"{samples}/translate.ddl", "-o", f("t.ddf")],
                 ["model", f("g.ddf"), "--entities", "20", "--memory", "--save", f("g.sav")],
                 ["msgfile", "build", f"{samples}/messages_de.lst", "-o", f("de.msg")]):
        r = run(tool, args)
        assert r.returncode == 0, (args, r.stderr)
    with open(f("m.map"), "wb") as out:
        assert run(tool, ["map", "dump"], stdout=out).returncode == 0
    with gzip.open(f("part.gz"), "wb") as out:
        out.write(b"a compressed part\n")
    with open(f("names.txt"), "w") as out:
        out.write("plain text\n")
    shutil.copy(f"{samples}/iges/sample.igs", f("part.igs"))
    shutil.copy(f"{samples}/translate.cfg", f("t.cfg"))
    shutil.copy(f"{samples}/messages_de.lst", f("de.lst"))
    for name in os.listdir(work):
        os.chmod(f(name), 0o644)
    return f


# (command words, arguments; IN the input, OUT the output, missing: the option whose value goes)
def table(f):
    return [
        (["version"], [], None),
        (["status"], ["0x30006"], None),
        (["messages"], ["OTM"], None),
        (["loop"], ["--point", "1,1", "0,0", "4,0", "0,4"], "--point"),
        (["extract"], ["IN:part.gz", "-o", "OUT:part.txt"], "-o"),
        (["ddl", "compile"], [f"IN:{f('x.ddl')}", "-o", "OUT:x.ddf"], "-o"),
        (["ddl", "show"], ["IN:g.ddf"], "--entity"),
        (["model"], ["IN:g.ddf", "--entities", "10", "--memory"], "--entities"),
        (["model"], ["IN:g.ddf", "--entities", "10", "--memory", "--save", "OUT:n.sav"], "--save"),
        (["model", "show"], ["IN:g.sav", "--schema", "g.ddf"], "--schema"),
        (["model", "convert"], ["IN:g.sav", "OUT:c.sav", "--schema", "g.ddf", "--binary"], "--schema"),
        (["model", "check"], ["IN:g.sav", "--schema", "g.ddf"], "--schema"),
        (["model", "dump"], ["IN:g.sav", "--schema", "g.ddf", "--entity", "1"], "--entity"),
        (["model", "edit"], ["IN:g.sav", "--schema", "g.ddf", "--entity", "1", "-o", "OUT:e.sav"], "-o"),
        (["text"], ["IN:names.txt", "--from", "utf-8"], "--from"),
        (["config", "check"], ["IN:t.cfg", "--schema", "t.ddf"], "--schema"),
        (["map", "dump"], [], None),
        (["map", "check"], ["IN:m.map"], None),
        (["translate"], ["IN:part.igs", "-o", "OUT:part.dxf"], "--config"),
        (["msgfile", "build"], ["IN:de.lst", "-o", "OUT:x.msg"], "-o"),
        (["msgfile", "show"], ["IN:de.msg"], None),
        (["filetype"], ["IN:part.igs"], None),
    ]


def run_singles(tool, f):
    """The conventions that are not per subcommand."""
    r = run(tool, [])
    check(r.returncode == 2 and r.stdout == b"" and b"Commands:" in r.stderr, "no arguments: usage on stderr, 2")
    r = run(tool, ["bogus"])
    check(r.returncode == 2 and r.stdout == b"" and r.stderr.startswith(b"tesmar: unknown command"),
          f"an unknown command: {r.stderr!r}")
    r = run(tool, ["--version"])
    check(r.returncode == 0 and r.stdout.startswith(b"tesmar 8."), f"--version: {r.stdout!r}")
    # Standard input and output: a schema compiled from - to -, and shown from -.
    with open(f("x.ddl"), "rb") as source:
        r = run(tool, ["ddl", "compile", "-", "-o", "-"], stdin=source)
    check(r.returncode == 0 and len(r.stdout) > 0, f"ddl compile - -o -: {r.stderr!r}")
    r = subprocess.run([tool, "ddl", "show", "-"], input=r.stdout, capture_output=True)
    check(r.returncode == 0 and b"entity point" in r.stdout, f"ddl show -: {r.stderr!r}")
    # A control byte in the input is shown escaped, never raw.
    with open(f("bad.ddl"), "wb") as bad:
        bad.write(b'database "x" version 1 release 0;\n\x7f\n')
    r = run(tool, ["ddl", "compile", f("bad.ddl"), "-o", f("bad.ddf")])
    check(r.returncode == 1 and b"\x7f" not in r.stderr and b"\\x7F" in r.stderr, f"a control byte: {r.stderr!r}")
    # A schema without the model's types fails before a paged file prints its statistics.
    r = run(tool, ["model", f("t.ddf")])
    check(r.returncode == 1 and r.stdout == b"" and b'has no entity type "point"' in r.stderr,
          f"model of another schema: {r.stdout!r} {r.stderr!r}")
    # A write cut short by a file size limit keeps the earlier output whole and leaves nothing beside it.
    with open(f("limited.dxf"), "wb") as o:
        o.write(b"earlier")
    r = subprocess.run(["sh", "-c", 'trap "" XFSZ; ulimit -f 4; exec "$0" "$@"', tool, "translate", "-f",
                        f("part.igs"), "-o", f("limited.dxf")], capture_output=True)
    with open(f("limited.dxf"), "rb") as o:
        check(r.returncode == 1 and o.read() == b"earlier" and b"File too large" in r.stderr,
              f"a write cut short: {r.returncode} {r.stderr!r}")
    check(not [n for n in os.listdir(os.path.dirname(f("x"))) if n.startswith(".limited")], "a write cut short left a file")
    # Coordinates whose products overflow: the right answers, and the area said to be too large.
    r = run(tool, ["loop", "1e155,1e155", "-1e155,1e155", "0,-1e155"])
    check(r.returncode == 1 and b"origin: inside" in r.stdout and b"beyond the range" in r.stderr,
          f"loop overflow: {r.stdout!r} {r.stderr!r}")


def leftovers(work, before):
    return sorted(n for n in os.listdir(work) if n not in before and (n.endswith("~") or ".tmp" in n))


def run_table(tool, source, work):
    f = fixtures(tool, source, work)
    shutil.copy(os.path.join(source, "samples", "geometry.ddl"), f("x.ddl"))
    os.mkdir(f("dir"))
    can_switch = os.geteuid() == 0 and shutil.which("setpriv") is not None
    if not can_switch:
        print("skipped: the unreadable-input cases (they need root and setpriv to run as nobody)")
    run_singles(tool, f)
    base = set(os.listdir(work))
    for words, args, missing in table(f):
        name = " ".join(words)
        prefix = f"tesmar {words[0]}: "
        outputs = [a[4:] for a in args if a.startswith("OUT:")]

        def expand(input_path=None, output_path=None):
            out = []
            for a in args:
                if a.startswith("IN:"):
                    out.append(input_path or f(a[3:]))
                elif a.startswith("OUT:"):
                    out.append(output_path or f(a[4:]))
                elif a in ("g.ddf", "t.ddf"):
                    out.append(f(a))
                else:
                    out.append(a)
            return words + out

        def expect(result, status, text, what):
            err = result.stderr.decode(errors="replace")
            check(result.returncode == status, f"{name}: {what}: exit {result.returncode}, not {status}: {err!r}")
            if text is not None:
                lines = [line for line in err.splitlines() if text in line]
                check(lines, f"{name}: {what}: no '{text}' in {err!r}")
                check(all(line.startswith(prefix) for line in lines),
                      f"{name}: {what}: no '{prefix}' prefix: {err!r}")

        def cleanup():
            for o in outputs:
                if os.path.exists(f(o)):
                    os.remove(f(o))

        r = run(tool, expand())
        expect(r, 0, None, "the working arguments")
        cleanup()
        expect(run(tool, expand() + ["--bogus"]), 2, "UGN_OPTS_UNKNOWN_OPTION", "an unknown option")
        expect(run(tool, words + ["--bogus"] + expand()[len(words):]), 2, "--bogus", "an unknown option first")
        if missing is not None:
            full = expand()
            if missing in full:  # the option moves to the end, without its value
                at = full.index(missing)
                full = full[:at] + full[at + 2:]
            expect(run(tool, full + [missing]), 2, "UGN_OPTS_VALUE_MISSING", "a missing value")
        cleanup()
        inputs = [a[3:] for a in args if a.startswith("IN:")]
        if inputs:
            input_path = inputs[0] if inputs[0].startswith("/") else f(inputs[0])
            with open(input_path, "rb") as i:
                original = i.read()
            as_line = words == ["filetype"]  # `filetype` says it on the file's line, as `file` does
            r = run(tool, expand(input_path=f("missing")))
            expect(r, 1, None if as_line else "No such file or directory", "a missing input")
            r = run(tool, expand(input_path=f("dir")))
            expect(r, 1, None if as_line else "is a directory", "a directory")
            if can_switch:
                locked = f("locked")
                shutil.copy(input_path, locked)
                os.chmod(locked, 0)
                r = run(tool, expand(input_path=locked), user=65534)  # inputs are read before outputs
                expect(r, 1, None if as_line else "Permission denied", "an unreadable input")
                os.remove(locked)
            if outputs:
                r = run(tool, expand(output_path=input_path))
                expect(r, 1, "the output would overwrite the input", "output over its input")
                with open(input_path, "rb") as i:
                    check(i.read() == original, f"{name}: output over its input changed the input")
                # An existing output is kept without -f, replaced with it.
                with open(f(outputs[0]), "wb") as o:
                    o.write(b"earlier")
                expect(run(tool, expand()), 1, "already exists", "an existing output")
                with open(f(outputs[0]), "rb") as o:
                    check(o.read() == b"earlier", f"{name}: an existing output was changed without -f")
                expect(run(tool, expand() + ["-f"]), 0, None, "an existing output with -f")
                with open(f(outputs[0]), "rb") as o:
                    check(o.read() != b"earlier", f"{name}: -f did not replace the output")
                cleanup()
                # Output in a directory that is not there: the user's name, not a temporary one.
                r = run(tool, expand(output_path=f("nowhere/out")))
                expect(r, 1, "nowhere/out: No such file or directory", "an output in a missing directory")
        # Standard output that cannot be written.
        with open("/dev/full", "wb") as full:
            if outputs:
                r = run(tool, expand(output_path="-"), stdout=full)
                expect(r, 1, "standard output: No space left on device", "output - on /dev/full")
            elif words != ["model", "edit"]:
                r = run(tool, expand(), stdout=full)
                expect(r, 1, "standard output: ", "standard output on /dev/full")
        cleanup()
        left = leftovers(work, base)
        check(not left, f"{name}: files left beside the outputs: {left}")
        for n in left:
            os.remove(f(n))


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
