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

import numpy as np

from ._core import Histogram, Recorder, merge, __version__
from ._core import from_prometheus, from_otlp, from_hdr, read_hlog
from . import distfn

__all__ = ["Histogram", "Recorder", "merge", "read_lines", "heatmap", "distfn",
           "from_prometheus", "from_otlp", "from_hdr", "read_hlog"]

# The percentiles that plot() marks.
_PLOT_MARKS = (0.5, 0.9, 0.99, 0.999)


def read_lines(path_or_file, fast=False):
    """Yields one Histogram per line of base64 text (a path or an open file,
    text or binary), as histstat reads them.  Blank lines are skipped; any
    other line that is not a histogram raises ValueError naming the file and
    the line number."""
    if isinstance(path_or_file, (str, bytes, os.PathLike)):
        with open(path_or_file, "rb") as lines:
            yield from _histograms_of(lines, os.fsdecode(path_or_file), fast)
    else:
        yield from _histograms_of(path_or_file, getattr(path_or_file, "name", "<file>"), fast)


def _histograms_of(lines, name, fast):
    for number, line in enumerate(lines, 1):
        if not line.strip():
            continue
        try:
            yield Histogram.from_base64(line, fast)
        except ValueError:
            raise ValueError(f"{name}:{number}: not a base64 histogram") from None


def _positive_buckets(h):
    """The positive buckets' lower edges, upper edges and counts: only they
    can stand on a logarithmic axis."""
    values, counts = h.buckets()
    widths = h.bucket_widths()
    positive = values > 0
    return values[positive], values[positive] + widths[positive], counts[positive]


def _log_density(lower, upper, counts):
    """Samples per unit of log10(value): a bucket's count over its width on
    the logarithmic axis, so that a log-uniform sample draws a level line
    (raw counts would fall tenfold across every decade, the buckets being
    equally wide in value, not in log10)."""
    return counts / (np.log10(upper) - np.log10(lower))


def _plot(self, ax=None):
    """Draws the bucket densities (samples per unit of log10(value)) over a
    logarithmic value axis, with the 50th, 90th, 99th and 99.9th percentiles
    marked; returns the matplotlib axes.  Only positive buckets can stand on a
    logarithmic axis: zero, negative and NaN samples are left out of the bars
    (the percentiles still count them)."""
    if ax is None:
        import matplotlib.pyplot as plt

        ax = plt.figure().add_subplot()
    lower, upper, counts = _positive_buckets(self)
    ax.bar(lower, _log_density(lower, upper, counts), width=upper - lower, align="edge")
    ax.set_xscale("log")
    ax.set_xlabel("value")
    ax.set_ylabel("samples per unit of log10(value)")
    if self.count:
        marks = [(q, value) for q, value in zip(_PLOT_MARKS, self.quantiles(_PLOT_MARKS)) if value > 0]
        labels = []
        for q, value in marks:
            ax.axvline(value, linestyle="--", linewidth=1, color="C1")
            labels.append(ax.annotate(f"p{q * 100:g}", (value, 1), xycoords=("data", "axes fraction"),
                                      xytext=(-1, -2), textcoords="offset points",
                                      rotation=90, va="top", ha="right", fontsize="small"))
        _separate(ax, labels)
    return ax


# The gap kept between two percentile labels, in points.
_LABEL_GAP = 2


def _separate(ax, labels):
    """Moves each label down its line until it overlaps no label before it
    (p99 and p99.9 often fall on the same bucket)."""
    renderer = getattr(ax.figure.canvas, "get_renderer", None)
    if renderer is None:
        return
    renderer = renderer()
    ax.autoscale_view()
    points_per_pixel = 72 / ax.figure.dpi
    placed = []
    for label in labels:
        box = label.get_window_extent(renderer)
        while any(box.overlaps(other) for other in placed):
            x, y = label.xyann
            label.xyann = (x, y - box.height * points_per_pixel - _LABEL_GAP)
            box = label.get_window_extent(renderer)
        placed.append(box)


def heatmap(histograms, ax=None):
    """Draws a sequence of histograms (say, one per minute) side by side: the
    n-th histogram is the column from n to n + 1, its positive buckets the
    cells over a logarithmic value axis, coloured by density (samples per
    unit of log10(value), on a logarithmic colour scale; empty cells blank).
    Returns the matplotlib axes."""
    import matplotlib.colors

    if ax is None:
        import matplotlib.pyplot as plt

        ax = plt.figure().add_subplot()
    columns = [_positive_buckets(h) for h in histograms]
    edges = _common_edges(columns)
    ax.set_xlabel("histogram")
    ax.set_ylabel("value")
    if len(edges) == 0:
        return ax
    density = np.zeros((len(edges) - 1, len(columns)))
    for n, (lower, upper, counts) in enumerate(columns):
        density[np.searchsorted(edges, lower), n] = _log_density(lower, upper, counts)
    mesh = ax.pcolormesh(np.arange(len(columns) + 1), edges, np.ma.masked_equal(density, 0),
                         norm=matplotlib.colors.LogNorm(), shading="flat")
    ax.set_yscale("log")
    ax.figure.colorbar(mesh, ax=ax, label="samples per unit of log10(value)")
    return ax


# Relative distance within which a bucket's upper edge (lower edge + width,
# rounded) is taken for the lower edge of the bucket above.
_EDGE_TOLERANCE = 1e-12


def _common_edges(columns):
    """The sorted edges of every bucket in columns, an edge that two buckets
    share once."""
    lowers = np.unique(np.concatenate([lower for lower, _, _ in columns] + [np.empty(0)]))
    uppers = np.unique(np.concatenate([upper for _, upper, _ in columns] + [np.empty(0)]))
    if len(lowers) == 0:
        return lowers
    nearest = lowers[np.minimum(np.searchsorted(lowers, uppers * (1 - _EDGE_TOLERANCE)), len(lowers) - 1)]
    shared = np.isclose(nearest, uppers, rtol=_EDGE_TOLERANCE, atol=0)
    return np.union1d(lowers, uppers[~shared])


Histogram.plot = _plot
