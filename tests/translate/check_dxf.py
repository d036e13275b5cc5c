#!/usr/bin/env python3
"""Reads a DXF file with ezdxf (an independent reader), audits it, and compares it with what it
must hold: the JSON the IGES generator wrote beside the sample (tools/gen/iges_gen.py), each
coordinate within 1e-9 relative.

usage: check_dxf.py OUT.dxf [EXPECTED.json]      exit 0 when it reads, audits clean and matches;
                                                 77 when ezdxf is not installed (the test skips)
"""
import json
import sys

try:
    import ezdxf
except ImportError:
    print("ezdxf is not installed: the DXF output was not checked by an independent reader")
    sys.exit(77)


def close(a, b):
    return all(abs(x - y) <= 1e-9 * max(1.0, abs(x), abs(y)) for x, y in zip(a, b)) and len(a) == len(b)


def points(e):
    t = e.dxftype()
    if t == "LINE":
        return [tuple(e.dxf.start), tuple(e.dxf.end)]
    if t in ("POINT",):
        return [tuple(e.dxf.location)]
    if t == "LWPOLYLINE":
        return [tuple(p) for p in e.vertices_in_wcs()]
    if t == "POLYLINE":
        return [tuple(v.dxf.location) for v in e.vertices]
    if t == "SPLINE":
        return [tuple(p) for p in e.control_points]
    if t in ("TEXT", "INSERT"):
        return [tuple(e.ocs().to_wcs(e.dxf.insert))]
    return []


def spline_at(degree, knots, weights, points, t):
    """The point at parameter t of a B-spline: de Boor's algorithm on the weighted control points."""
    p, k = degree, list(knots)
    weights = list(weights) or [1.0] * len(points)
    q = [[w * c for c in point] + [w] for point, w in zip(points, weights)]
    s = max(i for i in range(p, len(q)) if k[i] <= t and k[i] < k[i + 1])  # a span of some length
    d = [q[j + s - p] for j in range(p + 1)]
    for r in range(1, p + 1):
        for j in range(p, r - 1, -1):
            a = (t - k[j + s - p]) / (k[j + 1 + s - r] - k[j + s - p])
            d[j] = [(1 - a) * x + a * y for x, y in zip(d[j - 1], d[j])]
    return [c / d[p][3] for c in d[p][:3]]


def is_piece(e, want):
    """A SPLINE that is the piece of want["whole"] over want["range"], with the knots it must have."""
    if not close(list(e.knots), want["knots"]):
        return False
    (v0, v1), whole = want["range"], want["whole"]
    ts = [v0 + (v1 - v0) * i / 16 for i in range(17)]
    return all(close(spline_at(e.dxf.degree, e.knots, e.weights, e.control_points, t),
                     spline_at(whole["degree"], whole["knots"], whole["weights"], whole["points"], t))
               for t in ts)


def matches(e, want):
    t = want["type"].split()[-1]
    if e.dxftype() != t:
        return False
    if t in ("CIRCLE", "ARC"):
        center = e.ocs().to_wcs(e.dxf.center)
        if not close(center, want["center"]) or not close([e.dxf.radius], [want["radius"]]):
            return False
        if t == "ARC":
            return close(e.start_point, want["start"]) and close(e.end_point, want["end"])
        return True
    if "whole" in want:
        return is_piece(e, want)
    got = points(e)
    if "conic" in want:  # every point on the conic (its coefficients of unscaled points), the ends
        (a, b, c, d, f, g), k = want["conic"], want.get("scale", 1)
        on = all(abs(a * x * x + b * x * y + c * y * y + d * x + f * y + g) <=
                 1e-9 * (abs(a * x * x) + abs(b * x * y) + abs(c * y * y) + abs(d * x) + abs(f * y) + abs(g))
                 for x, y in ((px / k, py / k) for px, py, _ in got))
        return on and len(got) == want["count"] and close(got[0], want["ends"][0]) and close(got[-1], want["ends"][1])
    if "count" in want:
        return len(got) == want["count"]
    if len(got) != len(want["points"]) or not all(close(g, w) for g, w in zip(got, want["points"])):
        return False
    if "closed" in want and bool(e.closed) != want["closed"]:
        return False
    if "text" in want and (e.dxf.text != want["text"] or not close([e.dxf.height], [want["height"]])):
        return False
    if "scale" in want and not close([e.dxf.xscale], [want["scale"]]):
        return False
    if "members" in want:  # the block's lines where the insert puts them (ezdxf's own transform)
        lines = [v for v in e.virtual_entities() if v.dxftype() == "LINE"]
        if len(lines) != len(want["members"]) or not all(
                close(v.dxf.start, a) and close(v.dxf.end, b) for v, (a, b) in zip(lines, want["members"])):
            return False
    if "knots" in want and not close(list(e.knots), want["knots"]):
        return False
    defaults = {"layer": "0", "color": 256, "linetype": "BYLAYER", "lineweight": -1}
    return all(e.dxf.get(k, defaults.get(k)) == want[k] for k in ("layer", "color", "linetype", "lineweight")
               if k in want)


def main():
    doc = ezdxf.readfile(sys.argv[1])
    auditor = doc.audit()
    failures = [f"audit: {e.message}" for e in auditor.errors]
    entities = list(doc.modelspace())
    for block in doc.blocks:
        if not block.name.startswith("*"):
            entities += list(block)
    if len(sys.argv) > 2:
        expected = json.load(open(sys.argv[2]))
        for want in (w for w in expected if w["type"] == "GROUP"):  # members by their places
            of = [expected[i] for i in want["of"]]
            if not any(len(g) == len(of) and all(any(matches(e, w) for e in g) for w in of) for _, g in doc.groups):
                failures.append(f"no GROUP of {of}")
        expected = [w for w in expected if w["type"] != "GROUP"]
        left = list(entities)
        for want in expected:
            hit = next((e for e in left if matches(e, want)), None)
            if hit is None:
                failures.append(f"no {want['type']} matching {want}")
            else:
                left.remove(hit)
        failures += [f"unexpected {e.dxftype()} {points(e)}" for e in left]
    counts = {}
    for e in entities:
        counts[e.dxftype()] = counts.get(e.dxftype(), 0) + 1
    print(f"{sys.argv[1]}: ezdxf {ezdxf.__version__} read {len(entities)} entities",
          " ".join(f"{k}={v}" for k, v in sorted(counts.items())))
    for f in failures:
        print(f)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
