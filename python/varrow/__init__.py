"""Log-linear histograms of measured values, and distribution functions.

A bucket keeps two significant decimal digits and a power of ten, so it is
never wider than a tenth of its value.  Histograms travel as a compact record
(``to_bytes``) or its base64 text (``to_base64``), the form that the
``histstat`` and ``histmake`` programs read and write.

>>> import numpy as np, varrow
>>> h = varrow.Histogram()
>>> h.insert_many(np.array([0.012, 0.015, 0.015, 0.0153, 0.031, 0.2]))
6
>>> h.to_base64()
'AAQM/gABD/4AAx/+AAEU/wAB'
"""
import os

from ._core import Histogram, merge, __version__
from . import distfn

__all__ = ["Histogram", "merge", "read_lines", "distfn"]

# The percentiles that plot() marks.
_PLOT_MARKS = (0.5, 0.9, 0.99, 0.999)


def read_lines(path_or_file, fast=False):
    """Yields one Histogram per line of base64 text (a path or an open file,
    text or binary), as histstat reads them.  A line that is not a histogram
    raises ValueError naming its line number."""
    if isinstance(path_or_file, (str, bytes, os.PathLike)):
        with open(path_or_file, "rb") as lines:
            yield from _histograms_of(lines, os.fsdecode(path_or_file), fast)
    else:
        yield from _histograms_of(path_or_file, getattr(path_or_file, "name", "<file>"), fast)


def _histograms_of(lines, name, fast):
    for number, line in enumerate(lines, 1):
        try:
            yield Histogram.from_base64(line, fast)
        except ValueError:
            raise ValueError(f"{name}:{number}: not a base64 histogram") from None


def _plot(self, ax=None):
    """Draws the bucket counts over a logarithmic value axis, with the 50th,
    90th, 99th and 99.9th percentiles marked; returns the matplotlib axes.
    Only positive buckets can stand on a logarithmic axis: zero, negative and
    NaN samples are left out of the bars (the percentiles still count them)."""
    if ax is None:
        import matplotlib.pyplot as plt

        ax = plt.figure().add_subplot()
    values, counts = self.buckets()
    widths = self.bucket_widths()
    positive = values > 0
    ax.bar(values[positive], counts[positive], width=widths[positive], align="edge")
    ax.set_xscale("log")
    ax.set_xlabel("value")
    ax.set_ylabel("samples per bucket")
    if self.count:
        for q, value in zip(_PLOT_MARKS, self.quantiles(_PLOT_MARKS)):
            if value > 0:
                ax.axvline(value, linestyle="--", linewidth=1, color="C1")
                ax.annotate(f"p{q * 100:g}", (value, 1), xycoords=("data", "axes fraction"),
                            rotation=90, va="top", ha="right", fontsize="small")
    return ax


Histogram.plot = _plot
