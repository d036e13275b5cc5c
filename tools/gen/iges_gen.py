#!/usr/bin/env python3
"""Writes IGES files for the translator's samples, tests and benchmark, with what the DXF output
must hold (an independent computation of the geometry) as JSON beside them.

usage: iges_gen.py sample OUT.igs [--expect OUT.json] [--line-end lf|crlf|none]
                          [--form fixed|compressed|compressed-alt] [--delimiters PR]
       iges_gen.py compress IN.igs OUT.igs [--form compressed|compressed-alt]
                                       (a fixed-form file in the compressed form)
       iges_gen.py bulk N OUT.igs      (N entities: lines, arcs, copious data, points, on levels,
                                        some under transformation matrices)
"""
import json
import math
import random
import sys


def hollerith(s):
    return f"{len(s)}H{s}"


def num(v):
    if isinstance(v, int):
        return str(v)
    r = repr(float(v))
    return r.replace("e", "D") if "e" in r else r


class Iges:
    def __init__(self):
        self.entities = []  # (type, form, params, de fields)

    def add(self, type_, params, form=0, level=0, color=0, transform=0, status="00000000", font=1,
            weight=0):
        """Adds an entity; returns its directory entry pointer."""
        self.entities.append((type_, form, params, level, color, transform, status, font, weight))
        return 2 * len(self.entities) - 1

    def write(self, path, line_end="\n", units=2, scale=1.0, encoding="fixed", delimiters=",;"):
        pdl, rdl = delimiters
        records = []
        start = ["Written by tools/gen/iges_gen.py for the tesmar translator's samples."]
        g = [hollerith(pdl), hollerith(rdl), hollerith("sample"), hollerith(path.split("/")[-1]),
             hollerith("tesmar gen"), hollerith("1.0"), "32", "38", "6", "308", "15",
             hollerith("sample"), num(scale), str(units),
             hollerith({1: "INCH", 2: "MM", 6: "M"}.get(units, "MM")), "10", "2.0",
             hollerith("20261209.120000"), "1.0D-8", "1000.0", hollerith("tesmar"),
             hollerith("tesmar"), "11", "0", hollerith("20261209.120000")]
        gtext = pdl.join(g) + rdl
        for i, s in enumerate(start):
            records.append(f"{s:<72}S{i + 1:7d}")
        for i in range(0, len(gtext), 72):
            records.append(f"{gtext[i:i + 72]:<72}G{i // 72 + 1:7d}")
        de, pd = [], []
        for i, (t, form, params, level, color, transform, status, font, weight) in enumerate(self.entities):
            seq = 2 * i + 1
            # Break at delimiters; a Hollerith string longer than a line is cut where it must be.
            lines, cur, tokens = [], "", []
            body = [str(t)] + [p if isinstance(p, str) else num(p) for p in params]
            for k, tok in enumerate(body):
                tokens.append(tok + (pdl if k + 1 < len(body) else rdl))
            for tok in tokens:
                while len(cur) + len(tok) > 64:
                    if cur:
                        lines.append(cur)
                        cur = ""
                    else:
                        lines.append(tok[:64])
                        tok = tok[64:]
                cur += tok
            if cur:
                lines.append(cur)
            first = len(pd) + 1
            for line in lines:
                pd.append(f"{line:<64} {seq:7d}P{len(pd) + 1:7d}")
            f = lambda v: f"{v:>8}"
            de.append(f(t) + f(first) + f(0) + f(font) + f(level) + f(0) + f(transform) + f(0) +
                      f"{status:>8}" + f"D{seq:7d}")
            de.append(f(t) + f(weight) + f(color) + f(len(lines)) + f(form) + f("") + f("") + f("") +
                      f(0) + f"D{seq + 1:7d}")
        counts = (len(start), (len(gtext) + 71) // 72, len(de), len(pd))
        terminate = f"S{counts[0]:7d}G{counts[1]:7d}D{counts[2]:7d}P{counts[3]:7d}{'':40}T{1:7d}"
        if encoding != "fixed":
            data = compress(de, pd, encoding, rdl)
            with open(path, "w", newline="") as out:
                out.write(f"{'':72}C{1:7d}" + line_end)
                for r in records + data + [terminate]:
                    out.write(r + line_end)
            return
        records += de + pd + [terminate]
        with open(path, "w", newline="") as out:
            for r in records:
                assert len(r) == 80, r
                out.write(r + line_end)


def compress(de, pd, form, record_delimiter=";"):
    """The data of the compressed form from the fixed form's directory entries and parameter lines:
    each entry as the fields that changed since the previous one ("@N_value"), then its parameter
    lines (columns 1-64). The form "compressed" ends an entry with the record delimiter and gives
    the type as field 1; "compressed-alt" as other writers do, with ':' and field 11."""
    lines, last = [], [None] * 20
    terminator, type_field = (record_delimiter, 1) if form == "compressed" else (":", 11)
    for i in range(0, len(de), 2):
        fields = [de[i][8 * k:8 * k + 8] for k in range(9)] + [""] + \
                 [de[i + 1][8 * k:8 * k + 8] for k in range(9)] + [""]
        text = f"D{i + 1}"
        for n in range(1, 21):
            if n in (2, 10, 20, 12 - type_field) or fields[n - 1] == last[n - 1]:
                continue
            text += f"@{n}_" + fields[n - 1].strip()
        last = fields
        text += terminator
        while len(text) > 80:  # the rest goes on in the next line, from an '@'
            cut = text.rindex("@", 0, 80)
            lines.append(text[:cut])
            text = text[cut:]
        lines.append(text)
        first, count = int(fields[1] or 0), int(fields[13] or 0)
        lines += [r[:64].rstrip() for r in pd[max(first - 1, 0):max(first - 1 + count, 0)]]
    return lines


def compress_file(source, path, form):
    """A fixed-form IGES file (records ended by LF, CR LF or nothing) in the compressed form."""
    data = open(source, "rb").read().decode("latin-1")
    lines = data.splitlines() if "\n" in data[:82] else [data[i:i + 80] for i in range(0, len(data), 80)]
    sections = {c: [r[:80].ljust(80) for r in lines if r[72:73] == c] for c in "SGDPT"}
    with open(path, "w", newline="", encoding="latin-1") as out:
        for r in [f"{'':72}C{1:7d}"] + sections["S"] + sections["G"] + \
                compress(sections["D"], sections["P"], form) + sections["T"]:
            out.write(r + "\n")


def placed_conic(std, centre, turn):
    """The coefficients A..F of the conic a X^2 + b Y^2 + d X + e Y + f = 0 (std = a, b, d, e, f) of
    a frame turned by `turn` and moved to `centre`, and the map from that frame's points."""
    a, b, d, e, f = std
    c, s = math.cos(turn), math.sin(turn)
    (cx, cy), p, q, r = centre, a * c * c + b * s * s, 2 * c * s * (a - b), a * s * s + b * c * c
    su, sv = d * c - e * s, d * s + e * c
    coefficients = [p, q, r, -2 * p * cx - q * cy + su, -q * cx - 2 * r * cy + sv,
                    p * cx * cx + q * cx * cy + r * cy * cy - su * cx - sv * cy + f]
    return coefficients, lambda x, y: (cx + c * x - s * y, cy + s * x + c * y)


def matmul(a, b):
    return [[sum(a[i][k] * b[k][j] for k in range(3)) for j in range(3)] for i in range(3)]


def apply(m, p):
    r, t = m
    return [sum(r[i][k] * p[k] for k in range(3)) + t[i] for i in range(3)]


def compose(outer, inner):
    r = matmul(outer[0], inner[0])
    return (r, apply(outer, inner[1]))


IDENTITY = ([[1, 0, 0], [0, 1, 0], [0, 0, 1]], [0, 0, 0])


def matrix_params(m):
    r, t = m
    return [r[0][0], r[0][1], r[0][2], t[0], r[1][0], r[1][1], r[1][2], t[1],
            r[2][0], r[2][1], r[2][2], t[2]]


def rot_x(a):
    c, s = math.cos(a), math.sin(a)
    return [[1, 0, 0], [0, c, -s], [0, s, c]]


def rot_z(a):
    c, s = math.cos(a), math.sin(a)
    return [[c, -s, 0], [s, c, 0], [0, 0, 1]]


def sample(path, expect_path, line_end, encoding="fixed", delimiters=",;"):
    """Every supported entity, with the DXF entities they must become (world coordinates)."""
    w = Iges()
    exp = []  # {"type": DXF type, "points": [...world points...], "layer":..., "radius":...}
    name = w.add(406, [2, 1, hollerith("OUTLINE")], form=3, level=5)
    red = w.add(314, [90.0, 10.0, 5.0, hollerith("red")])
    # Lines, one on a named level with a defined colour, dashed and of weight 3 (of 10 gradations
    # up to 2 mm: 0.6 mm), one under chained matrices.
    w.add(110, [0.0, 0.0, 0.0, 100.0, 0.0, 0.0], level=5, color=-red, font=2, weight=3)
    first_line = len(exp)
    exp.append({"type": "LINE", "points": [[0, 0, 0], [100, 0, 0]], "layer": "OUTLINE", "color": 1,
                "linetype": "DASHED", "lineweight": 60})
    m1 = ([[1, 0, 0], [0, 1, 0], [0, 0, 1]], [10.0, 20.0, 0.0])
    m1_de = w.add(124, matrix_params(m1))
    m2 = (rot_z(math.pi / 6), [5.0, 0.0, 2.0])
    m2_de = w.add(124, matrix_params(m2), transform=m1_de)
    chain = compose(m1, m2)
    w.add(110, [1.0, 2.0, 3.0, 4.0, 5.0, 6.0], level=7, color=3, transform=m2_de)
    exp.append({"type": "LINE", "points": [apply(chain, [1, 2, 3]), apply(chain, [4, 5, 6])],
                "layer": "LEVEL_7", "color": 3})
    # A full circle and an arc in the XY plane, and an arc in a tilted plane.
    w.add(100, [2.5, 50.0, 50.0, 60.0, 50.0, 60.0, 50.0])
    exp.append({"type": "CIRCLE", "center": [50, 50, 2.5], "radius": 10.0})
    w.add(100, [0.0, 0.0, 0.0, 10.0, 0.0, 0.0, 10.0], font=4)
    exp.append({"type": "ARC", "center": [0, 0, 0], "radius": 10.0, "start": [10, 0, 0], "end": [0, 10, 0],
                "linetype": "CENTER"})
    tilt = (rot_x(math.pi / 3), [0.0, 0.0, 7.0])
    tilt_de = w.add(124, matrix_params(tilt))
    w.add(100, [1.0, 0.0, 0.0, 3.0, 0.0, 0.0, 3.0], transform=tilt_de)
    exp.append({"type": "ARC", "center": apply(tilt, [0, 0, 1]), "radius": 3.0,
                "start": apply(tilt, [3, 0, 1]), "end": apply(tilt, [0, 3, 1])})
    # Copious data: planar forms as LWPOLYLINE (one in a tilted plane), non-planar as POLYLINE.
    pts2 = [(0.0, 0.0), (10.0, 0.0), (10.0, 10.0), (0.0, 10.0)]
    w.add(106, [1, 4, 4.0] + [c for p in pts2 for c in p], form=11)
    exp.append({"type": "LWPOLYLINE", "points": [[x, y, 4.0] for x, y in pts2], "closed": False})
    w.add(106, [1, 4, 0.0] + [c for p in pts2 for c in p], form=63, transform=tilt_de)
    exp.append({"type": "LWPOLYLINE", "points": [apply(tilt, [x, y, 0]) for x, y in pts2], "closed": True})
    pts3 = [(0.0, 0.0, 0.0), (1.0, 2.0, 3.0), (4.0, 5.0, 6.5)]
    w.add(106, [2, 3] + [c for p in pts3 for c in p], form=12)
    exp.append({"type": "POLYLINE", "points": [list(p) for p in pts3]})
    w.add(106, [2, 3] + [c for p in pts3 for c in p], form=2)
    exp.append({"type": "POLYLINE", "points": [list(p) for p in pts3]})
    flat3 = [(0.0, 0.0, 1.5), (3.0, 0.0, 1.5), (3.0, 4.0, 1.5)]
    w.add(106, [3, 3] + [c for p in flat3 for c in p + (0.0, 0.0, 1.0)], form=3)
    exp.append({"type": "LWPOLYLINE", "points": [list(p) for p in flat3], "closed": False})
    w.add(106, [1, 2, 0.0, 1.0, 1.0, 2.0, 2.0], form=1)
    exp.append({"type": "LWPOLYLINE", "points": [[1, 1, 0], [2, 2, 0]], "closed": False})
    w.add(106, [2, 2, 1.0, 1.0, 1.0, 2.0, 2.0, 2.0], form=13)
    exp.append({"type": "POLYLINE", "points": [[1, 1, 1], [2, 2, 2]]})
    # A point, a conic (ellipse), a B-spline, a note.
    w.add(116, [7.0, 8.0, 9.0, 0])
    exp.append({"type": "POINT", "points": [[7, 8, 9]]})
    w.add(104, [1.0 / 16, 0.0, 1.0 / 4, 0.0, 0.0, -1.0, 0.0, 4.0, 0.0, -4.0, 0.0], form=1)
    exp.append({"type": "LWPOLYLINE", "count": 65})
    # An ellipse and a parabola out of standard position: the polyline's points lie on them.
    for std, centre, turn, t0, t1, at, form in (
            ((1 / 9, 1 / 2.25, 0, 0, -1), (2, 1), math.pi / 6, -math.pi / 3, 5 * math.pi / 6,
             lambda t: (3 * math.cos(t), 1.5 * math.sin(t)), 1),
            ((1, 0, 0, -4, 0), (-3, 2), math.pi / 4, -2, 3, lambda t: (t, t * t / 4), 3)):
        k, to = placed_conic(std, centre, turn)
        (x0, y0), (x1, y1) = to(*at(t0)), to(*at(t1))
        w.add(104, k + [0.5, x0, y0, x1, y1], form=form)
        exp.append({"type": "LWPOLYLINE", "count": 65, "conic": k, "ends": [[x0, y0, 0.5], [x1, y1, 0.5]]})
    # A degenerate hyperbola, X^2/4 - Y^2 = 0: two lines crossing at the origin, from one to the other.
    w.add(104, [0.25, 0.0, -1.0, 0.0, 0.0, 0.0, 0.5, 4.0, 2.0, 4.0, -2.0], form=2)
    exp.append({"type": "LWPOLYLINE", "points": [[4, 2, 0.5], [0, 0, 0.5], [4, -2, 0.5]]})
    knots = [0, 0, 0, 0, 1, 1, 1, 1]
    ctrl = [(0.0, 0.0, 0.0), (1.0, 2.0, 0.0), (3.0, 2.0, 0.0), (4.0, 0.0, 0.0)]
    w.add(126, [3, 3, 1, 0, 1, 0] + knots + [1, 1, 1, 1] + [c for p in ctrl for c in p] + [0, 1, 0, 0, 1])
    exp.append({"type": "SPLINE", "points": [list(p) for p in ctrl], "knots": knots})
    # Curves cut to their parameters V0, V1: the SPLINE is the whole curve's piece between them.
    def cut(degree, knots, weights, ctrl, v0, v1):
        w.add(126, [len(ctrl) - 1, degree, 1, 0, 0, 0] + knots + weights + [c for p in ctrl for c in p] +
              [v0, v1, 0, 0, 1])
        inner = [k for k in knots if v0 < k < v1]
        exp.append({"type": "SPLINE", "knots": [v0] * (degree + 1) + inner + [v1] * (degree + 1),
                    "range": [v0, v1], "whole": {"degree": degree, "knots": knots, "weights": weights,
                                                 "points": [list(p) for p in ctrl]}})
    cut(3, knots, [1.0, 2.0, 0.5, 1.0], ctrl, 0.25, 0.75)
    cut(2, [0, 0, 0, 1, 2, 3, 3, 3], [1.0, 0.5, 1.5, 1.0, 2.0], ctrl + [(6.0, 1.0, 0.0)], 0.5, 3.0)
    cut(3, [0, 0, 0, 0, 1, 1, 2, 2, 2, 2], [1.0] * 6, ctrl + [(5.0, 1.0, 0.0), (6.0, 3.0, 0.0)], 0.0, 1.5)
    w.add(212, [1, 5, 10.0, 2.5, 1, 0.0, 0.0, 0, 0, 20.0, 30.0, 0.0, hollerith("HELLO")])
    exp.append({"type": "TEXT", "points": [[20, 30, 0]], "text": "HELLO", "height": 2.5})
    # A composite curve of a line and an arc (its parts physically dependent).
    c1 = w.add(110, [0.0, 0.0, 0.0, 5.0, 0.0, 0.0], status="00010000")
    c2 = w.add(100, [0.0, 5.0, 5.0, 5.0, 0.0, 10.0, 5.0], status="00010000")
    w.add(102, [2, c1, c2])
    exp.append({"type": "LINE", "points": [[0, 0, 0], [5, 0, 0]]})
    exp.append({"type": "ARC", "center": [5, 5, 0], "radius": 5.0, "start": [5, 0, 0], "end": [10, 5, 0]})
    # A subfigure of one line, placed twice.
    s1 = w.add(110, [0.0, 0.0, 0.0, 1.0, 1.0, 0.5], status="00010200")
    sub = w.add(308, [0, hollerith("BOLT"), 1, s1], status="00000200")
    w.add(408, [sub, 100.0, 100.0, 0.0, 2.0])
    w.add(408, [sub, 200.0, 100.0, 0.0, 1.0])
    exp.append({"type": "INSERT", "points": [[100, 100, 0]], "scale": 2.0})
    exp.append({"type": "INSERT", "points": [[200, 100, 0]], "scale": 1.0})
    # Placed by the tilted matrix, and by a mirror: the block's line lands where the matrix puts it.
    mirror = ([[-1.0, 0.0, 0.0], [0.0, 1.0, 0.0], [0.0, 0.0, 1.0]], [50.0, 0.0, 0.0])
    for matrix, de, at, scale in ((tilt, tilt_de, [10.0, 0.0, 0.0], 1.0),
                                  (mirror, w.add(124, matrix_params(mirror), form=1), [0.0, 5.0, 0.0], 3.0)):
        w.add(408, [sub] + at + [scale], transform=de)
        line = [apply(matrix, [a + scale * b for a, b in zip(at, end)]) for end in ([0, 0, 0], [1, 1, 0.5])]
        exp.append({"type": "INSERT", "points": [apply(matrix, at)], "scale": scale, "members": [line]})
    exp.append({"type": "BLOCK LINE", "points": [[0, 0, 0], [1, 1, 0.5]]})
    # A group of the first line, and a trimmed surface over a surface the translator does not
    # read: its boundary curve is drawn.
    w.add(402, [1, 5], form=7)
    exp.append({"type": "GROUP", "of": [first_line]})  # members: their places in this list
    surf = w.add(128, [1, 1, 1, 1, 0, 0, 1, 0, 0, 0, 0, 1, 1, 0, 0, 1, 1, 1, 1, 1, 1, 1,
                       0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 1.0, 1.0, 0.0, 0, 1, 0, 1],
                 status="00010000")
    bnd = w.add(106, [1, 3, 0.0, 0.0, 0.0, 1.0, 0.0, 1.0, 1.0], form=12, status="00010000")
    cos = w.add(142, [1, surf, 0, bnd, 2], status="00010000")
    w.add(144, [surf, 1, 0, cos])
    exp.append({"type": "LWPOLYLINE", "points": [[0, 0, 0], [1, 0, 0], [1, 1, 0]], "closed": False})
    w.write(path, line_end, encoding=encoding, delimiters=delimiters)
    if expect_path:
        with open(expect_path, "w") as out:
            json.dump(exp, out, indent=1)


def bulk(n, path):
    """N entities for the benchmark: lines, arcs, copious data and points on 16 levels; one in
    ten under one of a few transformation matrices."""
    w = Iges()
    rng = random.Random(7)
    mats = [w.add(124, matrix_params((rot_z(a), [a * 10, 0.0, 0.0]))) for a in (0.1, 0.2, 0.3)]
    made = len(mats)
    while made < n:
        k = made % 4
        level = made % 16 + 1
        tr = mats[made % 3] if made % 10 == 0 else 0
        x, y = rng.uniform(-1000, 1000), rng.uniform(-1000, 1000)
        if k == 0:
            w.add(110, [x, y, 0.0, x + 5, y + 3, 0.0], level=level, transform=tr)
        elif k == 1:
            w.add(100, [0.0, x, y, x + 2, y, x, y + 2], level=level, transform=tr)
        elif k == 2:
            w.add(106, [1, 3, 0.0, x, y, x + 1, y, x + 1, y + 1], form=11, level=level, transform=tr)
        else:
            w.add(116, [x, y, 0.0, 0], level=level, transform=tr)
        made += 1
    w.write(path)


def main():
    args = sys.argv[1:]
    if len(args) >= 2 and args[0] == "sample":
        expect = args[args.index("--expect") + 1] if "--expect" in args else None
        le = args[args.index("--line-end") + 1] if "--line-end" in args else "lf"
        form = args[args.index("--form") + 1] if "--form" in args else "fixed"
        delimiters = args[args.index("--delimiters") + 1] if "--delimiters" in args else ",;"
        sample(args[1], expect, {"lf": "\n", "crlf": "\r\n", "none": ""}[le], form, delimiters)
    elif len(args) >= 3 and args[0] == "compress":
        compress_file(args[1], args[2], args[args.index("--form") + 1] if "--form" in args else "compressed")
    elif len(args) == 3 and args[0] == "bulk":
        bulk(int(args[1]), args[2])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
