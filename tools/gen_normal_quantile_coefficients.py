#!/usr/bin/env python3
"""Rational approximations of the standard normal quantile, fitted here.

The quantile x of the smaller tail  tail = min(p, q) <= 1/2  (x <= 0) is
approximated, with no refinement step, piecewise:

  central, tail >= CENTRAL_LEAST_TAIL:  s = tail - 1/2,  r = s^2,
      x = s * N(z) / D(z),  z = r - r_0         (x is odd in s)
  tails:  t = sqrt(-2 ln tail)  (x ~ -t as tail -> 0, DLMF 7.12.1),
      x = -N(z) / D(z),  z = t - t_0  on  t_k <= t < t_(k+1)

The origins (r_0 the middle of the central piece, t_0 the lower end of a
tail piece) are those that measured least binary64 rounding error: the
terms Horner's rule sums then cancel least.  The central piece stops well
short of the branch point of x at r = 1/4 (tail = 0), whose nearby poles
and zeros would make the fit ill-conditioned in binary64.

Each piece is a weighted linearised least-squares fit of the relative error
(Loeb's iteration: weights 1 / D from the previous fit), driven towards the
minimax fit by Lawson's reweighting, at 60 digits on Chebyshev nodes.  The
reference quantile comes from erfinv in the centre and from Newton's method
on ln(erfc(x / sqrt 2) / 2) = -t^2 / 2 in the tails.  The coefficients are
then rounded to doubles and the approximation is evaluated exactly as the
C++ code does (Horner, binary64 arithmetic) on a dense grid of tails; the
maximum relative error there, in units of 2^-52, is printed.

Writes distributions/normal_quantile_coefficients.hpp and the dense sweep
tests/data/normal_quantile_sweep.csv (tail, 30-digit quantile).

Usage: python3 tools/gen_normal_quantile_coefficients.py [header] [sweep.csv]
"""
import math
import sys

import mpmath as mp

mp.mp.dps = 60
mpf = mp.mpf

CENTRAL_LEAST_TAIL = 0.2
CENTRAL_DEGREES = (5, 5)
# The tail pieces: lower end of t and degrees (numerator, denominator).  The
# last piece reaches the smallest subnormal tail, t = 38.6.
TAIL_PIECES = [(None, (5, 5)), (3.0, (5, 5)), (5.0, (5, 5)), (9.0, (5, 5)), (17.0, (5, 5))]
LARGEST_T = 38.6
NODES = 100
LAWSON_STEPS = 30


def central_value(r):
    s = mp.sqrt(r)
    if s == 0:
        return mp.sqrt(2 * mp.pi)  # dx/ds at the median: 1 / phi(0)
    return mp.sqrt(2) * mp.erfinv(2 * s) / s


def quantile_of_log_tail(log_tail):
    """-x > 0 with Phi(x) = exp(log_tail), by Newton's method in ln Phi."""
    t = mp.sqrt(-2 * log_tail)
    y = t - mp.log(t * mp.sqrt(2 * mp.pi)) / t if t > 2 else t
    for _ in range(100):
        phi_tail = mp.erfc(y / mp.sqrt(2)) / 2
        g = mp.log(phi_tail) - log_tail
        density = mp.exp(-y * y / 2) / mp.sqrt(2 * mp.pi)
        step = g * phi_tail / density
        y += step
        if abs(step) < mpf(10) ** (-mp.mp.dps + 8) * y:
            break
    return y


def tail_value(t):
    return quantile_of_log_tail(-t * t / 2)


def chebyshev_nodes(a, b, n):
    return [(a + b) / 2 + (b - a) / 2 * mp.cos(mp.pi * (2 * k + 1) / (2 * n)) for k in range(n)]


def horner(coefficients, z):
    value = coefficients[-1]
    for c in reversed(coefficients[:-1]):
        value = value * z + c
    return value


def fit(f, a, b, degrees, origin):
    """Minimax-like relative fit f(v) ~ N(z)/D(z), z = v - origin, for v in
    [a, b], D(0) = 1."""
    m, n = degrees
    zs = chebyshev_nodes(mpf(a) - mpf(origin), mpf(b) - mpf(origin), NODES)
    fs = [f(mpf(origin) + z) for z in zs]
    lawson = [mpf(1) / NODES] * NODES
    denominator_prev = [mpf(1)] * NODES
    best = None
    for _ in range(LAWSON_STEPS):
        size = m + 1 + n
        normal = mp.zeros(size, size)
        rhs = mp.zeros(size, 1)
        for z, fz, lw, dp in zip(zs, fs, lawson, denominator_prev):
            w2 = lw / (fz * dp) ** 2
            row = [z**k for k in range(m + 1)] + [-fz * z**k for k in range(1, n + 1)]
            for i in range(size):
                wi = w2 * row[i]
                rhs[i] += wi * fz
                for j in range(size):
                    normal[i, j] += wi * row[j]
        solution = mp.lu_solve(normal, rhs)
        num = [solution[k] for k in range(m + 1)]
        den = [mpf(1)] + [solution[m + 1 + k] for k in range(n)]
        errors = [horner(num, z) / horner(den, z) / fz - 1 for z, fz in zip(zs, fs)]
        worst = max(abs(e) for e in errors)
        if best is None or worst < best[0]:
            best = (worst, num, den)
        denominator_prev = [horner(den, z) for z in zs]
        lawson = [lw * abs(e) for lw, e in zip(lawson, errors)]
        total = sum(lawson)
        lawson = [lw / total for lw in lawson]
    return best


def to_doubles(coefficients):
    return [float(c) for c in coefficients]


def evaluate(tail, central, pieces):
    """The approximation as the C++ code evaluates it, in binary64; and the
    index of the piece (-1: central)."""
    if tail >= CENTRAL_LEAST_TAIL:
        s = tail - 0.5
        z = s * s - central[2]
        return s * horner(central[0], z) / horner(central[1], z), -1
    t = math.sqrt(-2.0 * math.log(tail))
    index = 0
    for k, candidate in enumerate(pieces):
        if t >= candidate[0]:
            index = k
    piece = pieces[index]
    z = t - piece[1]
    return -(horner(piece[2], z) / horner(piece[3], z)), index


def sweep_tails():
    """Tails from the smallest subnormal to 1/2: log-uniform, then uniform."""
    tails = [5e-324, 1e-310, 2.2250738585072014e-308]
    tails += [10.0 ** (-300 + 300 * k / 1500) for k in range(1501)]
    tails += [0.05 + 0.45 * k / 500 for k in range(501)]
    tails += [CENTRAL_LEAST_TAIL, math.nextafter(CENTRAL_LEAST_TAIL, 0), 0.5 - 2**-40, 0.5 - 2**-20]
    return sorted(set(t for t in tails if 0 < t <= 0.5))


def reference(tail):
    tail = mpf(tail)
    if tail == mpf(1) / 2:
        return mpf(0)
    if tail > mpf("1e-3"):
        return mp.sqrt(2) * mp.erfinv(2 * tail - 1)
    return -quantile_of_log_tail(mp.log(tail))


def cpp_array(name, values):
    body = ",\n    ".join(repr(v) for v in values)
    return f"inline constexpr std::array<double, {len(values)}> {name} = {{\n    {body}}};\n"


def write_header(path, central, pieces, central_error, piece_errors):
    m, n = len(pieces[0][2]), len(pieces[0][3])
    out = [
        "// Generated by tools/gen_normal_quantile_coefficients.py: do not edit.\n",
        "// Rational approximations of the standard normal quantile: relative\n",
        "// minimax-like fits of the exact quantile at 60 digits, rounded to doubles\n",
        "// (see the generator for the pieces and their variables).\n",
        "#pragma once\n\n#include <array>\n\nnamespace distfn::normal_quantile_fit {\n\n",
        f"// Central piece, tail >= {CENTRAL_LEAST_TAIL}: x = s N(z) / D(z), s = tail - 1/2,\n",
        f"// z = s^2 - central_origin.  Fitted relative error {float(central_error):.1e}.\n",
        f"inline constexpr double central_least_tail = {CENTRAL_LEAST_TAIL!r};\n",
        f"inline constexpr double central_origin = {central[2]!r};\n",
        cpp_array("central_numerator", central[0]),
        cpp_array("central_denominator", central[1]),
        "\n// Tail pieces, t = sqrt(-2 ln tail) >= t_low: x = -N(z) / D(z), z = t - origin.\n",
        "struct TailPiece {\n  double t_low;\n  double origin;\n",
        f"  std::array<double, {m}> numerator;\n  std::array<double, {n}> denominator;\n}};\n\n",
        f"inline constexpr std::array<TailPiece, {len(pieces)}> tail_pieces = {{{{\n",
    ]
    for piece, error in zip(pieces, piece_errors):
        out.append(f"    // fitted relative error {float(error):.1e}\n")
        out.append(f"    {{{piece[0]!r}, {piece[1]!r},\n")
        out.append(f"     {{{', '.join(repr(v) for v in piece[2])}}},\n")
        out.append(f"     {{{', '.join(repr(v) for v in piece[3])}}}}},\n")
    out.append("}};\n\n}  // namespace distfn::normal_quantile_fit\n")
    with open(path, "w") as f:
        f.write("".join(out))


def main():
    header = sys.argv[1] if len(sys.argv) > 1 else "distributions/normal_quantile_coefficients.hpp"
    sweep_path = sys.argv[2] if len(sys.argv) > 2 else "tests/data/normal_quantile_sweep.csv"
    s_max = 0.5 - CENTRAL_LEAST_TAIL
    r_max = s_max * s_max * 1.0001
    r_origin = r_max / 2
    central_error, num, den = fit(central_value, 0, r_max, CENTRAL_DEGREES, r_origin)
    central = (to_doubles(num), to_doubles(den), r_origin)
    print(f"central {CENTRAL_DEGREES}: fitted {float(central_error):.3e}", file=sys.stderr)
    t_first = math.sqrt(-2.0 * math.log(CENTRAL_LEAST_TAIL))
    lows = [t_first * 0.9999 if low is None else low for low, _ in TAIL_PIECES]
    highs = lows[1:] + [LARGEST_T]
    pieces, piece_errors = [], []
    for low, high, (_, degrees) in zip(lows, highs, TAIL_PIECES):
        # z = t - origin is formed in binary64: the origin must be a double.
        origin = float(low)
        error, num, den = fit(tail_value, low, high, degrees, origin)
        pieces.append((float(low), origin, to_doubles(num), to_doubles(den)))
        piece_errors.append(error)
        print(f"tail [{low:.4g}, {high:.4g}] {degrees}: fitted {float(error):.3e}", file=sys.stderr)
    mp.mp.dps = 40
    worst = {}
    rows = []
    for tail in sweep_tails():
        exact = reference(tail)
        rows.append((tail, exact))
        approx, index = evaluate(tail, central, pieces)
        if exact != 0:
            ulps = float(abs((mpf(approx) - exact) / exact)) / 2.0**-52
            if ulps > worst.get(index, (0.0, None))[0]:
                worst[index] = (ulps, tail)
    for index, (ulps, tail) in sorted(worst.items()):
        print(f"binary64 evaluation, piece {index}: max {ulps:.3f} ulps at tail {tail!r}", file=sys.stderr)
    write_header(header, central, pieces, central_error, piece_errors)
    with open(sweep_path, "w") as f:
        f.write("tail,quantile\n")
        for tail, exact in rows:
            f.write(f"{tail!r},{mp.nstr(exact, 30)}\n")


if __name__ == "__main__":
    main()
