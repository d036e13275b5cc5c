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
        return [tuple(e.dxf.insert)]
    return []


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
    got = points(e)
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
    if "knots" in want and not close(list(e.knots), want["knots"]):
        return False
    if "layer" in want and e.dxf.layer != want["layer"]:
        return False
    if "color" in want and e.dxf.color != want["color"]:
        return False
    return True


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
