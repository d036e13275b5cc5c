#!/usr/bin/env python3
"""Writes the geometry tests' reference results: inputs with results computed at 50 digits.

The build runs it (python3 reference.py > mth_reference.txt in the build tree) and the tests read
its output. The inputs come from a seeded generator, so the output is the same on every run.
Inputs are doubles written so that they read back exactly; results are rounded to 25 significant
digits.

Each line: NAME, then the inputs, then "=", then the expected results.
"""
import random
from fractions import Fraction

import mpmath
from mpmath import mpf

mpmath.mp.dps = 50
rng = random.Random(20240611)


def r(lo, hi):
    return rng.uniform(lo, hi)


def vec(n, lo=-10.0, hi=10.0):
    return [r(lo, hi) for _ in range(n)]


def out(name, inputs, results):
    ins = " ".join(repr(float(v)) for v in inputs)
    res = " ".join(mpmath.nstr(mpf(v), 25, min_fixed=-1, max_fixed=-1) for v in results)
    print(f"{name} {ins} = {res}")


def M(v):
    return [mpf(x) for x in v]


def sub(a, b):
    return [x - y for x, y in zip(a, b)]


def add(a, b):
    return [x + y for x, y in zip(a, b)]


def scale(a, s):
    return [x * s for x in a]


def dot(a, b):
    return sum(x * y for x, y in zip(a, b))


def cross(a, b):
    return [a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]]


def norm(a):
    return mpmath.sqrt(dot(a, a))


def unit(a):
    return scale(a, 1 / norm(a))


def rodrigues(k, theta, v):
    k = unit(k)
    c, s = mpmath.cos(theta), mpmath.sin(theta)
    return add(add(scale(v, c), scale(cross(k, v), s)), scale(k, dot(k, v) * (1 - c)))


# Rotation of a point about an axis through a point (mth_MatrixRotateAboutAxis).
for i in range(40):
    big = i >= 30
    base = 1e5 if big else 0.0
    p = [base + x for x in vec(3)]
    a = vec(3, -1, 1)
    theta = r(-7, 7)
    q = [base + x for x in vec(3)]
    res = add(M(p), rodrigues(M(a), mpf(theta), sub(M(q), M(p))))
    out("rotate_about_axis", p + a + [theta] + q, res)

# Rotation matrix about an axis (mth_RotationMatrixAxisAngle).
for i in range(20):
    a = vec(3, -1, 1)
    theta = r(-4, 4)
    k = unit(M(a))
    cols = [rodrigues(k, mpf(theta), e) for e in ([1, 0, 0], [0, 1, 0], [0, 0, 1])]
    out("rotation_matrix", a + [theta], [cols[j][i] for i in range(3) for j in range(3)])

# Projection of a point on a 3D line (mth_ProjectPointOnLine3D).
for i in range(40):
    base = 1e5 if i >= 25 else 0.0
    s = [base + x for x in vec(3)]
    e = [base + x for x in vec(3)]
    q = [base + x for x in vec(3)]
    d = sub(M(e), M(s))
    t = dot(d, sub(M(q), M(s))) / dot(d, d)
    out("project_line3", s + e + q, add(M(s), scale(d, t)) + [t])

# Closest approach of 3D lines (mth_LineLineClosest3D, mth_LineLineDistance3D).
for i in range(40):
    base = 1e5 if i >= 25 else 0.0
    p1 = [base + x for x in vec(3)]
    d1 = vec(3, -1, 1)
    p2 = [base + x for x in vec(3)]
    d2 = vec(3, -1, 1)
    if i % 10 == 9:  # nearly parallel
        d2 = [x + r(-1e-4, 1e-4) for x in d1]
    P1, D1, P2, D2 = M(p1), M(d1), M(p2), M(d2)
    n = cross(D1, D2)
    w = sub(P2, P1)
    t1 = dot(cross(w, D2), n) / dot(n, n)
    t2 = dot(cross(w, D1), n) / dot(n, n)
    q1, q2 = add(P1, scale(D1, t1)), add(P2, scale(D2, t2))
    out("closest3", p1 + d1 + p2 + d2, [t1, t2] + scale(add(q1, q2), mpf(1) / 2) + [norm(sub(q1, q2))])

# Intersection of 2D lines (mth_LineLineIntersect2D).
for i in range(40):
    base = 1e5 if i >= 25 else 0.0
    p1 = [base + x for x in vec(2)]
    d1 = vec(2, -1, 1)
    p2 = [base + x for x in vec(2)]
    d2 = vec(2, -1, 1)
    if i % 8 == 7:
        d1[0] = 0.0  # vertical first line: the second branch
    P1, D1, P2, D2 = M(p1), M(d1), M(p2), M(d2)
    den = D1[0] * D2[1] - D1[1] * D2[0]
    w = sub(P2, P1)
    t1 = (w[0] * D2[1] - w[1] * D2[0]) / den
    t2 = (w[0] * D1[1] - w[1] * D1[0]) / den
    out("intersect2", p1 + d1 + p2 + d2, [t1, t2] + add(P2, scale(D2, t2)))

# Circle through three points (mth_PointsOnCircle), 3D and 2D.
for i in range(30):
    base = 1e5 if i >= 20 else 0.0
    c = [base + x for x in vec(3)]
    u, v = unit(M(vec(3, -1, 1))), None
    v = unit(cross(u, M(vec(3, -1, 1))))
    w = cross(u, v)
    rad = r(0.5, 20)
    pts = []
    for ang in sorted(r(0, 6.28) for _ in range(3)):
        pts += [float(x) for x in add(M(c), add(scale(w, rad * mpmath.cos(ang)), scale(v, rad * mpmath.sin(ang))))]
    A, B, C = M(pts[0:3]), M(pts[3:6]), M(pts[6:9])
    # Circumcentre of the triangle as given (the doubles, not the ideal circle).
    ab, ac = sub(B, A), sub(C, A)
    n = cross(ab, ac)
    centre = add(A, scale(add(scale(cross(n, ab), dot(ac, ac)), scale(cross(ac, n), dot(ab, ab))), 1 / (2 * dot(n, n))))
    radius = (norm(sub(A, centre)) + norm(sub(B, centre)) + norm(sub(C, centre))) / 3
    out("circle3", pts, centre + [radius])
for i in range(20):
    base = 1e5 if i >= 12 else 0.0
    pts = [base + x for x in vec(6)]
    A, B, C = M(pts[0:2]), M(pts[2:4]), M(pts[4:6])
    d = 2 * (A[0] * (B[1] - C[1]) + B[0] * (C[1] - A[1]) + C[0] * (A[1] - B[1]))
    a2, b2, c2 = dot(A, A), dot(B, B), dot(C, C)
    ux = (a2 * (B[1] - C[1]) + b2 * (C[1] - A[1]) + c2 * (A[1] - B[1])) / d
    uy = (a2 * (C[0] - B[0]) + b2 * (A[0] - C[0]) + c2 * (B[0] - A[0])) / d
    centre = [ux, uy]
    radius = (norm(sub(A, centre)) + norm(sub(B, centre)) + norm(sub(C, centre))) / 3
    out("circle2", pts, centre + [radius])

# Signed polygon area, exact in rationals (mth_PolygonArea), at the origin and at CAD coordinates.
for i in range(30):
    base = 1e5 if i >= 15 else 0.0
    n = rng.randint(3, 12)
    angles = sorted(r(0, 6.283) for _ in range(n))
    if i % 2:
        angles.reverse()
    pts = []
    for a in angles:
        rad = r(1, 10)
        pts += [base + rad * float(mpmath.cos(a)), base + rad * float(mpmath.sin(a))]
    F = [Fraction(x) for x in pts]
    area = Fraction(0)
    for k in range(n):
        j = (k + 1) % n
        area += F[2 * k] * F[2 * j + 1] - F[2 * j] * F[2 * k + 1]
    area /= 2
    out("area2", [n] + pts, [mpf(area.numerator) / area.denominator])

# Unsigned area of a planar convex polygon in 3D (mth_PolygonArea3D).
for i in range(20):
    n = rng.randint(3, 10)
    c = vec(3)
    u = unit(M(vec(3, -1, 1)))
    v = unit(cross(u, M(vec(3, -1, 1))))
    pts = []
    for a in sorted(r(0, 6.283) for _ in range(n)):
        rad = r(1, 5)
        pts += [float(x) for x in add(M(c), add(scale(u, rad * mpmath.cos(a)), scale(v, rad * mpmath.sin(a))))]
    P = [M(pts[3 * k:3 * k + 3]) for k in range(n)]
    area = sum(norm(cross(sub(P[k - 1], P[0]), sub(P[k], P[0]))) / 2 for k in range(2, n))
    out("area3", [n] + pts, [area])
