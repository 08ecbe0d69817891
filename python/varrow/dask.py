"""Histograms of Dask collections, made where the data lies.

Each partition (a chunk of a Dask array, a partition of a Dask dataframe)
becomes one histogram on the worker that holds it; the histograms are then
merged in a tree, ``split_every`` at a time, so that no single task receives
every partition's histogram and only histograms (a few kilobytes each) travel
between workers.  Counts add exactly, so the result equals, byte for byte, the
histogram of all the values inserted in one place.

The functions return ``dask.delayed`` objects: ``.compute()`` one (or pass
several to ``dask.compute``) to run them on the current scheduler, a
``distributed.Client``'s cluster included.

>>> import dask.array as da, varrow.dask
>>> x = da.arange(1, 1001, chunks=100)
>>> h = varrow.dask.histogram(x).compute()
>>> h.count, round(h.quantile(0.5))
(1000, 501)
"""
import dask.array
import dask.dataframe
import numpy as np
from dask import delayed

from . import Histogram, merge

__all__ = ["histogram", "histograms_by"]

# Histograms merged by one task of the tree.
DEFAULT_SPLIT_EVERY = 8


def histogram(data, fast=False, split_every=DEFAULT_SPLIT_EVERY):
    """A delayed Histogram of every value of a Dask array (of any shape) or of
    a Dask dataframe column (a Dask Series).  Values count as
    Histogram.insert_many counts them (NaN and infinities in the NaN bucket);
    the missing values of a nullable column (pandas' NA) are skipped, as SQL
    skips NULL."""
    if isinstance(data, dask.array.Array):
        partitions = list(data.to_delayed().ravel())
    elif isinstance(data, dask.dataframe.Series):
        partitions = data.to_delayed()
    else:
        raise TypeError(f"histogram() takes a Dask array or a Dask dataframe column, not {type(data).__name__}")
    histograms = [delayed(_histogram_of, pure=True)(part, fast) for part in partitions]
    return _merged_in_a_tree(histograms, _merge_histograms, _check_split_every(split_every),
                             empty=lambda: Histogram(fast=fast))


def histograms_by(frame, column, by, fast=False, split_every=DEFAULT_SPLIT_EVERY):
    """A delayed dict from each group of a Dask dataframe (by: a column name,
    or a list of them, as pandas' groupby takes it) to the Histogram of that
    group's values of column, in the order of the keys.  Rows whose key is
    missing are left out, as pandas' groupby leaves them."""
    if not isinstance(frame, dask.dataframe.DataFrame):
        raise TypeError(f"histograms_by() takes a Dask dataframe, not {type(frame).__name__}")
    keys = list(by) if isinstance(by, (list, tuple)) else [by]
    partitions = frame[keys + [column]].to_delayed()
    groups = [delayed(_group_histograms, pure=True)(part, column, by, fast) for part in partitions]
    return _merged_in_a_tree(groups, _merge_groups, _check_split_every(split_every), empty=dict)


def _check_split_every(split_every):
    if not isinstance(split_every, int) or isinstance(split_every, bool) or split_every < 2:
        raise ValueError(f"split_every must be an integer of 2 or more, not {split_every!r}")
    return split_every


def _merged_in_a_tree(parts, combine, split_every, empty):
    """One delayed result: parts combined split_every at a time, level by
    level (combine takes any number of parts)."""
    if not parts:
        return delayed(empty)()
    while len(parts) > 1:
        parts = [delayed(combine, pure=True)(*parts[i:i + split_every]) for i in range(0, len(parts), split_every)]
    return parts[0]


def _numbers(values):
    """A partition's values as a numpy array; a nullable pandas column
    without its missing values, in its numpy dtype."""
    numpy_dtype = getattr(getattr(values, "dtype", None), "numpy_dtype", None)
    if numpy_dtype is not None:
        return values.dropna().to_numpy(dtype=numpy_dtype)
    return np.asarray(values)


def _histogram_of(values, fast):
    h = Histogram(fast=fast)
    h.insert_many(_numbers(values))
    return h


def _merge_histograms(*histograms):
    return merge(histograms, fast=histograms[0].fast)


def _group_histograms(part, column, by, fast):
    return {key: _histogram_of(values, fast) for key, values in part.groupby(by)[column]}


def _merge_groups(*groups):
    members = {}
    for group in groups:
        for key, h in group.items():
            members.setdefault(key, []).append(h)
    try:
        keys = sorted(members)
    except TypeError:  # keys of mixed types keep the order they came in
        keys = list(members)
    return {key: _merge_histograms(*members[key]) for key in keys}
