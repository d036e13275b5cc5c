#!/usr/bin/env python3
"""End-to-end checks of `tesmar translate`: the bundled sample in every record layout, compression
and IGES form reads to the same DXF file, which ezdxf (an independent reader) reads, audits clean
and finds the input's geometry in; settings, parameter defaults and saved models take effect;
damaged IGES files give located errors and a partial result, never a crash; and the IGES files
other programs wrote (../shared/data/realfiles/iges, when present) translate with a sound report.

usage: translate_test.py TESMAR PROJECT_DIR       (exit 77: ezdxf missing, the test is skipped)
"""
import gzip
import json
import os
import re
import subprocess
import sys
import tempfile
import zipfile

TESMAR, ROOT = sys.argv[1], sys.argv[2]
HERE = os.path.dirname(os.path.abspath(__file__))
GEN = os.path.join(ROOT, "tools", "gen", "iges_gen.py")
CHECK = os.path.join(HERE, "check_dxf.py")
failures = []


def run(*args):
    p = subprocess.run([TESMAR, "translate", *args], capture_output=True, text=True, timeout=300)
    if p.returncode < 0 or p.returncode > 2:
        failures.append(f"translate {args}: exit {p.returncode}\n{p.stderr[-2000:]}")
    return p


def check(dxf, expected=None):
    args = [sys.executable, CHECK, dxf] + ([expected] if expected else [])
    p = subprocess.run(args, capture_output=True, text=True)
    if p.returncode == 77:
        print(p.stdout.strip())
        sys.exit(77)
    if p.returncode != 0:
        failures.append(f"{dxf}: {p.stdout[-3000:]}{p.stderr[-2000:]}")
    return p.stdout


def expect(cond, what):
    if not cond:
        failures.append(what)


def main():
    tmp = tempfile.mkdtemp(prefix="tesmar-translate-test-")
    sample, exp = os.path.join(tmp, "s.igs"), os.path.join(tmp, "s.json")
    subprocess.run([sys.executable, GEN, "sample", sample, "--expect", exp], check=True)

    # The sample in every record layout, plain, gzip and zip: one DXF file, with the geometry.
    outputs = []
    for le in ("lf", "crlf", "none"):
        igs = os.path.join(tmp, f"s_{le}.igs")
        subprocess.run([sys.executable, GEN, "sample", igs, "--line-end", le], check=True)
        inputs = [igs, igs + ".gz", igs + ".zip"]
        with open(igs, "rb") as f, gzip.open(igs + ".gz", "wb") as g:
            g.write(f.read())
        with zipfile.ZipFile(igs + ".zip", "w", zipfile.ZIP_DEFLATED) as z:
            z.write(igs, "part.igs")
        for i, path in enumerate(inputs):
            out = os.path.join(tmp, f"s_{le}_{i}.dxf")
            p = run(path, "-o", out)
            expect(p.returncode == 0, f"{path}: exit {p.returncode}: {p.stdout}{p.stderr}")
            outputs.append(out)
    # The compressed form in both spellings (gzipped too), and with other delimiters: the same DXF
    # file again.
    for i, (form, le, delimiters) in enumerate((("compressed", "lf", ",;"), ("compressed-alt", "crlf", ",;"),
                                                ("compressed", "lf", "|!"))):
        igs = os.path.join(tmp, f"s_c{i}.igs")
        subprocess.run([sys.executable, GEN, "sample", igs, "--line-end", le, "--form", form,
                        "--delimiters", delimiters], check=True)
        with open(igs, "rb") as f, gzip.open(igs + ".gz", "wb") as g:
            g.write(f.read())
        for path in (igs, igs + ".gz"):
            out = path + ".dxf"
            p = run(path, "-o", out)
            expect(p.returncode == 0, f"{path}: exit {p.returncode}: {p.stdout}{p.stderr}")
            outputs.append(out)
    first = open(outputs[0], "rb").read()
    for out in outputs[1:]:
        expect(open(out, "rb").read() == first, f"{out} differs from {outputs[0]}")
    check(outputs[0], exp)
    with open(exp) as f:
        expected = json.load(f)

    # Settings: a scale from the command line doubles every coordinate; a mapping file's default
    # for TRN_SCALE does too; R2018 is written as asked.
    scaled = os.path.join(tmp, "scaled.json")
    doubled = []
    for e in expected:
        d = dict(e)
        if "conic" in d:
            d["scale"] = 2
        if "members" in d:
            d["members"] = [[[2 * c for c in p] for p in line] for line in d["members"]]
        for k in ("points", "center", "start", "end", "ends"):
            if k in d:
                d[k] = [[2 * c for c in p] for p in d[k]] if k in ("points", "ends") else [2 * c for c in d[k]]
        if "whole" in d:
            d["whole"] = dict(d["whole"], points=[[2 * c for c in p] for p in d["whole"]["points"]])
        for k in ("radius", "height"):
            if k in d:
                d[k] *= 2
        doubled.append(d)
    with open(scaled, "w") as f:
        json.dump(doubled, f)
    out = os.path.join(tmp, "scaled.dxf")
    p = run(sample, "-o", out, "-scale", "2", "-release", "R2018")
    expect(p.returncode == 0, f"-scale 2: {p.stderr}")
    check(out, scaled)
    expect(b"AC1032" in open(out, "rb").read(), "-release R2018 did not write AC1032")
    mapfile = os.path.join(tmp, "scale.map")
    with open(mapfile, "w") as f:
        f.write("TRN_SCALE = 2.0;\n")
    out = os.path.join(tmp, "mapped.dxf")
    p = run(sample, "-o", out, "--map", mapfile)
    expect(p.returncode == 0, f"--map: {p.stdout}{p.stderr}")
    check(out, scaled)

    # A mapping file switches lines off ("line ignore") and full circles into arcs.
    with open(mapfile, "w") as f:
        f.write('"line ignore";\n"IGES arc to ARC", COMMIT;\n')
    out = os.path.join(tmp, "off.dxf")
    p = run(sample, "-o", out, "--map", mapfile, "--report")
    listing = check(out)
    expect(p.returncode == 0 and " LINE=" not in listing and "CIRCLE" not in listing and "ARC=4" in listing,
           f"a mapping file's choices were not followed: {listing} {p.stdout}{p.stderr}")
    row = next((r.split() for r in p.stdout.splitlines() if r.split()[:2] == ["110", "line"]), [])
    expect(row[2:5] == ["4", "0", "2"],  # the two lines on their own; parts are not counted twice
           f"switched-off lines are not reported as skipped: {p.stdout}")

    # A configuration file; saved models; the report.
    out = os.path.join(tmp, "cfg.dxf")
    p = run(sample, "-o", out, "--config", os.path.join(ROOT, "samples", "translate.cfg"),
            "--save-model", tmp, "--report")
    expect(p.returncode == 0 and " 110 line " in p.stdout, f"--report: {p.stdout}{p.stderr}")
    for name in ("source.model", "target.model"):
        path = os.path.join(tmp, name)
        expect(os.path.exists(path) and open(path, "rb").read(11) == b"BEGIN_MODEL",
               f"--save-model wrote no {name}")

    # Refusals: not IGES, bad settings; no output is left behind.
    step = os.path.join(ROOT, "samples", "filetype", "step_two_schemas.stp")
    out = os.path.join(tmp, "never.dxf")
    p = run(step, "-o", out)
    expect(p.returncode == 1 and "not an IGES file: it is a STEP file" in p.stderr,
           f"STEP input: {p.returncode} {p.stderr}")
    p = run(sample, "-o", out, "-surfaces", "sometimes")
    expect(p.returncode == 1, f"a bad setting gave {p.returncode}")
    p = run(sample, "-o", out, "-bogus", "1")
    expect(p.returncode != 0, "an unknown setting was accepted")
    p = run(sample, "-o", out, "-scale", "1e5")  # no point: the value is passed over with an error
    expect(p.returncode == 1, f"a setting with a syntax error gave {p.returncode}")
    expect(not os.path.exists(out), "a refused run left an output")

    # Numbers that overflow once scaled: those entities are left out with an error; no "inf".
    out = os.path.join(tmp, "overflow.dxf")
    p = run(sample, "-o", out, "-scale", "1.0e307")
    data = open(out, "rb").read() if os.path.exists(out) else b""
    expect(p.returncode == 1 and "numbers overflow" in " ".join(p.stderr.split()) and data
           and not re.search(rb"^-?(inf|nan)", data, re.M | re.I), f"-scale 1.0e307: {p.returncode} {p.stderr[-800:]}")
    check(out)

    # Damaged files: located errors, a partial result that ezdxf reads, exit 1.
    text = open(sample).read().split("\n")
    d_first = next(i for i, r in enumerate(text) if r[72:73] == "D")
    p_first = next(i for i, r in enumerate(text) if r[72:73] == "P")

    def damage(name, records, where, *options):
        path = os.path.join(tmp, name + ".igs")
        with open(path, "w") as f:
            f.write("\n".join(records))
        out = os.path.join(tmp, name + ".dxf")
        p = run(path, "-o", out, *options)
        expect(p.returncode == 1 and where in " ".join((p.stderr + p.stdout).split()),  # unwrapped
               f"{name}: exit {p.returncode}, no '{where}' in {p.stdout[-500:]}{p.stderr[-1500:]}")
        if os.path.exists(out):
            check(out)

    def edit(i, col, value):
        r = list(text)
        r[i] = r[i][:col] + value + r[i][col + len(value):]
        return r

    damage("truncated", text[:p_first + 5], "Terminate")
    damage("letter", edit(d_first + 2, 72, "X"), "section letter")
    damage("sequence", edit(d_first + 4, 73, "     99"), "sequence number")
    damage("nowhere", edit(d_first + 2 * 8, 48, "     999"), "points to no directory entry")
    damage("itself", edit(d_first + 2 * 8, 48, "%8d" % 17), "points to the entry itself")
    damage("number", [r.replace("100.0,0.0,0.0;", "1x0.0,0.0,0.0;") for r in text], "is no number")
    damage("hollerith", [r.replace("5HHELLO", "9HHELLO") for r in text], "directory entry")
    damage("count", [r.replace("102,2,", "102,9,") for r in text], "goes beyond the data")
    damage("pd_range", edit(d_first + 1, 24, "    9999"), "lies outside the section")

    # Damaged compressed files: the same.
    ctext = open(os.path.join(tmp, "s_c0.igs")).read()
    for name, old, new, where in (
            ("c_field", "@15_0;", "@25_0;", "no field ('@', a number 1 to 20, '_') begins"),
            ("c_long", "@13_-3", "@13_123456789", "field 13 holds more than 8 characters"),
            ("c_number", "\nD5@", "\nD7@", "Data section, record 6: directory entry 7 where 5"),
            ("c_unended", "@15_0;", "@15_0", "directory entry 3 has no end"),
            ("c_stray", "\nD5@", "\nstray\nD5@", "no directory entry begins here"),
            ("c_count", "@14_1@", "@14_5@", "directory entry 1 counts 5 parameter lines; 1 follow"),
            ("c_wide", "3Hred;", "3Hred;" + " " * 50 + "x", "parameter data beyond column 64"),
            ("c_truncated", ctext[ctext.rindex("\nD"):], "", "it has no Terminate record")):
        damage(name, ctext.replace(old, new, 1).split("\n"), where)
    # A matrix that makes a line's numbers overflow, mapped without the scaling step.
    with open(mapfile, "w") as f:
        f.write('"IGES line to LINE", COMMIT;\n')
    damage("c_overflow", ctext.replace("124,1,0,0,10.0,", "124,1.0D308,0,0,10.0,").split("\n"),
           "numbers overflow once it is placed", "--map", mapfile)

    # Files other programs wrote.
    real = os.path.join(ROOT, "..", "shared", "data", "realfiles", "iges")
    if not os.path.isdir(real):
        print(f"{real} is absent: the files other programs wrote were not translated")
    else:
        for name in sorted(os.listdir(real)):
            path, out = os.path.join(real, name), os.path.join(tmp, name + ".dxf")
            p = run(path, "-o", out, "--report")
            expect("entities read" in p.stdout, f"{name}: no report: {p.stdout[-500:]}{p.stderr[-500:]}")
            expect(os.path.exists(out), f"{name}: no output")
            if os.path.exists(out):
                check(out)
            unsupported = int(p.stdout.split(" of unsupported types")[0].rsplit(" ", 1)[-1] or 0)
            expect(unsupported == 0 or "not translated (unsupported types):" in p.stdout,
                   f"{name}: unsupported entities not reported")
            print(f"{name}: exit {p.returncode}; " + p.stdout.splitlines()[0].split(": ", 1)[-1])
            if p.returncode == 0:  # in the compressed form: the same DXF file
                packed = os.path.join(tmp, name + ".c.igs")
                subprocess.run([sys.executable, GEN, "compress", path, packed], check=True)
                q = run(packed, "-o", packed + ".dxf")
                expect(q.returncode == 0 and open(packed + ".dxf", "rb").read() == open(out, "rb").read(),
                       f"{name} in the compressed form: exit {q.returncode}, or another DXF file")
    for f in failures:
        print("FAIL:", f)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
