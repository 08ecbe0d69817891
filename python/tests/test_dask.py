"""varrow.dask on a real cluster: two worker processes on 127.0.0.1, started
and closed here, their scratch space in a temporary directory."""
import logging
import os
import tempfile

import dask.array as da
import dask.dataframe as dd
import distributed
import numpy as np
import pandas as pd
import pytest

import varrow
import varrow.dask


@pytest.fixture(scope="module")
def client():
    with tempfile.TemporaryDirectory() as scratch:
        with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                                      dashboard_address=None, local_directory=scratch,
                                      silence_logs=logging.ERROR) as cluster, distributed.Client(cluster) as c:
            yield c
        assert not cluster.workers and cluster.status.name == "closed"


def serial(values):
    h = varrow.Histogram()
    h.insert_many(np.asarray(values))
    return h


def awkward_values(n, seed):
    """Log-normal values with the ones that test the edges of the scheme:
    NaN, infinities, zeros, negatives and magnitudes beyond the bucket range."""
    rng = np.random.default_rng(seed)
    values = rng.lognormal(-3, 1.5, n)
    edges = np.array([np.nan, np.inf, -np.inf, 0.0, -0.0, -2.5, 1e-200, 1e200, 9.9e127, -1e-5])
    values[rng.choice(n, len(edges), replace=False)] = edges
    return values


def computed_on_the_workers(client, delayed_result):
    """The result, and the names of the workers that ran the partition tasks."""
    with distributed.get_task_stream(client) as tasks:
        result = delayed_result.compute()
    workers = {t["worker"] for t in tasks.data if t["key"].startswith("_histogram_of") or
               t["key"].startswith("_group_histograms")}
    return result, workers


def test_histogram_of_an_array_equals_the_serial_one(client):
    values = awkward_values(100_000, 1)
    x = da.from_array(values.reshape(200, 500), chunks=(50, 250))  # 8 chunks, merged 3 at a time
    result, workers = computed_on_the_workers(client, varrow.dask.histogram(x, split_every=3))
    assert result.to_bytes() == serial(values).to_bytes() and not result.fast
    assert len(workers) == 2  # both worker processes made partition histograms
    integers = da.arange(10**17, 10**17 + 10_000, chunks=1000, dtype=np.int64)  # bucketed exactly, as in serial
    assert varrow.dask.histogram(integers, fast=True).compute() == serial(np.arange(10**17, 10**17 + 10_000))
    assert varrow.dask.histogram(integers, fast=True).compute().fast


def test_the_merge_is_a_tree():
    x = da.ones(64, chunks=1)
    graph = dict(varrow.dask.histogram(x, split_every=4).__dask_graph__())
    merges = [key for key in graph if str(key).startswith("_merge_histograms")]
    assert len(merges) == 16 + 4 + 1
    assert len(dict(varrow.dask.histogram(da.ones(1, chunks=1)).__dask_graph__())) <= 3  # no merge for one part


@pytest.fixture(scope="module")
def frame():
    n = 60_000
    rng = np.random.default_rng(2)
    return pd.DataFrame({
        "minute": rng.integers(0, 7, n),
        "host": rng.choice(["a", "b", "c"], n),
        "v": awkward_values(n, 3),
        "n": pd.array(np.where(rng.random(n) < 0.1, None, rng.integers(-5, 10**6, n)), dtype="Int64"),
    })


def test_histogram_of_a_dataframe_column_equals_the_serial_one(client, frame):
    df = dd.from_pandas(frame, npartitions=6)
    result, workers = computed_on_the_workers(client, varrow.dask.histogram(df["v"]))
    assert result.to_bytes() == serial(frame["v"]).to_bytes() and len(workers) == 2
    nullable = varrow.dask.histogram(df.n).compute()  # NA skipped, as SQL skips NULL
    assert nullable == serial(frame["n"].dropna().to_numpy(dtype=np.int64))
    assert nullable.count == frame["n"].count()


def test_histograms_by_group_equal_the_serial_ones(client, frame):
    df = dd.from_pandas(frame, npartitions=5)
    result, workers = computed_on_the_workers(client, varrow.dask.histograms_by(df, "v", "minute", split_every=2))
    assert list(result) == sorted(frame["minute"].unique()) and len(workers) == 2
    for minute, h in result.items():
        assert h.to_bytes() == serial(frame.loc[frame["minute"] == minute, "v"]).to_bytes()
    by_two = varrow.dask.histograms_by(df, "n", ["host", "minute"]).compute()
    assert len(by_two) == 3 * 7
    for (host, minute), h in by_two.items():
        rows = frame[(frame["host"] == host) & (frame["minute"] == minute)]
        assert h == serial(rows["n"].dropna().to_numpy(dtype=np.int64))
    assert sum(by_two.values()) == varrow.dask.histogram(df["n"]).compute()


def test_bad_arguments_raise(client):
    with pytest.raises(TypeError):
        varrow.dask.histogram(np.ones(3))
    with pytest.raises(TypeError):
        varrow.dask.histogram(dd.from_pandas(pd.DataFrame({"v": [1.0]}), npartitions=1))
    with pytest.raises(TypeError):
        varrow.dask.histograms_by(pd.DataFrame({"v": [1.0], "k": [1]}), "v", "k")
    for split_every in (1, 2.0, True):
        with pytest.raises(ValueError):
            varrow.dask.histogram(da.ones(3, chunks=1), split_every=split_every)
    strings = dd.from_pandas(pd.DataFrame({"s": ["x", "y"]}), npartitions=1)
    with pytest.raises(TypeError):
        varrow.dask.histogram(strings["s"]).compute()  # raised on a worker, raised here
