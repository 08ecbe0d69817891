// The Histogram class of varrow._core and the module function merge().
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "bindings.hpp"

#include <pybind11/stl.h>

namespace varrow_python {

namespace {

// ---- Bulk insertion ----------------------------------------------------------

struct Insert {
  static constexpr auto value = hist_insert;
  static constexpr auto integer = hist_insert_intscale;
  static constexpr auto corrected = hist_insert_corrected;
};

uint64_t insert_array(PyHistogram &self, py::handle values, py::handle counts, py::handle expected_interval) {
  // The histogram is looked up under the lock: a merge may replace it.
  const auto guarded = [&](auto &&work) {
    py::gil_scoped_release release;
    std::lock_guard lock(self.mutex);
    return work(self.h.get());
  };
  return varrow_python::insert_many<Insert>(guarded, values, counts, expected_interval);
}

// ---- Quantiles -----------------------------------------------------------------

using BatchFunction = int (*)(const histogram *, const double *, int, double *);

// Runs one of the batch estimators over an array-like; ValueError for the
// statuses it reports.
py::array_t<double> batch(const PyHistogram &self, BatchFunction function, py::handle in, const char *what) {
  const py::array original = numeric_array(in, "fiub", what);
  py::array_t<double> input = float_array(original, what);
  py::array_t<double> output(input.size());
  int status;
  {
    std::lock_guard lock(self.mutex);
    status = function(self.h.get(), input.data(), list_length(input), output.mutable_data());
  }
  if (status == -2) throw py::value_error(std::string(what) + " must be in ascending order");
  if (status == -3) throw py::value_error("probabilities must lie between 0 and 1");
  return output.attr("reshape")(original.attr("shape"));
}

double single(const PyHistogram &self, BatchFunction function, double in, const char *what) {
  const py::array_t<double> out = batch(self, function, py::float_(in), what);
  return *out.data();
}

// ---- Serialized form ---------------------------------------------------------

// The base64 text must be a histogram and nothing else: the library stops at
// the first byte outside the alphabet and after the padding, which would let
// trailing garbage pass.
bool only_base64_text(std::string_view text) {
  const auto space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); };
  const size_t padding = std::min(text.find('='), text.size());
  return std::all_of(text.begin(), text.begin() + padding,
                     [&](char c) { return letter(c) || c == '+' || c == '/' || space(c); }) &&
         std::all_of(text.begin() + padding, text.end(), [&](char c) { return c == '=' || space(c); });
}

HistogramPtr from_base64(py::handle text_in, bool fast) {
  std::string text;
  if (py::isinstance<py::str>(text_in)) {
    text = text_in.cast<std::string>();
  } else if (py::isinstance<py::bytes>(text_in) || py::isinstance<py::bytearray>(text_in)) {
    text = py::bytes(py::reinterpret_borrow<py::object>(text_in)).cast<std::string>();
  } else {
    throw py::type_error("a base64 histogram must be str or bytes");
  }
  HistogramPtr result = make_histogram(fast);
  if (!only_base64_text(text) || hist_deserialize_b64(result->h.get(), text.data(), text.size()) < 0)
    throw py::value_error("not a base64 histogram: " + text.substr(0, 40));
  return result;
}

py::str to_base64(const PyHistogram &self) {
  std::lock_guard lock(self.mutex);
  std::string text(static_cast<size_t>(hist_serialize_b64_estimate(self.h.get())), '\0');
  const ssize_t written = hist_serialize_b64(self.h.get(), text.data(), text.size());
  if (written < 0) throw std::bad_alloc();
  text.resize(static_cast<size_t>(written));
  return text;
}

py::bytes to_bytes(const PyHistogram &self) {
  std::lock_guard lock(self.mutex);
  std::string record(static_cast<size_t>(hist_serialize_estimate(self.h.get())), '\0');
  const ssize_t written = hist_serialize(self.h.get(), record.data(), static_cast<ssize_t>(record.size()));
  record.resize(static_cast<size_t>(written));
  return py::bytes(record);
}

HistogramPtr from_bytes(const py::buffer &data, bool fast) {
  const py::buffer_info info = data.request();
  if (info.ndim > 1 || (info.ndim == 1 && info.strides[0] != info.itemsize))
    throw py::value_error("a record must be a contiguous buffer of bytes");
  const auto length = static_cast<ssize_t>(info.size * info.itemsize);
  HistogramPtr result = make_histogram(fast);
  if (hist_deserialize(result->h.get(), info.ptr, length) != length)
    throw py::value_error("not a histogram record (or bytes after its end)");
  return result;
}

// ---- Merging -----------------------------------------------------------------

// The histograms of an iterable, with the references that keep them alive
// (a generator may yield histograms that nothing else holds).
struct Sources {
  std::vector<py::object> owners;
  std::vector<const PyHistogram *> histograms;
};

Sources histograms_of(py::handle iterable) {
  Sources sources;
  for (py::handle item : iterable) {
    if (!py::isinstance<PyHistogram>(item)) throw py::type_error("only varrow.Histogram objects can be merged");
    sources.owners.push_back(py::reinterpret_borrow<py::object>(item));
    sources.histograms.push_back(item.cast<const PyHistogram *>());
  }
  return sources;
}

// Adds every source into target in one k-way merge, which is all or nothing.
void accumulate(PyHistogram &target, const std::vector<const PyHistogram *> &sources) {
  if (sources.size() >= static_cast<size_t>(INT_MAX)) throw py::value_error("too many histograms to merge at once");
  std::vector<const PyHistogram *> involved(sources);
  involved.push_back(&target);
  std::vector<const histogram *> raw;
  raw.reserve(sources.size());
  int merged;
  {
    py::gil_scoped_release release;
    Locks locks(std::move(involved));
    // Looked up under the locks: another merge may replace a histogram.
    for (const PyHistogram *s : sources) raw.push_back(s->h.get());
    merged = hist_accumulate(target.h.get(), raw.data(), static_cast<int>(raw.size()));
  }
  if (merged < 0) throw std::runtime_error("the histograms could not be merged (too many buckets or no memory)");
}

HistogramPtr copy(const PyHistogram &self) {
  std::lock_guard lock(self.mutex);
  return std::make_unique<PyHistogram>(self.h.clone(), self.fast);
}

// Clamps at 0 and keeps the buckets, as hist_subtract does: whether every
// count was subtracted in full.
bool subtract(PyHistogram &target, const PyHistogram &other) {
  Locks locks({&target, &other});
  return target.h.subtract(other.h);
}

// ---- Reshaping -----------------------------------------------------------------

// A clamp bound: None for no limit (NaN to the library).
double bound(py::handle value, const char *what) {
  if (value.is_none()) return NAN;
  const double number = value.cast<double>();
  if (std::isnan(number)) throw py::value_error(std::string(what) + " must be a number or None, not NaN");
  return number;
}

HistogramPtr compress(const PyHistogram &self, int mbe, bool fast) {
  if (mbe < INT8_MIN || mbe > INT8_MAX) throw py::value_error("mbe must be a power of ten from -128 to 127");
  histogram *compressed;
  {
    std::lock_guard lock(self.mutex);
    compressed = hist_compress_mbe(self.h.get(), static_cast<int8_t>(mbe));
  }
  varrow::Histogram plain = varrow::Histogram::adopt(compressed);
  if (!fast) return std::make_unique<PyHistogram>(std::move(plain), false);
  HistogramPtr result = make_histogram(true);
  result->h += plain;
  return result;
}

// drand48's state is the process's: the GIL stays held, so that no two
// Python threads draw at once.
void downsample(PyHistogram &self, double ratio, std::optional<long> seed) {
  if (!(ratio >= 0 && ratio <= 1)) throw py::value_error("ratio must lie between 0 and 1");
  std::lock_guard lock(self.mutex);
  if (seed) srand48(*seed);
  hist_downsample(self.h.get(), ratio);
}

// ---- Enumeration -------------------------------------------------------------

std::pair<py::array_t<double>, py::array_t<uint64_t>> buckets(const PyHistogram &self) {
  std::lock_guard lock(self.mutex);
  const int n = hist_bucket_count(self.h.get());
  py::array_t<double> values(n);
  py::array_t<uint64_t> counts(n);
  double *v = values.mutable_data();
  uint64_t *c = counts.mutable_data();
  for (int i = 0; i < n; ++i) hist_bucket_idx(self.h.get(), i, &v[i], &c[i]);
  return {values, counts};
}

py::array_t<double> bucket_widths(const PyHistogram &self) {
  std::lock_guard lock(self.mutex);
  const int n = hist_bucket_count(self.h.get());
  py::array_t<double> widths(n);
  double *w = widths.mutable_data();
  for (int i = 0; i < n; ++i) {
    hist_bucket bucket;
    uint64_t count;
    hist_bucket_idx_bucket(self.h.get(), i, &bucket, &count);
    w[i] = hist_bucket_to_double_bin_width(bucket);
  }
  return widths;
}

std::string describe(const PyHistogram &self) {
  static constexpr std::array<std::pair<const char *, double>, 4> marks{
      {{"p50", 0.5}, {"p90", 0.9}, {"p99", 0.99}, {"p99.9", 0.999}}};
  std::lock_guard lock(self.mutex);
  std::string text = self.fast ? "varrow.Histogram(fast=True, count=" : "varrow.Histogram(count=";
  text += std::to_string(hist_sample_count(self.h.get()));
  std::array<double, marks.size()> q, out;
  for (size_t i = 0; i < marks.size(); ++i) q[i] = marks[i].second;
  hist_approx_quantile(self.h.get(), q.data(), static_cast<int>(q.size()), out.data());
  for (size_t i = 0; i < marks.size() && !std::isnan(out[i]); ++i) {
    char number[32];
    std::snprintf(number, sizeof number, "%.3g", out[i]);
    text += std::string(", ") + marks[i].first + "=" + number;
  }
  return text + ")";
}

}  // namespace

void bind_histogram(py::module_ &m) {
  py::class_<PyHistogram>(m, "Histogram", R"(A log-linear histogram: two significant decimal digits and a power of ten per
bucket, 64-bit counts.  fast=True adds a direct lookup index, which makes
insertion faster at the cost of up to 128 KiB of index pages.)")
      .def(py::init(&make_histogram), py::arg("fast") = false)
      .def_property_readonly("fast", [](const PyHistogram &self) { return self.fast; },
                             "Whether the histogram carries the lookup index.")
      .def(
          "insert",
          [](PyHistogram &self, double value, py::handle count) {
            const uint64_t n = to_count(count);
            std::lock_guard lock(self.mutex);
            return hist_insert(self.h.get(), value, n);
          },
          py::arg("value"), py::arg("count") = 1,
          "Adds count samples of value; returns the amount added (counts saturate at 2^64 - 1).")
      .def("insert_many", &insert_array, py::arg("values"), py::arg("counts") = py::none(), py::kw_only(),
           py::arg("expected_interval") = py::none(),
           "Adds every value of an array-like (with its count, if given; each corrected as by\n"
           "insert_corrected when expected_interval is given); returns the amount added.")
      .def(
          "insert_corrected",
          [](PyHistogram &self, double value, double expected_interval, py::handle count) {
            const uint64_t n = to_count(count);
            const double interval = correction_interval(expected_interval);
            return insert_corrected(value, interval, [&] {
              std::lock_guard lock(self.mutex);
              return hist_insert_corrected(self.h.get(), value, interval, n);
            });
          },
          py::arg("value"), py::arg("expected_interval"), py::arg("count") = 1,
          "Adds count samples of value and, correcting for coordinated omission, of value - k x\n"
          "expected_interval for k = 1, 2, ... while that stays at or above expected_interval; returns\n"
          "the amount added.  An interval of 0 or less makes no correction.")
      .def(
          "remove",
          [](PyHistogram &self, double value, py::handle count) {
            const uint64_t n = to_count(count);
            std::lock_guard lock(self.mutex);
            return hist_remove(self.h.get(), value, n);
          },
          py::arg("value"), py::arg("count") = 1,
          "Takes away up to count samples of value; returns the amount removed.")
      .def(
          "clear",
          [](PyHistogram &self) {
            std::lock_guard lock(self.mutex);
            self.h.clear();
          },
          "Removes every sample.")
      .def_property_readonly(
          "count",
          [](const PyHistogram &self) {
            std::lock_guard lock(self.mutex);
            return hist_sample_count(self.h.get());
          },
          "The number of samples (saturating at 2^64 - 1).")
      .def(
          "mean",
          [](const PyHistogram &self) {
            std::lock_guard lock(self.mutex);
            return self.h.mean();
          },
          "The mean, each bucket's samples at its midpoint; NaN without samples.")
      .def(
          "stddev",
          [](const PyHistogram &self) {
            std::lock_guard lock(self.mutex);
            return self.h.stddev();
          },
          "The population standard deviation; NaN without samples.")
      .def(
          "quantile",
          [](const PyHistogram &self, double q) { return single(self, hist_approx_quantile, q, "probabilities"); },
          py::arg("q"), "The value below which a share q (0..1) of the samples lies; NaN without samples.")
      .def(
          "quantiles",
          [](const PyHistogram &self, py::handle qs) { return batch(self, hist_approx_quantile, qs, "probabilities"); },
          py::arg("qs"), "quantile() of each of an ascending array-like of probabilities, as a numpy array.")
      .def(
          "inverse_quantile",
          [](const PyHistogram &self, py::handle v) -> py::object {
            py::array_t<double> out = batch(self, hist_approx_inverse_quantile, v, "values");
            if (out.ndim() == 0) return py::float_(*out.data());
            return out;
          },
          py::arg("v"),
          "The share of samples below v (a number, or an ascending array-like of them), interpolated in a bucket.")
      .def(
          "count_below",
          [](const PyHistogram &self, double x) {
            std::lock_guard lock(self.mutex);
            return hist_approx_count_below(self.h.get(), x);
          },
          py::arg("x"), "The samples in the buckets up to and including the bucket of x.")
      .def(
          "count_above",
          [](const PyHistogram &self, double x) {
            std::lock_guard lock(self.mutex);
            return hist_approx_count_above(self.h.get(), x);
          },
          py::arg("x"), "The samples in the bucket of x and above it (the NaN bucket included).")
      .def("buckets", &buckets,
           "Two numpy arrays in bucket order: each bucket's value (NaN for the NaN bucket) and its count (uint64).")
      .def("bucket_widths", &bucket_widths, "Each bucket's width, in the order of buckets().")
      .def("to_base64", &to_base64, "The serialized record as base64 text.")
      .def_static("from_base64", &from_base64, py::arg("text"), py::arg("fast") = false,
                  "Reads a histogram from base64 text (str or bytes); ValueError unless it is exactly one.")
      .def("to_bytes", &to_bytes, "The serialized record.")
      .def_static("from_bytes", &from_bytes, py::arg("data"), py::arg("fast") = false,
                  "Reads a histogram from its serialized record; ValueError unless it is exactly one.")
      .def(
          "__add__",
          [](const PyHistogram &self, const PyHistogram &other) {
            HistogramPtr sum = copy(self);
            accumulate(*sum, {&other});
            return sum;
          },
          py::is_operator())
      .def(
          "__iadd__",
          [](py::object self, const PyHistogram &other) {
            accumulate(self.cast<PyHistogram &>(), {&other});
            return self;
          },
          py::is_operator())
      .def(
          "merge", [](PyHistogram &self, const py::args &others) { accumulate(self, histograms_of(others).histograms); },
          "Adds the counts of every histogram given (saturating), in one merge.")
      .def(
          "subtract",
          [](PyHistogram &self, const PyHistogram &other) { return subtract(self, other); },
          py::arg("other"),
          "Takes other's counts away, stopping at 0 and keeping the buckets; True when every count was "
          "subtracted in full.")
      .def(
          "__sub__",
          [](const PyHistogram &self, const PyHistogram &other) {
            HistogramPtr difference = copy(self);
            (void)subtract(*difference, other);
            return difference;
          },
          py::is_operator())
      .def(
          "__isub__",
          [](py::object self, const PyHistogram &other) {
            (void)subtract(self.cast<PyHistogram &>(), other);
            return self;
          },
          py::is_operator())
      .def(
          "__radd__",
          [](const PyHistogram &self, py::handle start) -> py::object {
            // sum() starts from 0: only that start is a histogram's neutral element.
            if (!py::isinstance<py::int_>(start) || start.cast<py::int_>().cast<long long>() != 0)
              return py::reinterpret_borrow<py::object>(Py_NotImplemented);
            return py::cast(copy(self));
          },
          py::is_operator())
      .def(
          "clamp",
          [](PyHistogram &self, py::handle lower, py::handle upper) {
            const double low = bound(lower, "lower"), high = bound(upper, "upper");
            std::lock_guard lock(self.mutex);
            hist_clamp(self.h.get(), low, high);
          },
          py::arg("lower") = py::none(), py::arg("upper") = py::none(),
          "Keeps only the buckets whose range touches [lower, upper] (None: no limit on that side),\n"
          "dropping the NaN bucket; in place.")
      .def("compress", &compress, py::arg("mbe"), py::arg("fast") = false,
           "A new histogram with coarser small buckets: those whose power of ten is below mbe count\n"
           "as zero, those at mbe keep one significant digit, the rest stay.")
      .def("downsample", &downsample, py::arg("ratio"), py::arg("seed") = py::none(),
           "Thins the samples in place as if each were kept with probability ratio (0..1): each\n"
           "bucket's count becomes a binomial draw from the C library's drand48, seeded first with\n"
           "seed when given.")
      .def("copy", &copy, "An independent copy.")
      .def("__copy__", &copy)
      .def("__deepcopy__", [](const PyHistogram &self, py::handle) { return copy(self); })
      .def("__len__",
           [](const PyHistogram &self) {
             std::lock_guard lock(self.mutex);
             return hist_bucket_count(self.h.get());
           })
      .def("__iter__",
           [](const PyHistogram &self) {
             std::lock_guard lock(self.mutex);
             py::list entries;
             double value;
             uint64_t count;
             for (int i = 0; hist_bucket_idx(self.h.get(), i, &value, &count); ++i)
               entries.append(py::make_tuple(value, count));
             return py::iter(entries);
           })
      .def(
          "__eq__",
          [](const PyHistogram &self, const PyHistogram &other) {
            return to_bytes(self).equal(to_bytes(other));
          },
          py::is_operator())
      .def("__repr__", &describe)
      .def(py::pickle([](const PyHistogram &self) { return py::make_tuple(to_bytes(self), self.fast); },
                      [](const py::tuple &state) {
                        if (state.size() != 2) throw py::value_error("not a pickled varrow.Histogram");
                        return from_bytes(state[0].cast<py::buffer>(), state[1].cast<bool>());
                      }));

  m.def(
      "merge",
      [](py::handle histograms, bool fast) {
        const Sources sources = histograms_of(histograms);
        HistogramPtr result = make_histogram(fast);
        accumulate(*result, sources.histograms);
        return result;
      },
      py::arg("histograms"), py::arg("fast") = false,
      "A new histogram holding the counts of every histogram of an iterable, in one k-way merge.");
}

}  // namespace varrow_python
