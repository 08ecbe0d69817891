"""Cumulative distribution functions of eleven distributions, and solvers for
any one of a distribution's quantities given the others.

Every function broadcasts its arguments as numpy does and returns floats for
scalar arguments, numpy arrays otherwise.  ``*_cdf`` functions return the
pair (cum, ccum) = (P[X <= value], P[X > value]); the others return the one
quantity they solve for.  Probabilities come as ``p``; its complement ``q``
(and the complement ``y`` of a beta ``x``, ``ompr`` of a success probability
``pr``) defaults to 1 minus it, and may be given for accuracy near 1.

``*_pdf`` functions return the density at the value (for the binomial,
negative binomial and Poisson laws the probability of exactly that count, 0
at a count that is not an integer), 0 beyond the support.  The noncentral
``*_cdf`` functions sum each tail on its own, so both keep their relative
accuracy.

``*_quantile`` functions solve to full double precision with the C quantile
functions (invt for t_quantile, and so on) from whichever of p and q is
smaller.

Cumulative functions take any value of their variable: beyond the support
(below 0 for a count, above xn for a binomial count, outside 0..1 for a beta
x, infinite) they return its limits, (0, 1) below and (1, 0) above.
Quantiles at p = 0 and p = 1 return the ends of the support: -inf and +inf
for the normal and t laws, 1 for the beta, xn for the binomial, 0 and +inf
for the others.  The gamma law takes its rate (the C front end's "scale"),
or numpy's scale = 1 / rate as the keyword ``scale``.

A quantity out of range, or one that no value of the solved quantity
reaches, raises DistfnError (a ValueError) naming the status, the bound and
the argument as the caller passed it, as the C front ends report them; with
``errors="nan"`` the elements that fail are NaN instead and the others are
computed.

>>> from varrow import distfn
>>> round(distfn.t_quantile(0.975, 10), 6)
2.228139
"""
import math

import numpy as np

from . import _core

# Each front end's quantities in its argument order (after which).  The
# gamma law's fifth is the rate, which cdfgam calls its scale.
_QUANTITIES = {
    "cdfbet": ("p", "q", "x", "y", "a", "b"),
    "cdfbin": ("p", "q", "s", "xn", "pr", "ompr"),
    "cdfchi": ("p", "q", "x", "df"),
    "cdfchn": ("p", "q", "x", "df", "pnonc"),
    "cdff": ("p", "q", "f", "dfn", "dfd"),
    "cdffnc": ("p", "q", "f", "dfn", "dfd", "pnonc"),
    "cdfgam": ("p", "q", "x", "shape", "rate"),
    "cdfnbn": ("p", "q", "s", "xn", "pr", "ompr"),
    "cdfnor": ("p", "q", "x", "mean", "sd"),
    "cdfpoi": ("p", "q", "s", "xlam"),
    "cdft": ("p", "q", "t", "df"),
}
# A complement defaults to 1 minus its partner.
_COMPLEMENTS = {"q": "p", "y": "x", "ompr": "pr"}
# The laws whose variable ranges over the whole real line; the others start at 0.
_REAL_LINE = ("cdfnor", "cdft")
_ERRORS = ("raise", "nan")


class DistfnError(ValueError):
    """A front end's failure: status as the C function reports it, argument
    the name of the quantity at fault as the caller passed it (None when none
    is named) and bound its limit (for a q that defaulted to 1 - p, p's; for
    the gamma scale, the scale's), index the position in the broadcast
    arguments (() for scalars)."""

    def __init__(self, message, status, bound, argument, index):
        super().__init__(message)
        self.status = status
        self.bound = bound
        self.argument = argument
        self.index = index


class _Reciprocal:
    """A quantity given as its reciprocal under another name (the gamma
    law's numpy-style scale for its rate)."""

    def __init__(self, name, value):
        self.name = name
        self.value = value


def _numbers(value, name):
    array = np.asarray(value)
    if array.dtype.kind not in "fiub":
        raise TypeError(f"{name} must be a number or an array of numbers, not dtype {array.dtype}")
    return array.astype(float, copy=False)


def _solve(front_end, which, outputs, errors, limits=None, **given):
    return _run(front_end, front_end, lambda quantities, every: _core.solve(front_end, which, quantities, every),
                outputs, given, errors, limits)


def _quantile(front_end, outputs, errors, given):
    # The quantile functions are named after their front ends: cdft -> invt.
    function = "inv" + front_end[len("cdf"):]
    return _run(front_end, function, lambda quantities, every: _core.quantile(front_end, quantities, every),
                outputs, given, errors, _support_ends)


def _run(front_end, function, solver, outputs, given, errors, limits):
    """Broadcasts the given quantities, settles the columns that limits
    decides (after the solver has checked their other quantities on a
    stand-in value), solves the rest and returns the outputs."""
    if errors not in _ERRORS:
        raise ValueError(f"errors must be one of {_ERRORS}, not {errors!r}")
    names = _QUANTITIES[front_end]
    inputs, passed = {}, {}
    for name, value in given.items():
        if isinstance(value, _Reciprocal):
            passed[name] = value.name
            with np.errstate(divide="ignore"):
                inputs[name] = 1.0 / _numbers(value.value, value.name)
        elif value is not None:
            inputs[name] = _numbers(value, name)
    for complement, partner in _COMPLEMENTS.items():
        if complement in names and complement not in inputs and partner in inputs:
            inputs[complement] = 1.0 - inputs[partner]
            passed[complement] = partner
    columns = np.broadcast_arrays(*(inputs.get(name, 0.0) for name in names))
    shape = columns[0].shape
    quantities = np.stack([np.ravel(column) for column in columns]).astype(float, order="C")
    given_values = quantities.copy()
    settled = limits(front_end, names, quantities) if limits else []
    every = errors == "nan"
    failure = solver(quantities, every)
    if every:
        failed = failure != 0
    elif failure is not None:
        _raise(function, names, given_values, shape, passed, *failure)
    results = {name: quantities[names.index(name)] for name in outputs}
    for mask, values in settled:
        for name in outputs:
            results[name][mask] = np.broadcast_to(values[name], mask.shape)[mask]
    if every:
        for name in outputs:
            results[name][failed] = np.nan
    shaped = tuple(_shaped(results[name], shape) for name in outputs)
    return shaped if len(shaped) > 1 else shaped[0]


def _shaped(row, shape):
    return float(row[0]) if shape == () else row.reshape(shape)


def _settle(quantities, names, mask, stand_ins):
    """Puts stand-in values in the masked columns, so that the solver checks
    their other quantities without reaching for an answer known already."""
    for name, value in stand_ins.items():
        quantities[names.index(name), mask] = value


def _support(front_end, names, quantities):
    """The ends of the variable's support, for every column."""
    if front_end in _REAL_LINE:
        return -math.inf, math.inf
    if front_end == "cdfbet":
        return 0.0, 1.0
    if front_end == "cdfbin":
        return 0.0, quantities[names.index("xn")].copy()
    return 0.0, math.inf


def _tail_limits(front_end, names, quantities):
    """A cumulative function's limits: (0, 1) below its variable's support,
    (1, 0) above it."""
    variable = quantities[2]
    lowest, highest = _support(front_end, names, quantities)
    below = (variable < lowest) | (variable == -math.inf)
    above = (variable > highest) | (variable == math.inf)
    stand_ins = {"x": 0.0, "y": 1.0} if front_end == "cdfbet" else {names[2]: 0.0}
    _settle(quantities, names, below | above, stand_ins)
    return [(below, {"p": 0.0, "q": 1.0}), (above, {"p": 1.0, "q": 0.0})]


def _density_limits(front_end, names, quantities):
    """A density's value beyond its variable's support, and at infinity: 0."""
    outside = [mask for mask, _ in _tail_limits(front_end, names, quantities)]
    return [(outside[0] | outside[1], {"p": 0.0})]


def _support_ends(front_end, names, quantities):
    """A quantile's values at p = 0 and p = 1: the ends of the support."""
    p, q = quantities[0], quantities[1]
    lowest = (p == 0) & (q == 1)
    highest = (p == 1) & (q == 0)
    lower_end, upper_end = _support(front_end, names, quantities)
    _settle(quantities, names, lowest | highest, {"p": 0.5, "q": 0.5})
    return [(lowest, {names[2]: lower_end}), (highest, {names[2]: upper_end})]


def _raise(function, names, quantities, shape, passed, column, status, bound):
    index = np.unravel_index(column, shape) if shape != () else ()
    where = f" at index {tuple(int(i) for i in index)}" if shape != () else ""
    argument = None
    if status < -1:
        argument, value, bound = _as_passed(names, quantities, passed, -status - 2, column, bound)
        if math.isnan(value):
            reason = f"{argument} = nan is not a number"
        else:
            reason = f"{argument} = {value!r} is out of range (limit {bound!r})"
    elif status in (1, 2):
        reason = f"no solution: the search ended at its {('lower', 'upper')[status - 1]} limit {bound!r}"
    elif status == 3:
        reason = "p + q is not 1"
    elif status == 4:
        reason = "x + y is not 1" if "y" in names else "pr + ompr is not 1"
    elif status == 10:
        reason = "the incomplete gamma computations failed"
    else:
        reason = f"which is out of range (nearest valid {bound!r})"
    raise DistfnError(f"{function}{where}: {reason} (status {status}, bound {bound!r})",
                      status, bound, argument, index)


def _as_passed(names, quantities, passed, row, column, bound):
    """The argument at fault, its value and its limit as the caller passed
    them: a defaulted complement is reported as its partner (q = 1 - p: its
    limit 0 is p's limit 1), a reciprocal under its own name."""
    name = names[row]
    value = float(quantities[row, column])
    if name not in passed:
        return name, value, bound
    if name in _COMPLEMENTS:
        partner = _COMPLEMENTS[name]
        return partner, float(quantities[names.index(partner), column]), 1.0 - bound
    with np.errstate(divide="ignore"):
        given = float(np.divide(1.0, value))
        limit = float(np.divide(1.0, bound)) if given > 0 else 0.0
    return passed[name], given, limit


def _inverse(front_end, output):
    return lambda errors="raise", **given: _quantile(front_end, (output,), errors, given)


# Each distribution's quantile: its full-precision quantile function, which
# solves its front end's case 2.
_QUANTILE = {
    "beta": _inverse("cdfbet", "x"),
    "binomial": _inverse("cdfbin", "s"),
    "chi2": _inverse("cdfchi", "x"),
    "noncentral_chi2": _inverse("cdfchn", "x"),
    "f": _inverse("cdff", "f"),
    "noncentral_f": _inverse("cdffnc", "f"),
    "gamma": _inverse("cdfgam", "x"),
    "negative_binomial": _inverse("cdfnbn", "s"),
    "normal": _inverse("cdfnor", "x"),
    "poisson": _inverse("cdfpoi", "s"),
    "t": _inverse("cdft", "t"),
}


def _cdf(front_end, errors, **given):
    # Case 1 of the front end; the noncentral laws sum each tail on its own.
    return _run(front_end, front_end, lambda quantities, every: _core.tails(front_end, quantities, every),
                ("p", "q"), given, errors, _tail_limits)


def _pdf(front_end, errors, **given):
    # The density functions are named after their front ends: cdft -> pdft.
    function = "pdf" + front_end[len("cdf"):]
    return _run(front_end, function, lambda quantities, every: _core.density(front_end, quantities, every),
                ("p",), given, errors, _density_limits)


def _rate(rate, scale):
    """The gamma rate from either rate or numpy's scale = 1 / rate."""
    if scale is None:
        return 1.0 if rate is None else rate
    if rate is not None:
        raise TypeError("give the gamma law's rate or its scale (1 / rate), not both")
    return _Reciprocal("scale", scale)


# ---- Beta ----------------------------------------------------------------------

def beta_cdf(x, a, b, *, y=None, errors="raise"):
    """Beta distribution with shapes a, b: (cum, ccum) at x."""
    return _cdf("cdfbet", errors, x=x, y=y, a=a, b=b)


def beta_pdf(x, a, b, *, y=None, errors="raise"):
    """The beta density at x (y = 1 - x may be given)."""
    return _pdf("cdfbet", errors, x=x, y=y, a=a, b=b)


def beta_quantile(p, a, b, *, q=None, errors="raise"):
    """The x with P[X <= x] = p."""
    return _QUANTILE["beta"](errors, p=p, q=q, a=a, b=b)


def beta_a(p, x, b, *, q=None, y=None, errors="raise"):
    """The first shape a with P[X <= x] = p."""
    return _solve("cdfbet", 3, ("a",), errors, p=p, q=q, x=x, y=y, b=b)


def beta_b(p, x, a, *, q=None, y=None, errors="raise"):
    """The second shape b with P[X <= x] = p."""
    return _solve("cdfbet", 4, ("b",), errors, p=p, q=q, x=x, y=y, a=a)


# ---- Binomial ------------------------------------------------------------------

def binomial_cdf(s, xn, pr, *, ompr=None, errors="raise"):
    """(cum, ccum) of s or fewer successes in xn trials of success probability pr."""
    return _cdf("cdfbin", errors, s=s, xn=xn, pr=pr, ompr=ompr)


def binomial_pdf(s, xn, pr, *, ompr=None, errors="raise"):
    """The probability of exactly s successes (0 where s is not an integer)."""
    return _pdf("cdfbin", errors, s=s, xn=xn, pr=pr, ompr=ompr)


def binomial_quantile(p, xn, pr, *, q=None, ompr=None, errors="raise"):
    """The number of successes s (continuous) with P[S <= s] = p."""
    return _QUANTILE["binomial"](errors, p=p, q=q, xn=xn, pr=pr, ompr=ompr)


def binomial_trials(p, s, pr, *, q=None, ompr=None, errors="raise"):
    """The number of trials xn with P[S <= s] = p."""
    return _solve("cdfbin", 3, ("xn",), errors, p=p, q=q, s=s, pr=pr, ompr=ompr)


def binomial_probability(p, s, xn, *, q=None, errors="raise"):
    """The success probability pr with P[S <= s] = p."""
    return _solve("cdfbin", 4, ("pr",), errors, p=p, q=q, s=s, xn=xn)


# ---- Chi-square ----------------------------------------------------------------

def chi2_cdf(x, df, *, errors="raise"):
    """Chi-square with df degrees of freedom: (cum, ccum) at x."""
    return _cdf("cdfchi", errors, x=x, df=df)


def chi2_pdf(x, df, *, errors="raise"):
    """The chi-square density at x."""
    return _pdf("cdfchi", errors, x=x, df=df)


def chi2_quantile(p, df, *, q=None, errors="raise"):
    """The x with P[X <= x] = p."""
    return _QUANTILE["chi2"](errors, p=p, q=q, df=df)


def chi2_df(p, x, *, q=None, errors="raise"):
    """The degrees of freedom with P[X <= x] = p."""
    return _solve("cdfchi", 3, ("df",), errors, p=p, q=q, x=x)


# ---- Noncentral chi-square -------------------------------------------------------

def noncentral_chi2_cdf(x, df, pnonc, *, errors="raise"):
    """Noncentral chi-square with noncentrality pnonc: (cum, ccum) at x."""
    return _cdf("cdfchn", errors, x=x, df=df, pnonc=pnonc)


def noncentral_chi2_pdf(x, df, pnonc, *, errors="raise"):
    """The noncentral chi-square density at x."""
    return _pdf("cdfchn", errors, x=x, df=df, pnonc=pnonc)


def noncentral_chi2_quantile(p, df, pnonc, *, q=None, errors="raise"):
    """The x with P[X <= x] = p."""
    return _QUANTILE["noncentral_chi2"](errors, p=p, q=q, df=df, pnonc=pnonc)


def noncentral_chi2_df(p, x, pnonc, *, errors="raise"):
    """The degrees of freedom with P[X <= x] = p."""
    return _solve("cdfchn", 3, ("df",), errors, p=p, x=x, pnonc=pnonc)


def noncentral_chi2_noncentrality(p, x, df, *, errors="raise"):
    """The noncentrality with P[X <= x] = p."""
    return _solve("cdfchn", 4, ("pnonc",), errors, p=p, x=x, df=df)


# ---- F ---------------------------------------------------------------------------

def f_cdf(f, dfn, dfd, *, errors="raise"):
    """F with dfn and dfd degrees of freedom: (cum, ccum) at f."""
    return _cdf("cdff", errors, f=f, dfn=dfn, dfd=dfd)


def f_pdf(f, dfn, dfd, *, errors="raise"):
    """The F density at f."""
    return _pdf("cdff", errors, f=f, dfn=dfn, dfd=dfd)


def f_quantile(p, dfn, dfd, *, q=None, errors="raise"):
    """The f with P[F <= f] = p."""
    return _QUANTILE["f"](errors, p=p, q=q, dfn=dfn, dfd=dfd)


def f_dfn(p, f, dfd, *, q=None, errors="raise"):
    """The numerator degrees of freedom with P[F <= f] = p."""
    return _solve("cdff", 3, ("dfn",), errors, p=p, q=q, f=f, dfd=dfd)


def f_dfd(p, f, dfn, *, q=None, errors="raise"):
    """The denominator degrees of freedom with P[F <= f] = p."""
    return _solve("cdff", 4, ("dfd",), errors, p=p, q=q, f=f, dfn=dfn)


# ---- Noncentral F ------------------------------------------------------------------

def noncentral_f_cdf(f, dfn, dfd, pnonc, *, errors="raise"):
    """Noncentral F with noncentrality pnonc: (cum, ccum) at f."""
    return _cdf("cdffnc", errors, f=f, dfn=dfn, dfd=dfd, pnonc=pnonc)


def noncentral_f_pdf(f, dfn, dfd, pnonc, *, errors="raise"):
    """The noncentral F density at f."""
    return _pdf("cdffnc", errors, f=f, dfn=dfn, dfd=dfd, pnonc=pnonc)


def noncentral_f_quantile(p, dfn, dfd, pnonc, *, q=None, errors="raise"):
    """The f with P[F <= f] = p."""
    return _QUANTILE["noncentral_f"](errors, p=p, q=q, dfn=dfn, dfd=dfd, pnonc=pnonc)


def noncentral_f_dfn(p, f, dfd, pnonc, *, errors="raise"):
    """The numerator degrees of freedom with P[F <= f] = p."""
    return _solve("cdffnc", 3, ("dfn",), errors, p=p, f=f, dfd=dfd, pnonc=pnonc)


def noncentral_f_dfd(p, f, dfn, pnonc, *, errors="raise"):
    """The denominator degrees of freedom with P[F <= f] = p."""
    return _solve("cdffnc", 4, ("dfd",), errors, p=p, f=f, dfn=dfn, pnonc=pnonc)


def noncentral_f_noncentrality(p, f, dfn, dfd, *, errors="raise"):
    """The noncentrality with P[F <= f] = p."""
    return _solve("cdffnc", 5, ("pnonc",), errors, p=p, f=f, dfn=dfn, dfd=dfd)


# ---- Gamma ---------------------------------------------------------------------------
# The rate is cdfgam's "scale"; numpy's scale (1 / rate) may be given instead,
# as the keyword scale.

def gamma_cdf(x, shape, rate=None, *, scale=None, errors="raise"):
    """Gamma with the given shape and rate (default 1; or scale = 1 / rate):
    (cum, ccum) at x."""
    return _cdf("cdfgam", errors, x=x, shape=shape, rate=_rate(rate, scale))


def gamma_pdf(x, shape, rate=None, *, scale=None, errors="raise"):
    """The gamma density at x, with the given shape and rate (default 1; or
    scale = 1 / rate)."""
    return _pdf("cdfgam", errors, x=x, shape=shape, rate=_rate(rate, scale))


def gamma_quantile(p, shape, rate=None, *, scale=None, q=None, errors="raise"):
    """The x with P[X <= x] = p."""
    return _QUANTILE["gamma"](errors, p=p, q=q, shape=shape, rate=_rate(rate, scale))


def gamma_shape(p, x, rate=None, *, scale=None, q=None, errors="raise"):
    """The shape with P[X <= x] = p."""
    return _solve("cdfgam", 3, ("shape",), errors, p=p, q=q, x=x, rate=_rate(rate, scale))


def gamma_rate(p, x, shape, *, q=None, errors="raise"):
    """The rate with P[X <= x] = p."""
    return _solve("cdfgam", 4, ("rate",), errors, p=p, q=q, x=x, shape=shape)


def gamma_scale(p, x, shape, *, q=None, errors="raise"):
    """The scale (1 / rate, as numpy names it) with P[X <= x] = p."""
    return 1.0 / gamma_rate(p, x, shape, q=q, errors=errors)


# ---- Negative binomial -----------------------------------------------------------------

def negative_binomial_cdf(s, xn, pr, *, ompr=None, errors="raise"):
    """(cum, ccum) of s or fewer failures before the xn-th success."""
    return _cdf("cdfnbn", errors, s=s, xn=xn, pr=pr, ompr=ompr)


def negative_binomial_pdf(s, xn, pr, *, ompr=None, errors="raise"):
    """The probability of exactly s failures before the xn-th success."""
    return _pdf("cdfnbn", errors, s=s, xn=xn, pr=pr, ompr=ompr)


def negative_binomial_quantile(p, xn, pr, *, q=None, ompr=None, errors="raise"):
    """The number of failures s (continuous) with P[S <= s] = p."""
    return _QUANTILE["negative_binomial"](errors, p=p, q=q, xn=xn, pr=pr, ompr=ompr)


def negative_binomial_successes(p, s, pr, *, q=None, ompr=None, errors="raise"):
    """The number of successes xn with P[S <= s] = p."""
    return _solve("cdfnbn", 3, ("xn",), errors, p=p, q=q, s=s, pr=pr, ompr=ompr)


def negative_binomial_probability(p, s, xn, *, q=None, errors="raise"):
    """The success probability pr with P[S <= s] = p."""
    return _solve("cdfnbn", 4, ("pr",), errors, p=p, q=q, s=s, xn=xn)


# ---- Normal ------------------------------------------------------------------------------

def normal_cdf(x, mean=0.0, sd=1.0, *, errors="raise"):
    """Normal with the given mean and standard deviation: (cum, ccum) at x."""
    return _cdf("cdfnor", errors, x=x, mean=mean, sd=sd)


def normal_pdf(x, mean=0.0, sd=1.0, *, errors="raise"):
    """The normal density at x."""
    return _pdf("cdfnor", errors, x=x, mean=mean, sd=sd)


def normal_quantile(p, mean=0.0, sd=1.0, *, q=None, errors="raise"):
    """The x with P[X <= x] = p."""
    return _QUANTILE["normal"](errors, p=p, q=q, mean=mean, sd=sd)


def normal_mean(p, x, sd=1.0, *, q=None, errors="raise"):
    """The mean with P[X <= x] = p."""
    return _solve("cdfnor", 3, ("mean",), errors, p=p, q=q, x=x, sd=sd)


def normal_sd(p, x, mean=0.0, *, q=None, errors="raise"):
    """The standard deviation with P[X <= x] = p."""
    return _solve("cdfnor", 4, ("sd",), errors, p=p, q=q, x=x, mean=mean)


# ---- Poisson -------------------------------------------------------------------------------

def poisson_cdf(s, xlam, *, errors="raise"):
    """Poisson with mean xlam: (cum, ccum) of s or fewer events."""
    return _cdf("cdfpoi", errors, s=s, xlam=xlam)


def poisson_pdf(s, xlam, *, errors="raise"):
    """The probability of exactly s events (0 where s is not an integer)."""
    return _pdf("cdfpoi", errors, s=s, xlam=xlam)


def poisson_quantile(p, xlam, *, q=None, errors="raise"):
    """The number of events s (continuous) with P[S <= s] = p."""
    return _QUANTILE["poisson"](errors, p=p, q=q, xlam=xlam)


def poisson_mean(p, s, *, q=None, errors="raise"):
    """The mean xlam with P[S <= s] = p."""
    return _solve("cdfpoi", 3, ("xlam",), errors, p=p, q=q, s=s)


# ---- Student's t -----------------------------------------------------------------------------

def t_cdf(t, df, *, errors="raise"):
    """Student's t with df degrees of freedom: (cum, ccum) at t."""
    return _cdf("cdft", errors, t=t, df=df)


def t_pdf(t, df, *, errors="raise"):
    """Student's t density at t."""
    return _pdf("cdft", errors, t=t, df=df)


def t_quantile(p, df, *, q=None, errors="raise"):
    """The t with P[T <= t] = p."""
    return _QUANTILE["t"](errors, p=p, q=q, df=df)


def t_df(p, t, *, q=None, errors="raise"):
    """The degrees of freedom with P[T <= t] = p."""
    return _solve("cdft", 3, ("df",), errors, p=p, q=q, t=t)
