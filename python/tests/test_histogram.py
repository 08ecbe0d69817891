import copy
import math
import pickle
import threading

import numpy as np
import pytest

import varrow

EXAMPLE = "AAQM/gABD/4AAx/+AAEU/wAB"  # 0.012, 0.015 x 3, 0.031, 0.2
EXAMPLE_VALUES = [0.012, 0.015, 0.015, 0.0153, 0.031, 0.2]


@pytest.fixture(params=[False, True], ids=["plain", "fast"])
def example(request):
    h = varrow.Histogram(fast=request.param)
    h.insert_many(EXAMPLE_VALUES)
    return h


def test_insert_remove_clear_and_count(example):
    assert example.count == 6 and len(example) == 4
    assert example.insert(0.015, 2) == 2 and example.count == 8
    assert example.remove(0.015, 10) == 5 and example.count == 3
    assert len(example) == 4  # an emptied bucket stays until the histogram is rebuilt
    assert example.remove(7.0) == 0
    example.clear()
    assert example.count == 0 and len(example) == 0 and list(example) == []


def test_count_is_exact_up_to_2_64_minus_1():
    h = varrow.Histogram()
    assert h.insert(1.0, 2**64 - 1) == 2**64 - 1
    assert h.insert(1.0, 5) == 0  # a bucket's count saturates
    assert h.insert(2.0, 5) == 5 and h.count == 2**64 - 1  # and so does the total
    assert h.insert_many([1.0, 1.0], counts=np.array([2**64 - 1, 1], dtype=np.uint64)) == 0


@pytest.mark.parametrize("count, error", [(-1, ValueError), (2**64, ValueError), (1.5, TypeError), ("1", TypeError)])
def test_insert_rejects_bad_counts(count, error):
    with pytest.raises(error):
        varrow.Histogram().insert(1.0, count)


def test_statistics(example):
    assert example.to_base64() == EXAMPLE
    assert example.quantile(0.5) == pytest.approx(0.0155)
    np.testing.assert_allclose(example.quantiles([0.5, 0.99]), [0.0155, 0.205])
    assert example.quantiles(np.array([[0.5], [0.99]])).shape == (2, 1)
    assert example.inverse_quantile(0.05) == pytest.approx(0.833333, rel=1e-6)
    np.testing.assert_allclose(example.inverse_quantile([0.0, 0.05, 1.0]), [0.0, 0.8333333333, 1.0])
    assert example.count_above(0.1) == 1 and example.count_below(0.02) == 4
    assert example.mean() == pytest.approx(np.average([0.0120, 0.0153, 0.0313, 0.2095], weights=[1, 3, 1, 1]), rel=0.02)
    assert example.stddev() > 0


def test_empty_histogram_statistics_are_nan():
    h = varrow.Histogram()
    assert math.isnan(h.mean()) and math.isnan(h.stddev()) and math.isnan(h.quantile(0.5))
    assert np.isnan(h.quantiles([0.1, 0.9])).all()
    assert h.count_above(1.0) == 0 and h.to_base64() == "AAA="
    assert repr(h) == "varrow.Histogram(count=0)"


def test_buckets_iteration_and_widths(example):
    values, counts = example.buckets()
    np.testing.assert_allclose(values, [0.012, 0.015, 0.031, 0.2], rtol=1e-15)
    assert counts.dtype == np.uint64 and counts.tolist() == [1, 3, 1, 1]
    assert list(example) == list(zip(values.tolist(), counts.tolist()))
    np.testing.assert_allclose(example.bucket_widths(), [0.001, 0.001, 0.001, 0.01])


def test_nan_and_special_values_go_to_the_nan_bucket():
    h = varrow.Histogram()
    h.insert_many([np.nan, np.inf, -np.inf, 1e200, 0.0, 1e-200, -2.5])
    values, counts = h.buckets()
    assert np.isnan(values[0]) and counts[0] == 4
    assert values[1:].tolist() == [-2.5, 0.0] and counts[1:].tolist() == [1, 2]
    assert h.count_above(1e300) == 7  # the NaN bucket always counts as above


@pytest.mark.parametrize("dtype", [np.float64, np.float32, np.int64, np.int32, np.int16, np.uint8, np.uint32,
                                   np.uint64, np.float16, ">f8", bool])
def test_insert_many_dtypes_match_single_insertion(dtype):
    data = np.array([0, 1, 2, 3, 5, 8, 13, 21, 34, 55, 89, 99, 100, 101, 120], dtype=np.int64)
    array = data.astype(dtype)
    bulk, single = varrow.Histogram(), varrow.Histogram()
    assert bulk.insert_many(array) == len(array)
    for value in array.tolist():
        single.insert(float(value))
    assert bulk == single


def test_insert_many_large_integers_are_bucketed_exactly():
    # 99_999_999_999_999_999 rounds up to 1e17 as a double, the next bucket.
    h = varrow.Histogram()
    h.insert_many(np.array([99_999_999_999_999_999, 2**64 - 1], dtype=np.uint64))
    values, _ = h.buckets()
    assert values.tolist() == [9.9e16, 1.8e19]


def test_insert_many_noncontiguous_and_multidimensional():
    base = np.arange(1.0, 201.0)
    strided, reference = varrow.Histogram(), varrow.Histogram()
    strided.insert_many(base[::-3])
    reference.insert_many(base[::-3].copy())
    assert strided == reference
    grid, flat = varrow.Histogram(), varrow.Histogram()
    grid.insert_many(base.reshape(20, 10).T, counts=np.arange(10)[:, None])
    flat.insert_many(base.reshape(20, 10).T.ravel(), counts=np.repeat(np.arange(10), 20))
    assert grid == flat


def test_insert_many_counts():
    h = varrow.Histogram()
    assert h.insert_many([1.0, 2.0, 3.0], counts=[5, 0, 2]) == 7
    assert h.insert_many([4.0, 5.0], counts=3) == 6 and h.count == 13
    assert h.insert_many(np.array([], dtype=float)) == 0


@pytest.mark.parametrize("values, counts, error", [
    (["a", "b"], None, TypeError),
    ([1 + 2j], None, TypeError),
    ([None, 1.0], None, TypeError),
    ([1.0, 2.0], [1, -1], ValueError),
    ([1.0, 2.0], [1.5, 2.0], TypeError),
    ([1.0, 2.0], [1, 2, 3], ValueError),
])
def test_insert_many_rejects_bad_input(values, counts, error):
    h = varrow.Histogram()
    with pytest.raises(error):
        h.insert_many(values, counts)
    assert h.count == 0


@pytest.mark.parametrize("qs", [[0.5, 0.1], [1.5], [-0.1, 0.5]])
def test_quantile_lists_must_be_ascending_probabilities(example, qs):
    with pytest.raises(ValueError):
        example.quantiles(qs)


def test_bad_statistics_input(example):
    with pytest.raises(ValueError):
        example.quantile(2.0)
    with pytest.raises(ValueError):
        example.inverse_quantile([5.0, 3.0])
    with pytest.raises(TypeError):
        example.quantiles(["x"])
    with pytest.raises(TypeError):
        example.count_below("x")
    assert math.isnan(example.quantile(float("nan")))


def test_serialization_round_trips(example):
    record = example.to_bytes()
    assert varrow.Histogram.from_bytes(record) == example
    assert varrow.Histogram.from_bytes(bytearray(record), fast=True).fast
    assert varrow.Histogram.from_bytes(memoryview(record)) == example
    assert varrow.Histogram.from_base64(example.to_base64().encode()) == example
    assert varrow.Histogram.from_base64(" " + EXAMPLE + "\n") == example


@pytest.mark.parametrize("text", ["", "zzz", "AAA", "AAA=x", EXAMPLE + "!", EXAMPLE + "==x", "ÄÖÜ", "AAQM"])
def test_invalid_base64_raises(text):
    with pytest.raises(ValueError):
        varrow.Histogram.from_base64(text)


def test_invalid_records_and_types_raise(example):
    with pytest.raises(ValueError):
        varrow.Histogram.from_bytes(example.to_bytes()[:-1])
    with pytest.raises(ValueError):
        varrow.Histogram.from_bytes(example.to_bytes() + b"\0")
    with pytest.raises(TypeError):
        varrow.Histogram.from_bytes("AAA=")
    with pytest.raises(TypeError):
        varrow.Histogram.from_base64(12)


def test_pickle_and_copies_keep_content_and_variant(example):
    for clone in (pickle.loads(pickle.dumps(example)), example.copy(), copy.copy(example), copy.deepcopy(example)):
        assert clone == example and clone.fast == example.fast and clone is not example
        clone.insert(1.0)
        assert clone != example


def test_arithmetic_and_merging(example):
    other = varrow.Histogram.from_base64(EXAMPLE)
    total = example + other
    assert total.count == 12 and example.count == 6 and total.fast == example.fast
    other += example
    assert other == total
    assert other.subtract(example) and other.count == 6
    assert not other.subtract(total) and other.count == 0
    target = varrow.Histogram()
    target.merge(example, example, other)
    assert target.count == 12
    target.merge(target)  # merging into itself doubles
    assert target.count == 24
    merged = varrow.merge(h.copy() for h in [example, total])  # held by nothing but the merge
    assert merged.count == 18 and not merged.fast and varrow.merge([], fast=True).fast
    many = [varrow.Histogram.from_base64(EXAMPLE) for _ in range(40)]
    for i, h in enumerate(many):
        h.insert(float(i + 1), i)
    pairwise = varrow.Histogram()
    for h in many:
        pairwise += h
    assert varrow.merge(many) == pairwise
    doubled = pairwise.copy()
    doubled.merge(*many, doubled)  # several merges at once, the target among the sources
    assert doubled == pairwise + pairwise + pairwise
    with pytest.raises(TypeError):
        varrow.merge([example, 3])
    with pytest.raises(TypeError):
        target.merge("AAA=")
    with pytest.raises(TypeError):
        example + 1


def test_repr_shows_count_and_percentiles(example):
    text = repr(example)
    assert "count=6" in text and "p50=0.0155" in text and "p99.9=0.205" in text
    assert ("fast=True" in text) == example.fast


def test_threads_sharing_one_histogram_lose_nothing():
    h = varrow.Histogram(fast=True)
    data = np.random.default_rng(1).lognormal(size=200_000)
    sources = [varrow.Histogram.from_base64(EXAMPLE) for _ in range(40)]

    def merge_often():
        for _ in range(50):
            h.merge(*sources)  # several merges at once replace the histogram

    threads = [threading.Thread(target=h.insert_many, args=(data,)) for _ in range(4)]
    threads += [threading.Thread(target=merge_often), threading.Thread(target=varrow.merge, args=([h] * 100,))]
    for t in threads:
        t.start()
    for _ in range(100):
        h.quantile(0.5)
    for t in threads:
        t.join()
    assert h.count == 800_000 + 50 * 40 * 6


def test_plot_draws_buckets_and_percentiles(example):
    import matplotlib

    matplotlib.use("Agg")
    example.insert_many([0.0, -1.0, np.nan])
    ax = example.plot()
    assert ax.get_xscale() == "log"
    assert len(ax.patches) == 4  # the positive buckets only
    assert len(ax.lines) == 4
    import matplotlib.pyplot as plt

    fig, own = plt.subplots()
    assert varrow.Histogram().plot(ax=own) is own
    plt.close("all")


def test_plot_draws_a_log_uniform_sample_flat():
    # 400,000 values spaced evenly in log10 over four decades: 100,000 per decade.
    n, decades = 400_000, 4
    h = varrow.Histogram()
    h.insert_many(10 ** ((np.arange(n) + 0.5) / n * decades - 3))
    ax = h.plot()
    heights = np.array([bar.get_height() for bar in ax.patches])
    assert len(heights) == 90 * decades
    np.testing.assert_allclose(heights, n / decades, rtol=0.005)  # no sawtooth, no cliff at 0.01, 0.1, 1
    import matplotlib.pyplot as plt

    plt.close("all")


@pytest.mark.parametrize("values", [
    EXAMPLE_VALUES,  # p90, p99 and p99.9 on one bucket
    np.r_[np.linspace(0.01, 0.02, 989), 1.0, 1.0 + np.arange(10) * 1e-3],  # p99 and p99.9 one bucket apart
    np.geomspace(1e-3, 1e3, 1000),  # far apart
])
def test_plot_labels_do_not_overlap(values):
    h = varrow.Histogram()
    h.insert_many(values)
    ax = h.plot()
    renderer = ax.figure.canvas.get_renderer()
    ax.figure.draw(renderer)
    boxes = [text.get_window_extent(renderer) for text in ax.texts]
    assert [text.get_text() for text in ax.texts] == ["p50", "p90", "p99", "p99.9"]
    assert not any(a.overlaps(b) for i, a in enumerate(boxes) for b in boxes[i + 1:])
    assert all(ax.bbox.y0 <= box.y0 and box.y1 <= ax.bbox.y1 for box in boxes)
    import matplotlib.pyplot as plt

    plt.close("all")


def test_heatmap_draws_each_histogram_as_a_column_of_densities():
    import matplotlib.pyplot as plt

    first, second, empty = varrow.Histogram(), varrow.Histogram(), varrow.Histogram()
    first.insert_many([1.0, 1.0, 1.1, 9.9])  # adjacent buckets share an edge
    second.insert_many([1.1, 5.0, 0.0, np.nan])  # zero and NaN cannot be drawn
    ax = varrow.heatmap([first, second, empty])
    (mesh,) = ax.collections
    cells = mesh.get_array().reshape(-1, 3)
    edges = [1.0, 1.1, 1.2, 5.0, 5.1, 9.9, 10.0]
    assert len(cells) == len(edges) - 1 and ax.get_yscale() == "log"
    widths = np.diff(np.log10(edges))
    expected = np.zeros((len(edges) - 1, 3))
    expected[[0, 1, 5], 0] = np.array([2, 1, 1]) / widths[[0, 1, 5]]
    expected[[1, 3], 1] = 1 / widths[[1, 3]]
    np.testing.assert_allclose(cells.filled(0), expected, rtol=1e-12)
    assert cells.mask[2].all() and cells.mask[:, 2].all()  # a gap between buckets, an empty histogram
    assert len(varrow.heatmap([], ax=plt.figure().add_subplot()).collections) == 0
    plt.close("all")


def test_insert_corrected_fills_in_the_omitted_samples(example):
    h = varrow.Histogram(fast=example.fast)
    assert h.insert_corrected(1.0, 0.25, count=2) == 8
    assert list(h) == [(0.25, 2), (0.5, 2), (0.75, 2), (1.0, 2)]
    assert h.insert_corrected(0.2, 0.25) == 1  # below the interval: no correction
    assert h.insert_corrected(3.0, 0.0) == 1 and h.insert_corrected(3.0, -1.0) == 1  # no interval, no correction
    assert h.insert_corrected(1.0, 2.0**-13) == 8192  # a long correction, inserted without the GIL
    bulk = varrow.Histogram()
    assert bulk.insert_many([1.0, 0.2, 3.0, 3.0], counts=[2, 1, 1, 1], expected_interval=0.25) == 8 + 1 + 12 + 12
    single = varrow.Histogram()
    for value, count in [(1.0, 2), (0.2, 1), (3.0, 1), (3.0, 1)]:
        single.insert_corrected(value, 0.25, count)
    assert bulk == single
    with pytest.raises(ValueError, match="expected_interval"):
        h.insert_corrected(1.0, np.nan)
    with pytest.raises(ValueError, match="expected_interval"):
        h.insert_many([1.0], expected_interval=np.nan)


def test_subtraction_follows_the_library(example):
    other = varrow.Histogram()
    other.insert_many([0.015, 0.015, 0.2, 0.2, 7.0])  # 0.2 once too often, 7.0 never recorded
    difference = example - other
    values, counts = difference.buckets()
    assert values.tolist() == example.buckets()[0].tolist() and counts.tolist() == [1, 1, 1, 0]  # clamped, kept
    assert difference.fast == example.fast and example.count == 6
    assert difference == varrow.Histogram.from_base64("AAMM/gABD/4AAR/+AAE=")  # equal by content
    in_place = example.copy()
    in_place -= other
    assert in_place == difference
    in_place -= in_place
    assert in_place.count == 0
    with pytest.raises(TypeError):
        example - 1


def test_sum_of_histograms_starts_from_0(example):
    total = sum([example, example, example])
    assert total.count == 18 and total == varrow.merge([example] * 3) and example.count == 6
    assert sum([example]) is not example
    assert (0 + example) == example
    with pytest.raises(TypeError):
        1 + example
    with pytest.raises(TypeError):
        0.0 + example


def test_clamp_keeps_the_buckets_touching_the_range(example):
    example.insert_many([np.nan, -0.5, 0.0])
    h = example.copy()
    h.clamp(0.0155, 0.0311)
    assert h.buckets()[1].tolist() == [3, 1] and h.quantile(1.0) == pytest.approx(0.0315)  # 0.015 reaches to 0.016
    h = example.copy()
    h.clamp(upper=0.0)
    assert list(h) == [(-0.5, 1), (0.0, 1)]
    h = example.copy()
    h.clamp()
    assert h.count == example.count - 1  # only the NaN bucket goes
    with pytest.raises(ValueError):
        h.clamp(np.nan)


def test_compress_coarsens_the_small_buckets(example):
    compressed = example.compress(-2)  # 0.012, 0.015 and 0.031 keep one digit; 0.2 stays
    np.testing.assert_allclose(compressed.buckets()[0], [0.01, 0.03, 0.2], rtol=1e-15)
    assert compressed.buckets()[1].tolist() == [4, 1, 1]
    assert list(example.compress(-1)) == [(0.0, 5), (0.2, 1)]  # the 1e-2 powers count as zero
    assert not compressed.fast and example.compress(-2, fast=True).fast
    assert example.compress(-2, fast=True) == compressed and example.count == 6
    assert example.compress(-128) == example
    for mbe in (-129, 128):
        with pytest.raises(ValueError):
            example.compress(mbe)


def test_downsample_thins_by_binomial_draws():
    h = varrow.Histogram()
    h.insert(1.0, 100_000)
    h.insert(2.0, 3)
    again = h.copy()
    h.downsample(0.25, seed=7)
    again.downsample(0.25, seed=7)
    assert h == again  # the same seed, the same draws
    assert abs(h.count_below(1.0) - 25_000) < 5 * math.sqrt(100_000 * 0.25 * 0.75)
    kept = h.copy()
    kept.downsample(1.0)
    assert kept == h
    kept.downsample(0.0)
    assert kept.count == 0
    for ratio in (-0.1, 1.5, np.nan):
        with pytest.raises(ValueError):
            h.downsample(ratio)
