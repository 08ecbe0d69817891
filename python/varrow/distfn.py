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
at a count that is not an integer).  The noncentral ``*_cdf`` functions sum
each tail on its own, so both carry their relative accuracy.

``*_quantile`` functions solve to full double precision with the C quantile
functions (invt for t_quantile, and so on) from whichever of p and q is
smaller.

A quantity out of range, or one that no value of the solved quantity
reaches, raises DistfnError (a ValueError) naming the status, the bound and
the argument, as the C front ends report them.

>>> from varrow import distfn
>>> round(distfn.t_quantile(0.975, 10), 6)
2.228139
"""
import numpy as np

from . import _core

# Each front end's quantities in its argument order (after which).
_QUANTITIES = {
    "cdfbet": ("p", "q", "x", "y", "a", "b"),
    "cdfbin": ("p", "q", "s", "xn", "pr", "ompr"),
    "cdfchi": ("p", "q", "x", "df"),
    "cdfchn": ("p", "q", "x", "df", "pnonc"),
    "cdff": ("p", "q", "f", "dfn", "dfd"),
    "cdffnc": ("p", "q", "f", "dfn", "dfd", "pnonc"),
    "cdfgam": ("p", "q", "x", "shape", "scale"),
    "cdfnbn": ("p", "q", "s", "xn", "pr", "ompr"),
    "cdfnor": ("p", "q", "x", "mean", "sd"),
    "cdfpoi": ("p", "q", "s", "xlam"),
    "cdft": ("p", "q", "t", "df"),
}
# A complement defaults to 1 minus its partner.
_COMPLEMENTS = {"q": "p", "y": "x", "ompr": "pr"}


class DistfnError(ValueError):
    """A front end's failure: status and bound as the C function reports them,
    argument the name of the quantity at fault (None when none is named),
    index the position in the broadcast arguments (() for scalars)."""

    def __init__(self, message, status, bound, argument, index):
        super().__init__(message)
        self.status = status
        self.bound = bound
        self.argument = argument
        self.index = index


def _numbers(value, name):
    array = np.asarray(value)
    if array.dtype.kind not in "fiub":
        raise TypeError(f"{name} must be a number or an array of numbers, not dtype {array.dtype}")
    return array.astype(float, copy=False)


def _solve(front_end, which, outputs, **given):
    return _run(front_end, front_end, lambda quantities: _core.solve(front_end, which, quantities),
                outputs, given)


def _quantile(front_end, outputs, given):
    # The quantile functions are named after their front ends: cdft -> invt.
    function = "inv" + front_end[len("cdf"):]
    return _run(front_end, function, lambda quantities: _core.quantile(front_end, quantities),
                outputs, given)


def _run(front_end, function, solver, outputs, given):
    names = _QUANTITIES[front_end]
    inputs = {name: _numbers(value, name) for name, value in given.items() if value is not None}
    for complement, partner in _COMPLEMENTS.items():
        if complement in names and complement not in inputs and partner in inputs:
            inputs[complement] = 1.0 - inputs[partner]
    columns = np.broadcast_arrays(*(inputs.get(name, 0.0) for name in names))
    shape = columns[0].shape
    quantities = np.stack([np.ravel(column) for column in columns]).astype(float, order="C")
    failure = solver(quantities)
    if failure is not None:
        _raise(function, names, quantities, shape, *failure)
    results = tuple(_shaped(quantities[names.index(name)], shape) for name in outputs)
    return results if len(results) > 1 else results[0]


def _shaped(row, shape):
    return float(row[0]) if shape == () else row.reshape(shape)


def _raise(function, names, quantities, shape, column, status, bound):
    index = np.unravel_index(column, shape) if shape != () else ()
    where = f" at index {tuple(int(i) for i in index)}" if shape != () else ""
    argument = None
    if status < -1:
        argument = names[-status - 2]
        value = float(quantities[-status - 2, column])
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


def _case(front_end, which, *outputs):
    return lambda **given: _solve(front_end, which, outputs, **given)


def _inverse(front_end, output):
    return lambda **given: _quantile(front_end, (output,), given)


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


def _cdf(front_end, **given):
    # Case 1 of the front end; the noncentral laws sum each tail on its own.
    return _run(front_end, front_end, lambda quantities: _core.tails(front_end, quantities),
                ("p", "q"), given)


def _pdf(front_end, **given):
    # The density functions are named after their front ends: cdft -> pdft.
    function = "pdf" + front_end[len("cdf"):]
    return _run(front_end, function, lambda quantities: _core.density(front_end, quantities),
                ("p",), given)


# ---- Beta ----------------------------------------------------------------------

def beta_cdf(x, a, b, *, y=None):
    """Beta distribution with shapes a, b: (cum, ccum) at x."""
    return _cdf("cdfbet", x=x, y=y, a=a, b=b)


def beta_pdf(x, a, b, *, y=None):
    """The beta density at x (y = 1 - x may be given)."""
    return _pdf("cdfbet", x=x, y=y, a=a, b=b)


def beta_quantile(p, a, b, *, q=None):
    """The x with P[X <= x] = p."""
    return _QUANTILE["beta"](p=p, q=q, a=a, b=b)


def beta_a(p, x, b, *, q=None, y=None):
    """The first shape a with P[X <= x] = p."""
    return _solve("cdfbet", 3, ("a",), p=p, q=q, x=x, y=y, b=b)


def beta_b(p, x, a, *, q=None, y=None):
    """The second shape b with P[X <= x] = p."""
    return _solve("cdfbet", 4, ("b",), p=p, q=q, x=x, y=y, a=a)


# ---- Binomial ------------------------------------------------------------------

def binomial_cdf(s, xn, pr, *, ompr=None):
    """(cum, ccum) of s or fewer successes in xn trials of success probability pr."""
    return _cdf("cdfbin", s=s, xn=xn, pr=pr, ompr=ompr)


def binomial_pdf(s, xn, pr, *, ompr=None):
    """The probability of exactly s successes (0 where s is not an integer)."""
    return _pdf("cdfbin", s=s, xn=xn, pr=pr, ompr=ompr)


def binomial_quantile(p, xn, pr, *, q=None, ompr=None):
    """The number of successes s (continuous) with P[S <= s] = p."""
    return _QUANTILE["binomial"](p=p, q=q, xn=xn, pr=pr, ompr=ompr)


def binomial_trials(p, s, pr, *, q=None, ompr=None):
    """The number of trials xn with P[S <= s] = p."""
    return _solve("cdfbin", 3, ("xn",), p=p, q=q, s=s, pr=pr, ompr=ompr)


def binomial_probability(p, s, xn, *, q=None):
    """The success probability pr with P[S <= s] = p."""
    return _solve("cdfbin", 4, ("pr",), p=p, q=q, s=s, xn=xn)


# ---- Chi-square ----------------------------------------------------------------

def chi2_cdf(x, df):
    """Chi-square with df degrees of freedom: (cum, ccum) at x."""
    return _cdf("cdfchi", x=x, df=df)


def chi2_pdf(x, df):
    """The chi-square density at x."""
    return _pdf("cdfchi", x=x, df=df)


def chi2_quantile(p, df, *, q=None):
    """The x with P[X <= x] = p."""
    return _QUANTILE["chi2"](p=p, q=q, df=df)


def chi2_df(p, x, *, q=None):
    """The degrees of freedom with P[X <= x] = p."""
    return _solve("cdfchi", 3, ("df",), p=p, q=q, x=x)


# ---- Noncentral chi-square -------------------------------------------------------

def noncentral_chi2_cdf(x, df, pnonc):
    """Noncentral chi-square with noncentrality pnonc: (cum, ccum) at x."""
    return _cdf("cdfchn", x=x, df=df, pnonc=pnonc)


def noncentral_chi2_pdf(x, df, pnonc):
    """The noncentral chi-square density at x."""
    return _pdf("cdfchn", x=x, df=df, pnonc=pnonc)


def noncentral_chi2_quantile(p, df, pnonc, *, q=None):
    """The x with P[X <= x] = p."""
    return _QUANTILE["noncentral_chi2"](p=p, q=q, df=df, pnonc=pnonc)


def noncentral_chi2_df(p, x, pnonc):
    """The degrees of freedom with P[X <= x] = p."""
    return _solve("cdfchn", 3, ("df",), p=p, x=x, pnonc=pnonc)


def noncentral_chi2_noncentrality(p, x, df):
    """The noncentrality with P[X <= x] = p."""
    return _solve("cdfchn", 4, ("pnonc",), p=p, x=x, df=df)


# ---- F ---------------------------------------------------------------------------

def f_cdf(f, dfn, dfd):
    """F with dfn and dfd degrees of freedom: (cum, ccum) at f."""
    return _cdf("cdff", f=f, dfn=dfn, dfd=dfd)


def f_pdf(f, dfn, dfd):
    """The F density at f."""
    return _pdf("cdff", f=f, dfn=dfn, dfd=dfd)


def f_quantile(p, dfn, dfd, *, q=None):
    """The f with P[F <= f] = p."""
    return _QUANTILE["f"](p=p, q=q, dfn=dfn, dfd=dfd)


def f_dfn(p, f, dfd, *, q=None):
    """The numerator degrees of freedom with P[F <= f] = p."""
    return _solve("cdff", 3, ("dfn",), p=p, q=q, f=f, dfd=dfd)


def f_dfd(p, f, dfn, *, q=None):
    """The denominator degrees of freedom with P[F <= f] = p."""
    return _solve("cdff", 4, ("dfd",), p=p, q=q, f=f, dfn=dfn)


# ---- Noncentral F ------------------------------------------------------------------

def noncentral_f_cdf(f, dfn, dfd, pnonc):
    """Noncentral F with noncentrality pnonc: (cum, ccum) at f."""
    return _cdf("cdffnc", f=f, dfn=dfn, dfd=dfd, pnonc=pnonc)


def noncentral_f_pdf(f, dfn, dfd, pnonc):
    """The noncentral F density at f."""
    return _pdf("cdffnc", f=f, dfn=dfn, dfd=dfd, pnonc=pnonc)


def noncentral_f_quantile(p, dfn, dfd, pnonc, *, q=None):
    """The f with P[F <= f] = p."""
    return _QUANTILE["noncentral_f"](p=p, q=q, dfn=dfn, dfd=dfd, pnonc=pnonc)


def noncentral_f_dfn(p, f, dfd, pnonc):
    """The numerator degrees of freedom with P[F <= f] = p."""
    return _solve("cdffnc", 3, ("dfn",), p=p, f=f, dfd=dfd, pnonc=pnonc)


def noncentral_f_dfd(p, f, dfn, pnonc):
    """The denominator degrees of freedom with P[F <= f] = p."""
    return _solve("cdffnc", 4, ("dfd",), p=p, f=f, dfn=dfn, pnonc=pnonc)


def noncentral_f_noncentrality(p, f, dfn, dfd):
    """The noncentrality with P[F <= f] = p."""
    return _solve("cdffnc", 5, ("pnonc",), p=p, f=f, dfn=dfn, dfd=dfd)


# ---- Gamma ---------------------------------------------------------------------------

def gamma_cdf(x, shape, scale=1.0):
    """Gamma with the given shape, evaluated at x times scale (scale is the
    rate, as in cdfgam): (cum, ccum)."""
    return _cdf("cdfgam", x=x, shape=shape, scale=scale)


def gamma_pdf(x, shape, scale=1.0):
    """The gamma density of x (scale the rate: scale times the shape's
    density at x times scale)."""
    return _pdf("cdfgam", x=x, shape=shape, scale=scale)


def gamma_quantile(p, shape, scale=1.0, *, q=None):
    """The x with P[X <= x] = p."""
    return _QUANTILE["gamma"](p=p, q=q, shape=shape, scale=scale)


def gamma_shape(p, x, scale=1.0, *, q=None):
    """The shape with P[X <= x] = p."""
    return _solve("cdfgam", 3, ("shape",), p=p, q=q, x=x, scale=scale)


def gamma_scale(p, x, shape, *, q=None):
    """The scale (rate) with P[X <= x] = p."""
    return _solve("cdfgam", 4, ("scale",), p=p, q=q, x=x, shape=shape)


# ---- Negative binomial -----------------------------------------------------------------

def negative_binomial_cdf(s, xn, pr, *, ompr=None):
    """(cum, ccum) of s or fewer failures before the xn-th success."""
    return _cdf("cdfnbn", s=s, xn=xn, pr=pr, ompr=ompr)


def negative_binomial_pdf(s, xn, pr, *, ompr=None):
    """The probability of exactly s failures before the xn-th success."""
    return _pdf("cdfnbn", s=s, xn=xn, pr=pr, ompr=ompr)


def negative_binomial_quantile(p, xn, pr, *, q=None, ompr=None):
    """The number of failures s (continuous) with P[S <= s] = p."""
    return _QUANTILE["negative_binomial"](p=p, q=q, xn=xn, pr=pr, ompr=ompr)


def negative_binomial_successes(p, s, pr, *, q=None, ompr=None):
    """The number of successes xn with P[S <= s] = p."""
    return _solve("cdfnbn", 3, ("xn",), p=p, q=q, s=s, pr=pr, ompr=ompr)


def negative_binomial_probability(p, s, xn, *, q=None):
    """The success probability pr with P[S <= s] = p."""
    return _solve("cdfnbn", 4, ("pr",), p=p, q=q, s=s, xn=xn)


# ---- Normal ------------------------------------------------------------------------------

def normal_cdf(x, mean=0.0, sd=1.0):
    """Normal with the given mean and standard deviation: (cum, ccum) at x."""
    return _cdf("cdfnor", x=x, mean=mean, sd=sd)


def normal_pdf(x, mean=0.0, sd=1.0):
    """The normal density at x."""
    return _pdf("cdfnor", x=x, mean=mean, sd=sd)


def normal_quantile(p, mean=0.0, sd=1.0, *, q=None):
    """The x with P[X <= x] = p."""
    return _QUANTILE["normal"](p=p, q=q, mean=mean, sd=sd)


def normal_mean(p, x, sd=1.0, *, q=None):
    """The mean with P[X <= x] = p."""
    return _solve("cdfnor", 3, ("mean",), p=p, q=q, x=x, sd=sd)


def normal_sd(p, x, mean=0.0, *, q=None):
    """The standard deviation with P[X <= x] = p."""
    return _solve("cdfnor", 4, ("sd",), p=p, q=q, x=x, mean=mean)


# ---- Poisson -------------------------------------------------------------------------------

def poisson_cdf(s, xlam):
    """Poisson with mean xlam: (cum, ccum) of s or fewer events."""
    return _cdf("cdfpoi", s=s, xlam=xlam)


def poisson_pdf(s, xlam):
    """The probability of exactly s events (0 where s is not an integer)."""
    return _pdf("cdfpoi", s=s, xlam=xlam)


def poisson_quantile(p, xlam, *, q=None):
    """The number of events s (continuous) with P[S <= s] = p."""
    return _QUANTILE["poisson"](p=p, q=q, xlam=xlam)


def poisson_mean(p, s, *, q=None):
    """The mean xlam with P[S <= s] = p."""
    return _solve("cdfpoi", 3, ("xlam",), p=p, q=q, s=s)


# ---- Student's t -----------------------------------------------------------------------------

def t_cdf(t, df):
    """Student's t with df degrees of freedom: (cum, ccum) at t."""
    return _cdf("cdft", t=t, df=df)


def t_pdf(t, df):
    """Student's t density at t."""
    return _pdf("cdft", t=t, df=df)


def t_quantile(p, df, *, q=None):
    """The t with P[T <= t] = p."""
    return _QUANTILE["t"](p=p, q=q, df=df)


def t_df(p, t, *, q=None):
    """The degrees of freedom with P[T <= t] = p."""
    return _solve("cdft", 3, ("df",), p=p, q=q, t=t)
