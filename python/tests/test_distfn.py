import math

import numpy as np
import pytest

from varrow import distfn

E = math.exp(1.0)

# (cdf, arguments, cum): values in closed form.
CLOSED_FORM = [
    (distfn.beta_cdf, (0.3, 1.0, 1.0), 0.3),
    (distfn.beta_cdf, (0.3, 2.0, 1.0), 0.09),
    (distfn.binomial_cdf, (1.0, 3.0, 0.5), 0.5),
    (distfn.negative_binomial_cdf, (0.0, 1.0, 0.3), 0.3),
    (distfn.t_cdf, (1.0, 1.0), 0.75),
    (distfn.f_cdf, (1.0, 4.0, 4.0), 0.5),
    (distfn.noncentral_f_cdf, (1.0, 4.0, 4.0, 0.0), 0.5),
    (distfn.gamma_cdf, (1.0, 1.0), 1 - 1 / E),
    (distfn.gamma_cdf, (0.5, 1.0, 2.0), 1 - 1 / E),
    (distfn.chi2_cdf, (2.0, 2.0), 1 - 1 / E),
    (distfn.noncentral_chi2_cdf, (2.0, 2.0, 0.0), 1 - 1 / E),
    (distfn.poisson_cdf, (2.0, 1.0), 2.5 / E),
    (distfn.normal_cdf, (1.959963984540054,), 0.975),
    (distfn.normal_cdf, (3.0, 1.0, 2.0), 0.8413447460685429),
]


@pytest.mark.parametrize("cdf, args, cum", CLOSED_FORM, ids=lambda v: getattr(v, "__name__", None))
def test_cdfs_return_cum_and_ccum(cdf, args, cum):
    p, q = cdf(*args)
    assert p == pytest.approx(cum, rel=1e-13)
    assert q == pytest.approx(1 - cum, rel=1e-12)


# (solver, arguments, cdf giving p from the solution, how the solution enters the cdf's arguments).
SOLVERS = [
    (distfn.beta_quantile, (0.2, 2.0, 3.0), lambda x: distfn.beta_cdf(x, 2.0, 3.0)),
    (distfn.beta_a, (0.2, 0.4, 3.0), lambda a: distfn.beta_cdf(0.4, a, 3.0)),
    (distfn.beta_b, (0.2, 0.4, 2.0), lambda b: distfn.beta_cdf(0.4, 2.0, b)),
    (distfn.binomial_quantile, (0.5, 20.0, 0.3), lambda s: distfn.binomial_cdf(s, 20.0, 0.3)),
    (distfn.binomial_trials, (0.5, 3.0, 0.3), lambda xn: distfn.binomial_cdf(3.0, xn, 0.3)),
    (distfn.binomial_probability, (0.5, 3.0, 10.0), lambda pr: distfn.binomial_cdf(3.0, 10.0, pr)),
    (distfn.chi2_quantile, (0.95, 3.0), lambda x: distfn.chi2_cdf(x, 3.0)),
    (distfn.chi2_df, (0.95, 7.0), lambda df: distfn.chi2_cdf(7.0, df)),
    (distfn.noncentral_chi2_quantile, (0.9, 3.0, 2.0), lambda x: distfn.noncentral_chi2_cdf(x, 3.0, 2.0)),
    (distfn.noncentral_chi2_df, (0.5, 6.0, 2.0), lambda df: distfn.noncentral_chi2_cdf(6.0, df, 2.0)),
    (distfn.noncentral_chi2_noncentrality, (0.5, 6.0, 2.0),
     lambda nc: distfn.noncentral_chi2_cdf(6.0, 2.0, nc)),
    (distfn.f_quantile, (0.95, 3.0, 10.0), lambda f: distfn.f_cdf(f, 3.0, 10.0)),
    (distfn.f_dfn, (0.9, 2.0, 10.0), lambda dfn: distfn.f_cdf(2.0, dfn, 10.0)),
    (distfn.f_dfd, (0.9, 3.0, 5.0), lambda dfd: distfn.f_cdf(3.0, 5.0, dfd)),
    (distfn.noncentral_f_quantile, (0.9, 3.0, 10.0, 1.0), lambda f: distfn.noncentral_f_cdf(f, 3.0, 10.0, 1.0)),
    (distfn.noncentral_f_dfn, (0.75, 2.0, 10.0, 1.0), lambda d: distfn.noncentral_f_cdf(2.0, d, 10.0, 1.0)),
    (distfn.noncentral_f_dfd, (0.7, 2.0, 3.0, 1.0), lambda d: distfn.noncentral_f_cdf(2.0, 3.0, d, 1.0)),
    (distfn.noncentral_f_noncentrality, (0.5, 2.0, 3.0, 10.0),
     lambda nc: distfn.noncentral_f_cdf(2.0, 3.0, 10.0, nc)),
    (distfn.gamma_quantile, (0.3, 2.5, 2.0), lambda x: distfn.gamma_cdf(x, 2.5, 2.0)),
    (distfn.gamma_shape, (0.3, 4.0, 2.0), lambda a: distfn.gamma_cdf(4.0, a, 2.0)),
    (distfn.gamma_rate, (0.3, 4.0, 2.5), lambda rate: distfn.gamma_cdf(4.0, 2.5, rate)),
    (distfn.gamma_scale, (0.3, 4.0, 2.5), lambda sc: distfn.gamma_cdf(4.0, 2.5, scale=sc)),
    (distfn.negative_binomial_quantile, (0.5, 5.0, 0.4),
     lambda s: distfn.negative_binomial_cdf(s, 5.0, 0.4)),
    (distfn.negative_binomial_successes, (0.5, 5.0, 0.4),
     lambda xn: distfn.negative_binomial_cdf(5.0, xn, 0.4)),
    (distfn.negative_binomial_probability, (0.5, 5.0, 3.0),
     lambda pr: distfn.negative_binomial_cdf(5.0, 3.0, pr)),
    (distfn.normal_quantile, (0.975, 1.0, 2.0), lambda x: distfn.normal_cdf(x, 1.0, 2.0)),
    (distfn.normal_mean, (0.975, 5.0, 2.0), lambda m: distfn.normal_cdf(5.0, m, 2.0)),
    (distfn.normal_sd, (0.975, 5.0, 1.0), lambda sd: distfn.normal_cdf(5.0, 1.0, sd)),
    (distfn.poisson_quantile, (0.5, 4.0), lambda s: distfn.poisson_cdf(s, 4.0)),
    (distfn.poisson_mean, (0.5, 4.0), lambda lam: distfn.poisson_cdf(4.0, lam)),
    (distfn.t_quantile, (0.975, 10.0), lambda t: distfn.t_cdf(t, 10.0)),
    (distfn.t_df, (0.975, 2.5), lambda df: distfn.t_cdf(2.5, df)),
]


@pytest.mark.parametrize("solver, args, cdf", SOLVERS, ids=lambda v: getattr(v, "__name__", None))
def test_solvers_invert_their_cdf(solver, args, cdf):
    solution = solver(*args)
    assert isinstance(solution, float)
    # The noncentral front ends solve for a parameter on their sums truncated
    # at 1e-5 (1e-4 for F) of the whole; the cdfs sum each tail in full.
    truncated = solver.__name__.startswith("noncentral") and not solver.__name__.endswith("_quantile")
    assert cdf(solution)[0] == pytest.approx(args[0], rel=1e-4 if truncated else 1e-7)


def test_known_quantiles():
    assert distfn.t_quantile(0.975, 10) == pytest.approx(2.2281388519862747, rel=4e-16)
    assert distfn.normal_quantile(0.975) == pytest.approx(1.959963984540054, rel=1e-14)
    assert distfn.normal_quantile(0.5, q=0.5) == pytest.approx(0.0, abs=1e-15)


def test_broadcasting_and_shapes():
    p, q = distfn.t_cdf(np.array([[0.0], [1.0]]), [1.0, 2.0, 3.0])
    assert p.shape == q.shape == (2, 3)
    np.testing.assert_allclose(p[0], 0.5)
    assert p[1, 0] == pytest.approx(0.75)
    np.testing.assert_allclose(p + q, 1.0)
    quantiles = distfn.chi2_quantile(np.linspace(0.1, 0.9, 5), df=np.array([2.0]))
    assert quantiles.shape == (5,)
    np.testing.assert_allclose(distfn.chi2_cdf(quantiles, 2.0)[0], np.linspace(0.1, 0.9, 5), rtol=1e-8)
    assert distfn.normal_cdf(np.float32(0.0)) == (0.5, 0.5)


def test_complements_given_for_accuracy_near_one():
    tail = 1e-20
    assert distfn.normal_quantile(1 - tail, q=tail) == pytest.approx(9.262340089798408, rel=1e-10)
    assert distfn.beta_cdf(1 - 1e-18, 2.0, 2.0, y=1e-18)[1] == pytest.approx(3e-36, rel=1e-6)


# (call, status, argument, bound)
FAILURES = [
    (lambda: distfn.t_cdf(1.0, -1.0), -5, "df", 0.0),
    (lambda: distfn.t_quantile(-0.25, 10.0), -2, "p", 0.0),
    (lambda: distfn.chi2_quantile(0.5, 3.0, q=0.0), -3, "q", 0.0),
    (lambda: distfn.binomial_cdf(1.0, 3.0, -0.5), -6, "pr", 0.0),
    (lambda: distfn.binomial_cdf(1.0, 0.0, 0.5), -5, "xn", 0.0),
    (lambda: distfn.binomial_cdf(1.0, 3.0, 1.5), -6, "pr", 1.0),
    (lambda: distfn.noncentral_chi2_quantile(1.5, 3.0, 1.0), -2, "p", 0.9999999999999999),
    (lambda: distfn.t_quantile(0.3, 10.0, q=0.7000000001), 3, None, 1.0),
    (lambda: distfn.binomial_cdf(1.0, 3.0, 0.5, ompr=0.6), 4, None, 1.0),
    (lambda: distfn.poisson_quantile(1e-320, 5.0), 1, None, 0.0),
    (lambda: distfn.t_df(0.975, 0.1), 2, None, 1e10),
    (lambda: distfn.t_cdf(float("nan"), 3.0), -4, "t", None),
]


@pytest.mark.parametrize("call, status, argument, bound", FAILURES)
def test_failures_raise_with_status_bound_and_argument(call, status, argument, bound):
    with pytest.raises(distfn.DistfnError) as caught:
        call()
    error = caught.value
    assert isinstance(error, ValueError)
    assert (error.status, error.argument) == (status, argument)
    if bound is not None:
        assert error.bound == bound
    assert f"status {status}" in str(error)


def test_failure_in_an_array_names_the_element():
    with pytest.raises(distfn.DistfnError, match=r"index \(1, 0\)") as caught:
        distfn.t_cdf(np.zeros((2, 2)), np.array([[1.0, 2.0], [-1.0, 4.0]]))
    assert caught.value.index == (1, 0) and caught.value.argument == "df"


@pytest.mark.parametrize("bad", ["3", [None], 1j])
def test_wrong_types_raise_type_error(bad):
    with pytest.raises(TypeError):
        distfn.t_cdf(bad, 3.0)


INF = math.inf

# (cdf, arguments, (cum, ccum)): beyond the support and at infinity, the limits.
LIMITS = [
    (distfn.normal_cdf, (INF,), (1.0, 0.0)),
    (distfn.normal_cdf, (-INF, 3.0, 2.0), (0.0, 1.0)),
    (distfn.t_cdf, (INF, 3.0), (1.0, 0.0)),
    (distfn.t_cdf, (-INF, 3.0), (0.0, 1.0)),
    (distfn.poisson_cdf, (-1.0, 3.0), (0.0, 1.0)),
    (distfn.poisson_cdf, (INF, 3.0), (1.0, 0.0)),
    (distfn.binomial_cdf, (11.0, 10.0, 0.3), (1.0, 0.0)),
    (distfn.binomial_cdf, (-0.5, 10.0, 0.3), (0.0, 1.0)),
    (distfn.negative_binomial_cdf, (-1.0, 3.0, 0.3), (0.0, 1.0)),
    (distfn.negative_binomial_cdf, (INF, 3.0, 0.3), (1.0, 0.0)),
    (distfn.chi2_cdf, (-1.0, 3.0), (0.0, 1.0)),
    (distfn.chi2_cdf, (INF, 3.0), (1.0, 0.0)),
    (distfn.noncentral_chi2_cdf, (-INF, 3.0, 1.0), (0.0, 1.0)),
    (distfn.noncentral_chi2_cdf, (INF, 3.0, 1.0), (1.0, 0.0)),
    (distfn.gamma_cdf, (-1.0, 2.0), (0.0, 1.0)),
    (distfn.gamma_cdf, (INF, 2.0, 0.5), (1.0, 0.0)),
    (distfn.beta_cdf, (-0.5, 2.0, 3.0), (0.0, 1.0)),
    (distfn.beta_cdf, (1.5, 2.0, 3.0), (1.0, 0.0)),
    (distfn.f_cdf, (-1.0, 2.0, 3.0), (0.0, 1.0)),
    (distfn.f_cdf, (INF, 2.0, 3.0), (1.0, 0.0)),
    (distfn.noncentral_f_cdf, (-1.0, 3.0, 4.0, 1.0), (0.0, 1.0)),
    (distfn.noncentral_f_cdf, (INF, 3.0, 4.0, 1.0), (1.0, 0.0)),
]


@pytest.mark.parametrize("cdf, args, limits", LIMITS, ids=lambda v: getattr(v, "__name__", None))
def test_cdfs_beyond_the_support_return_their_limits(cdf, args, limits):
    assert cdf(*args) == limits
    cum, ccum = cdf(*(np.array([a, a]) if i == 0 else a for i, a in enumerate(args)))
    assert cum.tolist() == [limits[0]] * 2 and ccum.tolist() == [limits[1]] * 2


def test_limits_still_check_the_other_arguments():
    for call, argument in [(lambda: distfn.t_cdf(INF, -1.0), "df"),
                           (lambda: distfn.binomial_cdf(11.0, -10.0, 0.3), "xn"),
                           (lambda: distfn.beta_cdf(2.0, 0.0, 3.0), "a"),
                           (lambda: distfn.normal_cdf(np.nan), "x")]:
        with pytest.raises(distfn.DistfnError) as caught:
            call()
        assert caught.value.argument == argument


# (quantile, parameters, value at p = 0, value at p = 1): the ends of the support.
ENDS = [
    (distfn.normal_quantile, (1.0, 2.0), -INF, INF),
    (distfn.t_quantile, (3.0,), -INF, INF),
    (distfn.chi2_quantile, (3.0,), 0.0, INF),
    (distfn.noncentral_chi2_quantile, (3.0, 1.0), 0.0, INF),
    (distfn.gamma_quantile, (2.0, 0.5), 0.0, INF),
    (distfn.beta_quantile, (2.0, 3.0), 0.0, 1.0),
    (distfn.f_quantile, (2.0, 3.0), 0.0, INF),
    (distfn.noncentral_f_quantile, (3.0, 4.0, 1.0), 0.0, INF),
    (distfn.binomial_quantile, (10.0, 0.3), 0.0, 10.0),
    (distfn.negative_binomial_quantile, (3.0, 0.3), 0.0, INF),
    (distfn.poisson_quantile, (3.0,), 0.0, INF),
]


@pytest.mark.parametrize("quantile, params, lowest, highest", ENDS, ids=lambda v: getattr(v, "__name__", None))
def test_quantiles_at_0_and_1_are_the_ends_of_the_support(quantile, params, lowest, highest):
    assert quantile(0.0, *params) == lowest and quantile(1.0, *params) == highest
    assert quantile([0.0, 1.0], *params).tolist() == [lowest, highest]
    assert quantile(1.0, *params, q=0.0) == highest and quantile(0.0, *params, q=1.0) == lowest
    with pytest.raises(distfn.DistfnError):
        quantile(0.0, *params, q=0.5)  # p + q is not 1


def test_ends_still_check_the_other_arguments():
    with pytest.raises(distfn.DistfnError) as caught:
        distfn.normal_quantile(0.0, sd=-1.0)
    assert caught.value.argument == "sd"


# (call, message): numbers as repr prints them, the argument as the caller named it.
MESSAGES = [
    (lambda: distfn.t_quantile(1.5, 3.0), "invt: p = 1.5 is out of range (limit 1.0)"),
    (lambda: distfn.t_df(1.0, 2.0), "cdft: p = 1.0 is out of range (limit 1.0)"),  # not the q = 1 - p it made
    (lambda: distfn.f_cdf(1.0, -1e-300, 3.0), "cdff: dfn = -1e-300 is out of range (limit 0.0)"),
    (lambda: distfn.normal_cdf(0.0, sd=np.nan), "cdfnor: sd = nan is not a number"),
    (lambda: distfn.gamma_cdf(1.0, 2.0, scale=-1.0), "cdfgam: scale = -1.0 is out of range (limit 0.0)"),
    (lambda: distfn.gamma_quantile(0.5, 2.0, scale=INF), "invgam: scale = inf is out of range (limit inf)"),
    (lambda: distfn.gamma_cdf(1.0, 2.0, -1.0), "cdfgam: rate = -1.0 is out of range (limit 0.0)"),
]


@pytest.mark.parametrize("call, message", MESSAGES)
def test_messages_name_the_argument_passed(call, message):
    with pytest.raises(distfn.DistfnError) as caught:
        call()
    assert str(caught.value).startswith(message)
    assert "0.000000" not in str(caught.value)
    assert caught.value.argument == message.split(": ")[1].split(" = ")[0]


def test_gamma_takes_its_rate_or_numpys_scale():
    x = np.array([0.5, 1.0, 4.0])
    assert np.array_equal(distfn.gamma_cdf(x, 2.5, scale=0.5)[0], distfn.gamma_cdf(x, 2.5, 2.0)[0])
    assert distfn.gamma_cdf(1.0, 2.0, rate=3.0) == distfn.gamma_cdf(3.0, 2.0)  # the rate scales x
    assert distfn.gamma_quantile(0.3, 2.5, scale=4.0) == distfn.gamma_quantile(0.3, 2.5, 0.25)
    assert distfn.gamma_shape(0.3, 4.0, scale=0.5) == distfn.gamma_shape(0.3, 4.0, 2.0)
    assert distfn.gamma_scale(0.3, 4.0, 2.5) == 1.0 / distfn.gamma_rate(0.3, 4.0, 2.5)
    for call in (lambda: distfn.gamma_cdf(1.0, 2.0, 2.0, scale=0.5),
                 lambda: distfn.gamma_quantile(0.5, 2.0, rate=1.0, scale=1.0)):
        with pytest.raises(TypeError, match="not both"):
            call()


def test_errors_nan_marks_the_failing_elements_only():
    df = np.array([[3.0, -1.0], [np.nan, 10.0]])
    cum, ccum = distfn.t_cdf([[1.0, 1.0], [1.0, INF]], df, errors="nan")
    assert np.isnan(cum[0, 1]) and np.isnan(ccum[0, 1]) and np.isnan(cum[1, 0])
    assert cum[0, 0] == distfn.t_cdf(1.0, 3.0)[0] and (cum[1, 1], ccum[1, 1]) == (1.0, 0.0)
    quantiles = distfn.normal_quantile([0.0, 0.5, 1.0, 1.5, np.nan], errors="nan")
    assert quantiles[:3].tolist() == [-INF, 0.0, INF] and np.isnan(quantiles[3:]).all()
    assert math.isnan(distfn.chi2_quantile(0.5, -1.0, errors="nan"))
    solved = distfn.t_df([0.975, 0.975], [2.5, 0.1], errors="nan")  # the second has no solution
    assert solved[0] == distfn.t_df(0.975, 2.5) and np.isnan(solved[1])
    assert math.isnan(distfn.gamma_scale(0.3, 4.0, -2.5, errors="nan"))
    with pytest.raises(ValueError, match="errors"):
        distfn.t_cdf(1.0, 3.0, errors="ignore")


# (pdf, arguments, density): values in closed form.
DENSITIES = [
    (distfn.beta_pdf, (0.3, 2.0, 1.0), 0.6),
    (distfn.binomial_pdf, (1.0, 2.0, 0.5), 0.5),
    (distfn.binomial_pdf, (1.5, 2.0, 0.5), 0.0),
    (distfn.binomial_pdf, (3.0, 2.0, 0.5), 0.0),
    (distfn.negative_binomial_pdf, (0.0, 2.0, 0.5), 0.25),
    (distfn.t_pdf, (0.0, 1.0), 1 / math.pi),
    (distfn.t_pdf, (INF, 1.0), 0.0),
    (distfn.f_pdf, (0.0, 2.0, 5.0), 1.0),
    (distfn.noncentral_f_pdf, (0.0, 2.0, 5.0, 2.0), 1 / E),
    (distfn.gamma_pdf, (1.0, 1.0, 2.0), 2 / E ** 2),
    (distfn.gamma_pdf, (-1.0, 1.0, 2.0), 0.0),
    (distfn.chi2_pdf, (2.0, 2.0), 0.5 / E),
    (distfn.noncentral_chi2_pdf, (0.0, 2.0, 2.0), 0.5 / E),
    (distfn.poisson_pdf, (2.0, 1.0), 0.5 / E),
    (distfn.normal_pdf, (1.0,), math.exp(-0.5) / math.sqrt(2 * math.pi)),
    (distfn.normal_pdf, (3.0, 1.0, 2.0), math.exp(-0.5) / math.sqrt(2 * math.pi) / 2),
]


@pytest.mark.parametrize("pdf, args, density", DENSITIES, ids=lambda v: getattr(v, "__name__", None))
def test_pdfs_in_closed_form_and_0_beyond_the_support(pdf, args, density):
    assert pdf(*args) == pytest.approx(density, rel=1e-14, abs=0)


def test_pdfs_broadcast_and_report_arguments():
    xs = np.array([[0.5], [1.0], [2.0]])
    dfs = np.array([1.0, 4.0])
    got = distfn.chi2_pdf(xs, dfs)
    assert got.shape == (3, 2)
    assert got[1, 1] == distfn.chi2_pdf(1.0, 4.0)
    assert list(distfn.poisson_pdf([0, 1, 2.5], 2.0)) == pytest.approx([math.exp(-2), 2 * math.exp(-2), 0.0])
    assert distfn.gamma_pdf(2.0, 3.0, scale=0.5) == distfn.gamma_pdf(2.0, 3.0, 2.0)
    with pytest.raises(distfn.DistfnError) as caught:
        distfn.gamma_pdf([1.0, 1.0], [2.0, -2.0])
    assert (caught.value.status, caught.value.argument, caught.value.index) == (-5, "shape", (1,))
    assert str(caught.value).startswith("pdfgam at index (1,):")
    assert np.isnan(distfn.gamma_pdf([1.0, 1.0], [2.0, -2.0], errors="nan")[1])


def test_noncentral_cdfs_keep_both_tails():
    # 1 - cum of the truncated sums loses an upper tail of 7e-32 entirely.
    cum, ccum = distfn.noncentral_chi2_cdf(300.0, 4.0, 30.0)
    assert ccum == pytest.approx(6.5767040306117385558e-32, rel=1e-13)
    assert distfn.noncentral_chi2_quantile(1.0, 4.0, 30.0, q=ccum) == pytest.approx(300.0, rel=1e-12)
