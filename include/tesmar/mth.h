/*
 * MTH: geometry (module 11).
 *
 * The geometry toolkit of the translators: vector arithmetic with a fixed tolerance, angles,
 * dense and banded matrices, coordinate systems and the transforms built from them, projections,
 * intersections and closest approach of lines, least-squares fitting of lines, planes and
 * circles; and, on top of these, closed 2D boundaries ("loops"): line-loop crossings, which loop
 * lies inside which, point-in-loop, positions on a bounding box, merging of coordinate ranges and
 * the angular sectors around the origin that a curve or a loop sweeps. None of the operations
 * keeps state.
 *
 * Conventions.
 * - Points and vectors are arrays of doubles. Where an operation takes n, it works in n
 *   dimensions; otherwise it is fixed at 2 or 3. A list of points is one array with a stride (the
 *   number of doubles from one point to the next, at least the point's dimension); "packed" means
 *   the stride is the dimension.
 * - Matrices are row-major. A coordinate-system matrix is 4 x 4 (16 doubles) or its top three rows
 *   (12 doubles): row i holds the i-th components of the x axis, the y axis, the z axis and the
 *   origin, so a point p maps to M[i][0] p.x + M[i][1] p.y + M[i][2] p.z + M[i][3].
 * - A band matrix of order n and half bandwidth w is stored row by row, 2w + 1 doubles a row with
 *   the diagonal in the middle; entries outside the matrix are 0.
 * - MTH_TOLERANCE (1e-13) is the module's zero: a value whose magnitude is not above it counts as
 *   zero, two coordinates within it count as equal. Angles are radians.
 * - Failures are issued through the message system (mpm.h) at MPM_ERROR (allocation failures at
 *   MPM_FATAL, except in mth_MatrixInverse) and the code returned. MTH_PARALLELLINES,
 *   MTH_SINGULAREQS, MTH_SAMEPOINT and MTH_DEGENERATE_LINE are returned without a message, and so
 *   are the two quiet codes MTH_ZERO_DIVISOR and MTH_ZERO_LENGTH. Counts below 1 give
 *   MTH_INVALID_RANGE. A failing operation leaves its outputs untouched unless its description
 *   says otherwise. A NaN where a length, pivot or determinant is tested counts as degenerate.
 * - Outputs may share storage with inputs of the same shape (an output matrix may be an input).
 * - Arrays returned through out-pointers are malloc'ed and belong to the caller (free()); an
 *   operation that returns a count of 0 sets the array pointer to null.
 * - Output pointers documented as optional may be null.
 *
 * Results do not depend on the compiler: the library is built without contraction of floating-point
 * expressions and without fast-math; sums over many points are taken about their mean so that
 * coordinates far from the origin (1e5 with 1e-3 detail) keep their precision.
 */
#ifndef TESMAR_MTH_H
#define TESMAR_MTH_H

#include <stdint.h>
#include "tesmar/types.h"

TESMAR_EXTERN_C_BEGIN

/* Message codes of module MTH. */
#define MTH_COLINEARPLANEPNTS 0xB0001u /* " All the plane points are collinear - ..." */
#define MTH_NOMEMORY          0xB0002u /* " No more memory available\n" (memory exception) */
#define MTH_SAMEPOINT         0xB0003u /* returned without a message */
#define MTH_PARALLELLINES     0xB0004u /* returned without a message */
#define MTH_SINGULAREQS       0xB0005u /* returned without a message */
#define MTH_INVALID_RANGE     0xB0006u /* " The given range is either negative or zero\n" */
#define MTH_INVALID_OPT       0xB0007u /* " The option is not valid\n" */
#define MTH_MINMAX            0xB0008u /* " The minimum value is not smaller than the maximum ..." */
#define MTH_SINGULAR_MATRIX   0xB0009u /* " The singular matrix found.\n" */
#define MTH_ORIGIN_POINT      0xB000Au /* " The point is at the origin or on an axis.\n" */
#define MTH_SELFINTERSECT_LOOP 0xB000Bu /* for callers; not produced here */
#define MTH_ORIGIN_CROSSING   0xB000Cu /* for callers; not produced here */
#define MTH_DEGENERATE_LINE   0xB000Du /* returned without a message */

/* Quiet codes (no message). */
#define MTH_ZERO_DIVISOR 0xBFFFFu /* mth_DivideVector: divisor of magnitude below MTH_TOLERANCE */
#define MTH_ZERO_LENGTH  0xBFFFEu /* a vector to normalise has length not above MTH_TOLERANCE */

/* Constants. */
#define MTH_TOLERANCE       1e-13
#define MTH_BAND_PIVOT_TOL  1e-9
#define MTH_PI              3.141592653589793
#define MTH_TWO_PI          6.283185307179586
#define MTH_THREE_HALVES_PI 4.71238898038469
#define MTH_SWEEP_SLACK     1e-5

/* Flags. */
#define MTH_MATRIX_4X4       0x1u /* coordinate-system matrices: 16 doubles instead of 12 */
#define MTH_TRANSPOSE        0x8u /* mth_ApplyMatrix3x3: apply the transposed matrix */
#define MTH_WANT_PARAMS      0x1u /* line intersections: write the parameters */
#define MTH_WANT_POINT       0x2u /* line intersections: write the point */
#define MTH_POINT_ON_SECOND  0x4u /* mth_LineLineClosest3D: the point is on the second line */
#define MTH_DIRECTION        0x2u /* projections and mth_FitLine2D: a direction, not an end point */
#define MTH_WRITE_ANYWAY     0x1u /* mth_FitPlane: write a plane that fails the tolerance */
#define MTH_MERGE_SLACK      0x1u /* mth_SweepAnglesMerge: ranges within 1e-5 merge */

/* Module start-up: registers MTH's message table. Returns 0. */
TESMAR_API mpm_Status mth_Initialize(uint32_t flags);

/* ---- Vectors and points ---- */

/* The coordinate-wise mean of `count` packed points of n coordinates. n or count below 1:
 * MTH_INVALID_RANGE. */
TESMAR_API mpm_Status mth_AveragePoints(uint32_t opts, int32_t n, int32_t count,
                                        const double *points, double *average);

/* 1 when every coordinate of a and b differs by at most MTH_TOLERANCE, else 0. */
TESMAR_API int32_t mth_PointsEqual(int32_t n, const double *a, const double *b);

/* 1 when the distance of a and b is at most tol, else 0. */
TESMAR_API int32_t mth_PointsWithinTolerance(uint32_t opts, double tol, int32_t n, const double *a,
                                             const double *b);

/* 1 when the triangle p1 p2 p3 (dimension 2 or 3) has an area of at most tol; 0 otherwise and for
 * any other dimension. */
TESMAR_API int32_t mth_PointsCollinearByArea(int32_t dimension, double tol, const double *p1,
                                             const double *p2, const double *p3);

/* 1 when the unit vectors of p1 - p2 and p2 - p3 satisfy 1 - dot <= tol (the path goes on in the
 * same direction), or when either squared length is below MTH_TOLERANCE; else 0. */
TESMAR_API int32_t mth_PointsCollinearByDirection(int32_t n, double tol, const double *p1,
                                                  const double *p2, const double *p3);

/* Index of the first coordinate in which a and b differ by more than MTH_TOLERANCE, or -1. */
TESMAR_API int32_t mth_FirstDifferentCoord(int32_t n, const double *a, const double *b);

/* 1 when |a - b| <= tol, else 0. */
TESMAR_API int32_t mth_VectorsEqual(int32_t n, const double *a, const double *b, double tol);

/* 1 when, with m the larger of |a| and |b|, m <= tol, m <= MTH_TOLERANCE or |a - b| / m <= tol. */
TESMAR_API int32_t mth_VectorsEqualRelative(int32_t n, const double *a, const double *b,
                                            double tol);

/* Cosine of the angle between a and b, clamped to [-1, 1]; 0 when either has zero length or an
 * input is not a number. */
TESMAR_API double mth_CosAngleVectors(const double *a, const double *b, int32_t n);

/* out = a + b; returns n. */
TESMAR_API int32_t mth_AddVectors(int32_t n, const double *a, const double *b, double *out);

/* out = M v for a row-major 3 x 3 matrix (with MTH_TRANSPOSE: the transpose of M). Returns 0. */
TESMAR_API mpm_Status mth_ApplyMatrix3x3(uint32_t flags, const double *matrix,
                                         const double *vector, double *out);

/* out = a x b (three dimensions). Returns 0. */
TESMAR_API mpm_Status mth_CrossProduct(const double *a, const double *b, double *out);

/* a . b */
TESMAR_API double mth_DotProduct(int32_t n, const double *a, const double *b);

/* out = a - b. Returns 0. */
TESMAR_API mpm_Status mth_SubtractVectors(int32_t n, const double *a, const double *b,
                                          double *out);

/* out = b - a; returns n. */
TESMAR_API int32_t mth_VectorDifference(int32_t n, const double *a, const double *b, double *out);

/* out = v s; returns n. */
TESMAR_API int32_t mth_ScaleVector(int32_t n, const double *v, double s, double *out);

/* out = v / s. A divisor of magnitude below MTH_TOLERANCE (or NaN) gives MTH_ZERO_DIVISOR and
 * leaves out untouched. */
TESMAR_API mpm_Status mth_DivideVector(int32_t n, const double *v, double s, double *out);

/* Euclidean length (without overflow for large finite components). */
TESMAR_API double mth_VectorLength(int32_t n, const double *v);

/* Distance and squared distance of two points. */
TESMAR_API double mth_Distance(int32_t n, const double *a, const double *b);
TESMAR_API double mth_SquaredDistance(int32_t n, const double *a, const double *b);

/* out = v / |v|; when all components but one are then below MTH_TOLERANCE in magnitude, that one
 * becomes exactly +1 or -1 and the others exactly 0. A length not above MTH_TOLERANCE, or not
 * finite, copies v to out and returns MTH_ZERO_LENGTH. */
TESMAR_API mpm_Status mth_NormalizeVector(int32_t n, const double *v, double *out);

/* out = point + distance unit(axis), in three dimensions. A zero axis gives MTH_ZERO_LENGTH and
 * leaves out untouched. */
TESMAR_API mpm_Status mth_OffsetPointAlongAxis(uint32_t opts, const double *point, double distance,
                                               const double *axis, double *out);

/* k! (1 for k < 2). Values past 12! do not fit in 32 bits: they give UINT32_MAX. */
TESMAR_API uint32_t mth_Factorial(int32_t k);

/* out = (cx + r cos a, cy + r sin a, cz). Returns 0. */
TESMAR_API mpm_Status mth_PointOnCircleXY(const double *centre, double angle, double radius,
                                          double *out);

/* v (2D) rotated by the angle, with sine and cosine snapped as by mth_SinCosSnapped. Returns 0. */
TESMAR_API mpm_Status mth_RotateVector2D(double angle, const double *v, double *out);

/* ---- Angles ---- */

/* Angle of the 2D point in [0, 2 pi): *state is 1 and *angle set; a point within MTH_TOLERANCE
 * of the origin (or with a NaN coordinate) has no angle: *state 2, *angle untouched. Returns 0. */
TESMAR_API mpm_Status mth_GetAngle2DPoint(uint32_t opts, const double *point, double *angle,
                                          int32_t *state);

/* atan2(y, x) moved into [0, 2 pi); 0 for (0, 0). */
TESMAR_API double mth_Angle2D(double y, double x);

/* Sine and cosine of the angle, snapped: a sine below MTH_TOLERANCE in magnitude becomes 0 and the
 * cosine +-1; else a cosine below it becomes 0 and the sine +-1. Returns 0. */
TESMAR_API mpm_Status mth_SinCosSnapped(double angle, double *sine, double *cosine);

/* Normalises an arc: the start into [-tol, 2 pi + tol), the end into (start - tol, start + 2 pi +
 * tol], and an arc shorter than tol becomes a full turn. Non-finite angles, or a tol that is not
 * in [0, pi), give MTH_INVALID_RANGE with both untouched. */
TESMAR_API mpm_Status mth_NormalizeAngles(uint32_t opts, double *start, double *end, double tol);

/* Reduces *value into the period [start, start + period) (flag 1: (start, start + period]). With
 * flag 1 a value already in (s, s + P] is kept, with flag 2 one in [s, s + P). A period below
 * 2.220446049250313e-16 or not finite, or a start or value that is not finite, gives
 * MTH_INVALID_RANGE with *value untouched. */
TESMAR_API mpm_Status mth_ReduceToPeriod(uint32_t flags, double start, double period,
                                         double *value);

/* ---- Dense matrices ---- */

/* Zero matrix of rows x columns with 1 on the leading diagonal. Sizes below 1: MTH_INVALID_RANGE. */
TESMAR_API mpm_Status mth_IdentityMatrix(int32_t rows, int32_t columns, double *out);

/* C (m x p) = A (m x n) B (n x p). Sizes below 1: MTH_INVALID_RANGE; C may be A or B. */
TESMAR_API mpm_Status mth_MatrixProduct(uint32_t opts, int32_t m, int32_t n, int32_t p,
                                        const double *a, const double *b, double *c);

/* C = op(A) op(B), op transposing when its flag is 1. Each matrix is given with its row stride
 * and its stored rows and columns; the inner sizes must agree and every stride must cover its
 * row, else MTH_INVALID_RANGE. C may overlap A or B. */
TESMAR_API mpm_Status mth_MatrixMultiply(uint32_t opts, const double *a, int32_t a_stride,
                                         int32_t a_rows, int32_t a_columns, int32_t a_transpose,
                                         const double *b, int32_t b_stride, int32_t b_rows,
                                         int32_t b_columns, int32_t b_transpose, double *c,
                                         int32_t c_stride);

/* out (columns x rows) = transpose of A (rows x columns); out may be A. MTH_NOMEMORY (MPM_FATAL)
 * when the work copy cannot be had. */
TESMAR_API mpm_Status mth_MatrixTranspose(uint32_t opts, int32_t rows, int32_t columns,
                                          const double *a, double *out);

/* Inverse of the n x n matrix A by Gauss-Jordan elimination with partial pivoting; out may be A.
 * n < 1: MTH_INVALID_RANGE; no pivot above MTH_TOLERANCE: MTH_SINGULAR_MATRIX; MTH_NOMEMORY at
 * MPM_ERROR. */
TESMAR_API mpm_Status mth_MatrixInverse(uint32_t opts, int32_t n, const double *a, double *out);

/* Band storage of the full n x n matrix (row stride `stride`). A *half_bandwidth below 1 is first
 * set to the largest distance of a non-zero entry from the diagonal. *band receives a malloc'ed
 * matrix of n (2w + 1) doubles. */
TESMAR_API mpm_Status mth_BandStore(uint32_t opts, const double *full, int32_t stride, int32_t n,
                                    int32_t *half_bandwidth, double **band);

/* LU decomposition in place, without pivoting. A pivot not above MTH_BAND_PIVOT_TOL (1e-9) gives
 * MTH_SINGULAREQS (no message); the band is then partly decomposed. */
TESMAR_API mpm_Status mth_BandDecompose(uint32_t opts, double *band, int32_t n,
                                        int32_t half_bandwidth);

/* Solves with a decomposed band matrix: forward substitution in *rhs, back substitution into
 * work, which receives the solution (work may be rhs). */
TESMAR_API mpm_Status mth_BandSolve(uint32_t opts, const double *band, int32_t n,
                                    int32_t half_bandwidth, double *rhs, double *work);

/* The same three under their internal names. */
TESMAR_API mpm_Status mth__BandStore(uint32_t opts, const double *full, int32_t stride, int32_t n,
                                     int32_t *half_bandwidth, double **band);
TESMAR_API mpm_Status mth__BandDecompose(uint32_t opts, double *band, int32_t n,
                                         int32_t half_bandwidth);
TESMAR_API mpm_Status mth__BandSolve(uint32_t opts, const double *band, int32_t n,
                                     int32_t half_bandwidth, double *rhs, double *work);

/* Solves [a b; c d] x = rhs with a pivot chosen in the first column; a pivot or reduced entry not
 * above tol gives MTH_SINGULAREQS (no message). */
TESMAR_API mpm_Status mth_Solve2x2(const double *matrix, const double *rhs, double tol,
                                   double *out);

/* ---- Coordinate systems and transforms ---- */

/* Local-to-global matrix of the system with the given axes and origin (the axes are normalised;
 * a zero axis gives MTH_ZERO_LENGTH). 12 doubles, or 16 with MTH_MATRIX_4X4. */
TESMAR_API mpm_Status mth_MatrixLocalToGlobalSys(uint32_t flags, const double *x_axis,
                                                 const double *y_axis, const double *z_axis,
                                                 const double *origin, double *out);

/* Global-to-local matrix: the inverse of the local-to-global one. Axes that do not span space
 * give MTH_SINGULAR_MATRIX. */
TESMAR_API mpm_Status mth_MatrixGlobalToLocalSys(uint32_t flags, const double *x_axis,
                                                 const double *y_axis, const double *z_axis,
                                                 const double *origin, double *out);

/* Rotation by the angle (right-handed) about the axis through the point. Returns 0; the quiet
 * MTH_ZERO_LENGTH when the axis has no direction (out untouched); MTH_SINGULAR_MATRIX. */
TESMAR_API mpm_Status mth_MatrixRotateAboutAxis(uint32_t flags, const double *point,
                                                const double *axis, double angle, double *out);

/* Translation by the distance along the axis (the point only fixes the frame). Returns as
 * mth_MatrixRotateAboutAxis. */
TESMAR_API mpm_Status mth_MatrixTranslateAlongAxis(uint32_t flags, const double *point,
                                                   const double *axis, double distance,
                                                   double *out);

/* out = rotation and translation of a 3 x 4 matrix applied to the point. Returns 0. */
TESMAR_API mpm_Status mth_TransformPoint(uint32_t opts, const double *point, const double *matrix,
                                         double *out);

/* out = rotation part of a 3 x 4 matrix applied to the vector. Returns 0. */
TESMAR_API mpm_Status mth_TransformVector(uint32_t opts, const double *vector,
                                          const double *matrix, double *out);

/* Rodrigues rotation matrix (3 x 3) about the normalised axis, sine and cosine snapped. */
TESMAR_API mpm_Status mth_RotationMatrixAxisAngle(const double *axis, double angle, double *out);

/* Two unit vectors perpendicular to the axis and to each other. A zero or non-finite axis gives
 * MTH_ZERO_LENGTH with both untouched. */
TESMAR_API mpm_Status mth_FindTwoPerpAxesToAxis(uint32_t opts, const double *axis, double *first,
                                                double *second);

/* 3 x 3 frame whose rows are x, y, z with z = unit(axis). A zero axis: MTH_ZERO_LENGTH. */
TESMAR_API mpm_Status mth_FrameFromAxis(const double *axis, double *out);

/* 3 x 3 matrix whose columns are unit(e), unit(n x e), unit(n), with e = p1 - p0 and
 * n = e x (p1 - p2). Collinear points: MTH_COLINEARPLANEPNTS, out untouched. */
TESMAR_API mpm_Status mth_PlaneMatrixFrom3Points(const double *p0, const double *p1,
                                                 const double *p2, double *out);

/* Plane matrix of a packed 3D point list: from the first three points that are distinct and not
 * collinear (later points replace earlier ones until three are found). Points sharing z give the
 * identity; sharing y the rows (1,0,0), (0,0,s), (0,1,0); sharing x the rows (0,0,s), (0,1,0),
 * (1,0,0), with s = -1 when that shared coordinate is negative, else 1 (the normal points away from
 * the origin); otherwise as mth_PlaneMatrixFrom3Points. No such three: MTH_COLINEARPLANEPNTS. */
TESMAR_API mpm_Status mth_PlaneMatrixFromPoints(int32_t count, const double *points, double *out);

/* ---- Lines and projections ---- */

/* Distance from the point to the line through line_point and line_end (mode 2: along the
 * direction line_end), in n dimensions; *parameter (optional) is measured in units of the line's
 * length and *foot (optional) is the foot. A line shorter than MTH_TOLERANCE gives the distance to
 * line_point, foot = line_point, parameter 0. n below 1: MTH_INVALID_RANGE issued, -1 returned. */
TESMAR_API double mth_PointLineDistance(int32_t mode, int32_t n, const double *point,
                                        const double *line_point, const double *line_end,
                                        double *foot, double *parameter);

/* Foot of the point on the 3D line from start to end (MTH_DIRECTION: along the direction end).
 * A zero line: foot = start, parameter 0, MTH_DEGENERATE_LINE. Parameters within MTH_TOLERANCE of
 * 0 become 0, and with flags 0 those within it of 1 become 1. */
TESMAR_API mpm_Status mth_ProjectPointOnLine3D(uint32_t flags, const double *start,
                                               const double *end, const double *point,
                                               double *foot, double *parameter);

/* The same in 2D; a zero line gives foot = start, parameter 0 and status 0. */
TESMAR_API mpm_Status mth_ProjectPointOnLine2D(uint32_t flags, const double *start,
                                               const double *end, const double *point,
                                               double *foot, double *parameter);

/* Orthogonal projection on the 3D line through line_point with unit direction: *foot, and
 * *distance from the point to it. Returns 0. */
TESMAR_API mpm_Status mth_FootOnLine(const double *line_point, const double *direction,
                                     const double *point, double *distance, double *foot);

/* Orthogonal projection on the 3D line through start and end; coincident start and end give
 * foot = start, the distance to it and MTH_DEGENERATE_LINE. */
TESMAR_API mpm_Status mth_ProjectPointOnLineThrough(const double *start, const double *end,
                                                    const double *point, double *foot,
                                                    double *distance);

/* Projection on the plane n . x = d, plane = (a, b, c, d) with n = (a, b, c). A zero normal gives
 * MTH_ZERO_LENGTH, out untouched. */
TESMAR_API mpm_Status mth_ProjectPointOnPlane(uint32_t opts, const double *point,
                                              const double *plane, double *out);

/* Intersection of the 2D lines p1 + t1 d1 and p2 + t2 d2. Flags: MTH_WANT_PARAMS, MTH_WANT_POINT;
 * t1 and t2 are written with MTH_WANT_PARAMS or without MTH_WANT_POINT. Parallel lines (reduced
 * coefficient not above tol): MTH_PARALLELLINES, nothing written. */
TESMAR_API mpm_Status mth_LineLineIntersect2D(uint32_t flags, double tol, const double *p1,
                                              const double *d1, const double *p2,
                                              const double *d2, double *t1, double *t2,
                                              double *point);

/* Closest approach of the 3D lines p1 + t1 d1 and p2 + t2 d2: the point is the midpoint of the
 * two closest points, or with MTH_POINT_ON_SECOND the one on the second line. A direction with
 * squared length not above tol is a point; both such: the midpoint of p1 and p2, parameters 0,
 * MTH_DEGENERATE_LINE. 1 - cos^2 of the angle not above tol: MTH_PARALLELLINES, nothing written. */
TESMAR_API mpm_Status mth_LineLineClosest3D(uint32_t flags, double tol, const double *p1,
                                            const double *d1, const double *p2, const double *d2,
                                            double *t1, double *t2, double *point);

/* Distance of the 3D lines, with the closest points' parameters. Degenerate or parallel lines:
 * p1 projected on the second line, t1 = 0, its distance, MTH_PARALLELLINES. */
TESMAR_API mpm_Status mth_LineLineDistance3D(uint32_t opts, double tol, const double *p1,
                                             const double *d1, const double *p2,
                                             const double *d2, double *t1, double *t2,
                                             double *distance);

/* 1 when s lies within tol of the plane through p, q, r; -1 when they span no plane; else 0. */
TESMAR_API int32_t mth_PointInPlane(const double *p, const double *q, const double *r,
                                    const double *s, double tol);

/* ---- Fitting ---- */

/* Least-squares 2D line through the points; result 0 with the line's points at the extremes of
 * its main coordinate (MTH_DIRECTION: the second output is the direction), 1 when no line is
 * defined (fewer than 2 points, or all within tol). */
TESMAR_API int32_t mth_FitLine2D(uint32_t flags, const double *points, int32_t count,
                                 int32_t stride, double tol, double *first, double *second);

/* Least-squares plane n . p = d of packed 3D points, unit normal. Results: 1 plane accepted,
 * 0 some point farther than tol (nothing written unless MTH_WRITE_ANYWAY), -1 no plane defined,
 * 2 / -2 points in the plane z = 0 that are not / are collinear. */
TESMAR_API int32_t mth_FitPlane(uint32_t flags, const double *points, int32_t count, double tol,
                                double *normal, double *offset);

/* 1 when every three consecutive 3D points pass mth_PointsCollinearByDirection with tol (and for
 * fewer than 3 points); `unused` is not read. */
TESMAR_API int32_t mth_PolylineStraight(const double *points, int32_t count, int32_t stride,
                                        double unused, double tol);

/* 1 when the 3D points lie within line_tol of the line through the farthest pair (whose indices
 * are written), that pair being more than tol apart; else 0. */
TESMAR_API int32_t mth_PointsCollinear(const double *points, int32_t count, int32_t stride,
                                       double tol, double line_tol, int32_t *first,
                                       int32_t *second);

/* Circle through packed points of dimension 2 or 3 from the perpendicular bisectors of
 * consecutive chords: *centre (dimension coordinates), *radius (mean distance), *normal (3
 * coordinates). Result 1 when all distances agree within radius_tol, 0 otherwise (outputs written
 * once a centre was found). */
TESMAR_API int32_t mth_PointsOnCircle(const double *points, int32_t count, int32_t dimension,
                                      double intersection_tol, double radius_tol, double *centre,
                                      double *radius, double *normal);

/* ---- Loops (closed 2D point lists) ---- */

/* Coordinate-wise minimum and maximum of packed points of n coordinates; with extend = 1 the given
 * box is enlarged. NaN coordinates are ignored. */
TESMAR_API mpm_Status mth_BoundingBox(int32_t extend, int32_t n, int32_t count,
                                      const double *points, double *minimum, double *maximum);

/* Signed area of the 2D polygon, positive counter-clockwise. count below 1: MTH_INVALID_RANGE
 * issued, 0 returned. */
TESMAR_API double mth_PolygonArea(int32_t count, int32_t stride, const double *points);

/* Unsigned area of the fan of triangles from the first packed 3D point; 0 for fewer than 2. */
TESMAR_API double mth_PolygonArea3D(int32_t count, const double *points);

/* Crossings of the loop with the line y = `y`: *count x values, ascending, in a malloc'ed *xs
 * (null when there are none). A vertex where the loop only touches the line appears twice. */
TESMAR_API mpm_Status mth_HorizontalLineLoopIntersect(uint32_t opts, double y, int32_t stride,
                                                      int32_t count, const double *points,
                                                      int32_t *out_count, double **xs);

/* The same for the line x = `x`, giving y values. */
TESMAR_API mpm_Status mth_VerticalLineLoopIntersect(uint32_t opts, double x, int32_t stride,
                                                    int32_t count, const double *points,
                                                    int32_t *out_count, double **ys);

/* *relation: 1 when loop 2 lies inside loop 1, -1 when loop 1 lies inside loop 2, 2 otherwise. */
TESMAR_API mpm_Status mth_LoopInnerOuter(uint32_t opts, int32_t stride, int32_t count1,
                                         const double *loop1, int32_t count2,
                                         const double *loop2, int32_t *relation);

/* *position: 0 on the boundary (within tol), -1 inside, 1 outside. */
TESMAR_API mpm_Status mth_PointInLoop(uint32_t opts, int32_t stride, const double *point,
                                      int32_t count, const double *loop, double tol,
                                      int32_t *position);

/* Parameters along the segment (x0, y0)-(x1, y1) where it crosses the loops (packed 2D, each
 * repeating its first point at its end, counts[i] points each): malloc'ed *params, *out_count. */
TESMAR_API mpm_Status mth_LineLoopsIntersectParams(const double *line, int32_t loop_count,
                                                   const int32_t *counts, const double *points,
                                                   int32_t *out_count, double **params);

/* Relation of two loops (packed 2D, closing point repeated): 1 loop 1 inside loop 2, -1 outside
 * (or apart), 0 touching or crossing, -2 failure (issued). */
TESMAR_API int32_t mth_LoopLoopRelation(uint32_t opts, int32_t count1, const double *points1,
                                        int32_t count2, const double *points2, double tol);

/* Where the segment (two 3D points, x and y used) lies on the box (xmin, xmax, ymin, ymax):
 * *side 1 left, 2 top, 3 right, 4 bottom, 0 none; *direction 1 increasing, 2 decreasing;
 * *partial 0 when the segment covers the whole side. Returns 0. */
TESMAR_API mpm_Status mth_PointsOnBounds(uint32_t opts, const double *segment, const double *box,
                                         double tol, int32_t *side, int32_t *direction,
                                         int32_t *partial);

/* Clamps the 2D point into the box. Returns 0. */
TESMAR_API mpm_Status mth_PointForceInBounds2D(uint32_t opts, double *point, const double *box);

/* Clips the 2D segment p1-p2 against the box's lines xmin, xmax, ymin, ymax. Returns 0. */
TESMAR_API mpm_Status mth__2DLineTrimBounds(uint32_t opts, double *p1, double *p2,
                                            const double *box);

/* Inserts the 2D point at the index of the array of *count points (the caller provides room for
 * one more). The same point already at the index: MTH_SAMEPOINT (no message). An index outside
 * [0, *count]: MTH_INVALID_RANGE. */
TESMAR_API mpm_Status mth_InsertPoint2D(const double *point, int32_t index, int32_t *count,
                                        double *array);

/* Merges ranges (6 doubles each: a 3D start point and a 3D end point) on the coordinate
 * `coordinate` (0 to 2, else MTH_INVALID_OPT): a start above its end gives MTH_MINMAX; ranges that
 * overlap merge, ranges that only touch do not. *merged receives (start, end) pairs. */
TESMAR_API mpm_Status mth_FindActiveRanges(uint32_t opts, int32_t range_count,
                                           const double *ranges, int32_t coordinate,
                                           int32_t *out_count, double **merged);

/* Angular ranges around the origin swept by the 2D point sequence, split at points within tol of
 * the origin and at edges passing within tol of it: *out_count (start, end) pairs in *ranges. */
TESMAR_API mpm_Status mth_SweepAnglesContPoints(uint32_t opts, int32_t stride, int32_t count,
                                                const double *points, double tol,
                                                int32_t *out_count, double **ranges);

/* Angular range swept by one run of points none of which is at the origin (MTH_ORIGIN_POINT);
 * the start lies in [-1e-5, 2 pi - 1e-5). `unused` is not read. */
TESMAR_API mpm_Status mth__SweepAnglesContPoints(uint32_t opts, int32_t stride, int32_t count,
                                                 const double *points, double unused,
                                                 double *start, double *end);

/* Angular ranges swept by a loop made of pieces (piece_counts[i] consecutive points each, adding
 * up to count). *origin_on_loop is 1 when the origin lies on the loop. */
TESMAR_API mpm_Status mth_SweepAnglesLoop(uint32_t opts, int32_t stride, int32_t piece_count,
                                          const int32_t *piece_counts, int32_t count,
                                          const double *points, double tol, int32_t *out_count,
                                          double **ranges, int32_t *origin_on_loop);

/* Merges sweep ranges (pairs) that overlap (MTH_MERGE_SLACK: or lie within 1e-5), folding ranges
 * that the last one reaches past 2 pi into it. */
TESMAR_API mpm_Status mth_SweepAnglesMerge(uint32_t flags, int32_t range_count,
                                           const double *ranges, int32_t *out_count,
                                           double **merged);

/* ---- Sorting ---- */

/* The sorts below take time quadratic in the count. */

/* Exchange sort of `count` records of record_length doubles by the key at key_index; order 1
 * ascending, 2 descending (else MTH_INVALID_OPT); the companion integers (optional, one per
 * record) move with their records. */
TESMAR_API mpm_Status mth_SortDoubleArrayByBubble(int32_t order, int32_t count,
                                                  int32_t record_length, double *records,
                                                  int32_t key_index, int32_t *companions);

/* Selection sort in place: order 1 ascending, otherwise descending. Returns 0. */
TESMAR_API mpm_Status mth_SortDoubles(int32_t order, int32_t count, double *values);

/* Selection sort in place; returns the count. */
TESMAR_API int32_t mth_SortInts(int32_t order, int32_t count, int32_t *values);

TESMAR_EXTERN_C_END

#endif
