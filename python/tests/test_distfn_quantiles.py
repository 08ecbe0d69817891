"""The *_quantile functions: the full-precision C quantile functions (inv*),
called directly through ctypes as the reference."""
import ctypes
import math
from typing import NamedTuple

import numpy as np
import pytest

from varrow import _core, distfn

EPS = np.finfo(float).eps
LIBRARY = ctypes.CDLL(_core.__file__)


class Law(NamedTuple):
    quantile: object
    cdf: object
    front_end: str
    params: tuple  # the Python positional parameters after p, in the C order
    outputs: int = 1
    noncentral: bool = False  # its front end solves a truncated sum

    @property
    def name(self):
        return self.quantile.__name__

    def c_params(self):
        # The binomial laws take ompr after pr; the Python functions default it to 1 - pr.
        return self.params + ((1.0 - self.params[-1],) if self.front_end in ("cdfbin", "cdfnbn") else ())

    def call_c(self, p, q):
        """The C quantile function's (status, output) at p, q."""
        function = getattr(LIBRARY, "inv" + self.front_end[len("cdf"):])
        outputs = [ctypes.c_double() for _ in range(self.outputs)]
        function.restype = ctypes.c_int
        arguments = [ctypes.c_double(v) for v in (p, q) + self.c_params()]
        status = function(*arguments, *(ctypes.byref(o) for o in outputs))
        return status, outputs[0].value

    def call(self, p, q=None):
        keywords = {} if q is None else {"q": q}
        return self.quantile(p, *self.params, **keywords)

    def front_end_case_two(self, p, q):
        """The front end's own answer to which = 2."""
        count = len(distfn._QUANTITIES[self.front_end])
        quantities = np.zeros((count, 1))
        quantities[:2, 0] = p, q
        quantities[2 + self.outputs:, 0] = self.c_params()
        assert _core.solve(self.front_end, 2, quantities) is None
        return quantities[2, 0]


# Parameters where every tail below is reachable: the discrete laws need counts
# large enough that P[S <= 0] is below 1e-300.
LAWS = [
    Law(distfn.beta_quantile, distfn.beta_cdf, "cdfbet", (2.0, 3.0), outputs=2),
    Law(distfn.binomial_quantile, distfn.binomial_cdf, "cdfbin", (2000.0, 0.5)),
    Law(distfn.chi2_quantile, distfn.chi2_cdf, "cdfchi", (3.0,)),
    Law(distfn.noncentral_chi2_quantile, distfn.noncentral_chi2_cdf, "cdfchn", (3.0, 2.0), noncentral=True),
    Law(distfn.f_quantile, distfn.f_cdf, "cdff", (3.0, 10.0)),
    Law(distfn.noncentral_f_quantile, distfn.noncentral_f_cdf, "cdffnc", (3.0, 10.0, 1.0), noncentral=True),
    Law(distfn.gamma_quantile, distfn.gamma_cdf, "cdfgam", (2.5, 2.0)),
    Law(distfn.negative_binomial_quantile, distfn.negative_binomial_cdf, "cdfnbn", (2000.0, 0.5)),
    Law(distfn.normal_quantile, distfn.normal_cdf, "cdfnor", (1.0, 2.0)),
    Law(distfn.poisson_quantile, distfn.poisson_cdf, "cdfpoi", (1000.0,)),
    Law(distfn.t_quantile, distfn.t_cdf, "cdft", (10.0,)),
]
LAW_IDS = [law.name for law in LAWS]


def lower(p):
    return p, 1.0 - p


def upper(q):
    return 1.0 - q, q


POINTS = [lower(1e-300), lower(1e-10), lower(0.3), lower(0.5), upper(1e-10), upper(1e-300)]


@pytest.mark.parametrize("law", LAWS, ids=LAW_IDS)
def test_quantiles_are_the_c_functions_results(law):
    for p, q in POINTS:
        status, expected = law.call_c(p, q)
        if status != 0:
            continue
        assert law.call(p, q) == expected, (p, q)
    ps = np.array([p for p, _ in POINTS])
    qs = np.array([q for _, q in POINTS])
    solvable = [law.call_c(p, q)[0] == 0 for p, q in POINTS]
    got = law.call(ps[solvable], qs[solvable])
    assert list(got) == [law.call_c(p, q)[1] for p, q in zip(ps[solvable], qs[solvable])]


@pytest.mark.parametrize("law", LAWS, ids=LAW_IDS)
def test_quantiles_agree_with_the_front_ends_case_two(law):
    # Down to tails of 1e-30: below, the front ends' absolute tolerance 1e-50 ends their search early.
    points = [lower(1e-30), lower(1e-10), lower(0.01), lower(0.5), lower(0.99)]
    if not law.noncentral:
        points += [upper(1e-10), upper(1e-30)]
    # The noncentral front ends solve their sums truncated at 1e-5 (1e-4 for F) of the whole.
    tolerance = 1e-4 if law.noncentral else 1e-8
    for p, q in points:
        assert law.call(p, q) == pytest.approx(law.front_end_case_two(p, q), rel=tolerance), (p, q)


def round_trip_ulps(law, x, tail, target):
    """The relative error of the law's own tail at x against target, in units
    of eps, and the bound allowed for it: four ulps of x carried through the
    tail's sensitivity (its change over one ulp of x), plus the tail's own
    rounding, which in a far tail grows like |ln target| eps because the tail
    is the exponential of sums of terms of that size (DLMF 8.11, 7.12)."""
    def at(v):
        return law.cdf(v, *law.params)[tail]
    neighbours = [at(np.nextafter(x, -np.inf)), at(np.nextafter(x, np.inf))]
    sensitivity = abs(neighbours[1] - neighbours[0]) / 2 / target / EPS
    error = abs(at(x) / target - 1) / EPS
    return error, 4 * (1 + sensitivity) + abs(math.log(target))


# (tail, target, give q): tail 0 is the cdf, 1 its complement.  A beta
# quantile near 1 carries 1 - x only to eps absolute, so its upper tail is
# meaningless.
NONCENTRAL_TAIL_ACCURACY = 1e-13
ROUND_TRIPS = [(0, 1e-300, True), (0, 1e-100, True), (0, 1e-10, True), (0, 0.5, True),
               (1, 1e-12, False), (1, 1e-12, True), (1, 1e-300, True)]


@pytest.mark.parametrize("law", LAWS, ids=LAW_IDS)
def test_cdf_of_quantile_is_p_to_full_precision(law):
    for tail, target, give_q in ROUND_TRIPS:
        if law.outputs == 2 and tail == 1:
            continue
        if tail == 0:
            x = law.call(target, 1.0 - target)
        elif give_q:
            x = law.call(1.0 - target, target)
        else:  # p alone: q defaults to the exact 1 - p
            p = 1.0 - target
            target = 1.0 - p
            x = law.call(p)
        error, allowed = round_trip_ulps(law, x, tail, target)
        if law.noncentral:
            # Their tails are Poisson mixtures summed to 1e-13 of themselves.
            allowed = max(allowed, NONCENTRAL_TAIL_ACCURACY / EPS)
        assert error <= allowed, (tail, target, x, error, allowed)


@pytest.mark.parametrize("law", LAWS, ids=LAW_IDS)
def test_p_near_one_alone_gives_a_cdf_within_an_ulp_or_two(law):
    p = 1 - 1e-12
    assert law.cdf(law.call(p), *law.params)[0] == pytest.approx(p, abs=2 * EPS)


def test_noncentral_quantiles_read_q():
    for law in LAWS:
        if law.noncentral:
            assert law.call_c(0.25, 0.123)[0] == 3
            assert law.call(0.25) == law.call_c(0.25, 0.75)[1]
            assert law.quantile(1.0, *law.params, q=1e-200) == law.call_c(1.0, 1e-200)[1]


# (call, function, status, argument, bound)
FAILURES = [
    (lambda: distfn.t_quantile(0.5, -1.0), "invt", -5, "df", 0.0),
    (lambda: distfn.t_quantile(-0.1, 3.0), "invt", -2, "p", 0.0),
    (lambda: distfn.t_quantile(0.3, 3.0, q=0.7000000001), "invt", 3, None, 1.0),
    (lambda: distfn.normal_quantile(0.5, 0.0, 0.0), "invnor", -6, "sd", 0.0),
    (lambda: distfn.normal_quantile(0.5, float("nan")), "invnor", -5, "mean", None),
    (lambda: distfn.chi2_quantile(0.5, 3.0, q=0.0), "invchi", -3, "q", 0.0),
    (lambda: distfn.gamma_quantile(0.5, -2.0), "invgam", -5, "shape", 0.0),
    (lambda: distfn.beta_quantile(0.5, 2.0, 0.0), "invbet", -7, "b", 0.0),
    (lambda: distfn.f_quantile(0.5, 3.0, -1.0), "invf", -6, "dfd", 0.0),
    (lambda: distfn.binomial_quantile(0.5, 10.0, 1.5), "invbin", -6, "pr", 1.0),
    (lambda: distfn.binomial_quantile(0.5, 10.0, 0.5, ompr=0.6), "invbin", 4, None, 1.0),
    (lambda: distfn.negative_binomial_quantile(0.5, -1.0, 0.5), "invnbn", -5, "xn", 0.0),
    (lambda: distfn.poisson_quantile(0.5, -1.0), "invpoi", -5, "xlam", 0.0),
    (lambda: distfn.poisson_quantile(1e-320, 5.0), "invpoi", 1, None, 0.0),
    (lambda: distfn.t_quantile(1e-300, 0.5), "invt", 1, None, -1e300),
    (lambda: distfn.noncentral_chi2_quantile(1.5, 3.0, 1.0), "invchn", -2, "p", 0.9999999999999999),
    # The noncentral quantile functions read q, unlike their front ends.
    (lambda: distfn.noncentral_chi2_quantile(0.5, 3.0, 1.0, q=0.6), "invchn", 3, None, 1.0),
    (lambda: distfn.noncentral_f_quantile(0.5, 3.0, 10.0, -1.0), "invfnc", -7, "pnonc", 0.0),
]


@pytest.mark.parametrize("call, function, status, argument, bound", FAILURES)
def test_failures_raise_with_status_bound_and_argument(call, function, status, argument, bound):
    with pytest.raises(distfn.DistfnError) as caught:
        call()
    error = caught.value
    assert (error.status, error.argument, error.index) == (status, argument, ())
    if bound is not None:
        assert error.bound == bound
    assert str(error).startswith(function + ":") and f"status {status}" in str(error)


def test_broadcasting_and_the_failing_element():
    ps = np.array([[0.1], [0.5], [0.975]])
    dfs = [2.0, 10.0]
    got = distfn.t_quantile(ps, dfs)
    assert got.shape == (3, 2)
    law = LAWS[LAW_IDS.index("t_quantile")]
    for (i, j), value in np.ndenumerate(got):
        assert value == law._replace(params=(dfs[j],)).call_c(ps[i, 0], 1.0 - ps[i, 0])[1]
    assert isinstance(distfn.t_quantile(0.5, 3.0), float)
    assert distfn.beta_quantile(np.float32(0.5), 2, 2) == pytest.approx(0.5, abs=1e-15)
    with pytest.raises(distfn.DistfnError, match=r"^invgam at index \(2, 1\)") as caught:
        distfn.gamma_quantile(ps, [[1.0, 2.0], [1.0, 2.0], [3.0, -2.0]])
    assert caught.value.index == (2, 1) and caught.value.argument == "shape"
