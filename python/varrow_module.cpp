// varrow._core: the histogram library and the distfn front ends for Python.
//
// Every histogram carries a mutex: the bulk operations release the GIL while
// the C library works, so another Python thread may reach the same histogram
// meanwhile.  A lock is only ever held without the GIL by code that needs
// nothing else, and several are taken in address order, so waiting on one
// while holding the GIL cannot deadlock.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "distfn.h"
#include "varrow.h"
#include "varrow.hpp"

namespace py = pybind11;

namespace {

struct PyHistogram {
  PyHistogram(varrow::Histogram histogram, bool is_fast) : h(std::move(histogram)), fast(is_fast) {}
  varrow::Histogram h;
  bool fast;
  mutable std::mutex mutex;
};
using HistogramPtr = std::unique_ptr<PyHistogram>;

HistogramPtr make_histogram(bool fast) {
  using Kind = varrow::Histogram::Kind;
  return std::make_unique<PyHistogram>(varrow::Histogram(fast ? Kind::fast : Kind::plain), fast);
}

// The locks of several histograms, taken in address order, each once.
class Locks {
 public:
  explicit Locks(std::vector<const PyHistogram *> histograms) {
    std::sort(histograms.begin(), histograms.end());
    histograms.erase(std::unique(histograms.begin(), histograms.end()), histograms.end());
    for (const PyHistogram *h : histograms) locks_.emplace_back(h->mutex);
  }

 private:
  std::vector<std::unique_lock<std::mutex>> locks_;
};

// ---- Conversion of Python input --------------------------------------------

// Kept for the life of the process: a static object would be released after
// the interpreter has gone.
py::module_ &numpy() {
  static auto *np = new py::module_(py::module_::import("numpy"));
  return *np;
}

// Any array-like as a numpy array whose dtype kind is one of kinds; other
// kinds (strings, objects, complex numbers) are a TypeError.
py::array numeric_array(py::handle object, std::string_view kinds, const char *what) {
  py::array array = numpy().attr("asarray")(object);
  const char kind = array.dtype().kind();
  if (kinds.find(kind) == std::string_view::npos)
    throw py::type_error(std::string(what) + " must be numbers, not an array of dtype " +
                         py::str(array.dtype()).cast<std::string>());
  return array;
}

// A flat float64 array, converted only when it is not one already.
py::array_t<double> float_array(py::handle object, const char *what) {
  py::array array = numeric_array(object, "fiub", what);
  return numpy().attr("ascontiguousarray")(array.attr("reshape")(-1), "float64");
}

int list_length(const py::array &array) {
  if (array.size() > INT_MAX) throw py::value_error("lists of more than 2^31 - 1 elements are not supported");
  return static_cast<int>(array.size());
}

// A sample count: a non-negative integer below 2^64.
uint64_t to_count(py::handle object) {
  py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(object.ptr()));
  if (!index) throw py::error_already_set();
  if (index < py::int_(0)) throw py::value_error("a count must not be negative");
  const unsigned long long count = PyLong_AsUnsignedLongLong(index.ptr());
  if (count == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    PyErr_Clear();
    throw py::value_error("a count must be below 2^64");
  }
  return count;
}

// ---- Bulk insertion ----------------------------------------------------------

// Elements of a one-dimensional array of any stride, read in place.
template <typename T>
struct Strided {
  const char *data;
  py::ssize_t stride;
  T operator[](py::ssize_t i) const {
    T value;
    std::memcpy(&value, data + i * stride, sizeof value);
    return value;
  }
};

template <typename T>
Strided<T> strided(const py::array &array) {
  return {static_cast<const char *>(array.data()), array.ndim() == 0 ? 0 : array.strides(0)};
}

// One value into h: integers exactly through the scaled-integer path, so a
// large integer cannot round into the next bucket on its way to a double.
template <typename T>
uint64_t insert_value(histogram *h, T value, uint64_t count) {
  if constexpr (std::is_floating_point_v<T>) {
    return hist_insert(h, static_cast<double>(value), count);
  } else if constexpr (std::is_signed_v<T>) {
    return hist_insert_intscale(h, static_cast<int64_t>(value), 0, count);
  } else {
    if (value > static_cast<T>(INT64_MAX)) return hist_insert(h, static_cast<double>(value), count);
    return hist_insert_intscale(h, static_cast<int64_t>(value), 0, count);
  }
}

uint64_t saturating_add(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

struct UnitCount {
  uint64_t operator[](py::ssize_t) const { return 1; }
};

template <typename T, typename Counts>
uint64_t insert_loop(histogram *h, Strided<T> values, Counts counts, py::ssize_t n) {
  uint64_t added = 0;
  for (py::ssize_t i = 0; i < n; ++i) added = saturating_add(added, insert_value(h, values[i], counts[i]));
  return added;
}

// Calls body with the array read in place as the first of the listed
// element types that it holds, after converting any other dtype to fallback.
template <typename Fallback, typename... Types, typename Body>
auto with_elements(py::array array, Body &&body) {
  using Result = decltype(body(Strided<Fallback>{}));
  Result result{};
  const bool matched = ((py::isinstance<py::array_t<Types>>(array) && ((result = body(strided<Types>(array))), true)) ||
                        ...);
  if (matched) return result;
  py::array converted = array.attr("astype")(py::dtype::of<Fallback>());
  return body(strided<Fallback>(converted));
}

uint64_t insert_many(PyHistogram &self, py::handle values_in, py::handle counts_in) {
  py::array values = numeric_array(values_in, "fiub", "values");
  const auto shape = values.attr("shape");
  values = values.attr("reshape")(-1);
  const py::ssize_t n = values.size();
  py::object counts = py::none();
  if (!counts_in.is_none()) {
    py::array c = numeric_array(counts_in, "iub", "counts");
    if (c.dtype().kind() == 'i' && numpy().attr("any")(numpy().attr("less")(c, 0)).cast<bool>())
      throw py::value_error("counts must not be negative");
    try {
      counts = numpy().attr("broadcast_to")(c, shape).attr("reshape")(-1);
    } catch (py::error_already_set &) {
      throw py::value_error("counts must have the shape of values, or broadcast to it");
    }
  }
  // The histogram is looked up under the lock: a merge may replace it.
  return with_elements<double, double, float, int64_t, int32_t, uint64_t, uint32_t>(values, [&](auto v) {
    if (counts.is_none()) {
      py::gil_scoped_release release;
      std::lock_guard lock(self.mutex);
      return insert_loop(self.h.get(), v, UnitCount{}, n);
    }
    return with_elements<uint64_t, uint64_t, int64_t>(counts, [&](auto c) {
      py::gil_scoped_release release;
      std::lock_guard lock(self.mutex);
      return insert_loop(self.h.get(), v, c, n);
    });
  });
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

// ---- distfn front ends ---------------------------------------------------------

constexpr size_t max_quantities = 7;
using FrontEndCall = void (*)(int which, double *quantities, int *status, double *bound);
using QuantileCall = int (*)(double *quantities);

// A front end called with its quantities taken from an array, in order.
template <auto function, size_t count>
void call_front_end(int which, double *q, int *status, double *bound) {
  [&]<size_t... i>(std::index_sequence<i...>) {
    function(&which, &q[i]..., status, bound);
  }(std::make_index_sequence<count>{});
}

// A quantile function called on its front end's quantities: it reads p and q,
// writes the outputs that follow them (x and y for the beta, else one) and
// reads the parameters after those.
template <auto function, size_t count, size_t outputs = 1>
int call_quantile(double *q) {
  return [&]<size_t... o, size_t... i>(std::index_sequence<o...>, std::index_sequence<i...>) {
    return function(q[0], q[1], q[2 + outputs + i]..., &q[2 + o]...);
  }(std::make_index_sequence<outputs>{}, std::make_index_sequence<count - 2 - outputs>{});
}

struct FrontEnd {
  const char *name;
  size_t quantities;
  FrontEndCall call;
  QuantileCall quantile;
};

// A front end and its quantile function, which take count quantities.
template <auto front_end, auto inverse, size_t count, size_t outputs = 1>
constexpr FrontEnd entry(const char *name) {
  return {name, count, call_front_end<front_end, count>, call_quantile<inverse, count, outputs>};
}

constexpr std::array front_ends{
    entry<cdfbet, invbet, 6, 2>("cdfbet"), entry<cdfbin, invbin, 6>("cdfbin"),
    entry<cdfchi, invchi, 4>("cdfchi"),    entry<cdfchn, invchn, 5>("cdfchn"),
    entry<cdff, invf, 5>("cdff"),          entry<cdffnc, invfnc, 6>("cdffnc"),
    entry<cdfgam, invgam, 5>("cdfgam"),    entry<cdfnbn, invnbn, 6>("cdfnbn"),
    entry<cdfnor, invnor, 5>("cdfnor"),    entry<cdfpoi, invpoi, 4>("cdfpoi"),
    entry<cdft, invt, 4>("cdft"),
};

const FrontEnd &front_end_named(const std::string &name) {
  const auto found = std::find_if(front_ends.begin(), front_ends.end(),
                                  [&](const FrontEnd &f) { return name == f.name; });
  if (found == front_ends.end()) throw py::value_error("no front end " + name);
  return *found;
}

// Runs solve_column(column, &status, &bound) on every column of quantities
// (a C-ordered float64 array of shape (count, n), updated in place) without
// the GIL.  None when all succeed, else (column, status, bound) of the first
// failure.
template <typename SolveColumn>
py::object each_column(const FrontEnd &entry, py::array_t<double> &quantities, SolveColumn solve_column) {
  if (quantities.ndim() != 2 || static_cast<size_t>(quantities.shape(0)) != entry.quantities ||
      !(quantities.flags() & py::array::c_style) || !quantities.writeable())
    throw py::value_error("quantities must be a writable C-ordered array of shape (" +
                          std::to_string(entry.quantities) + ", n)");
  const py::ssize_t n = quantities.shape(1);
  double *data = quantities.mutable_data();
  py::ssize_t failed = -1;
  int status = 0;
  double bound = 0;
  {
    py::gil_scoped_release release;
    std::array<double, max_quantities> column;
    for (py::ssize_t j = 0; j < n && failed < 0; ++j) {
      for (size_t k = 0; k < entry.quantities; ++k) column[k] = data[k * n + j];
      solve_column(column.data(), &status, &bound);
      if (status != 0) failed = j;
      for (size_t k = 0; k < entry.quantities; ++k) data[k * n + j] = column[k];
    }
  }
  if (failed < 0) return py::none();
  return py::make_tuple(failed, status, bound);
}

// Solves case which of the named front end for every column of quantities.
py::object solve(const std::string &name, int which, py::array_t<double> quantities) {
  const FrontEnd &entry = front_end_named(name);
  return each_column(entry, quantities, [&](double *column, int *status, double *bound) {
    entry.call(which, column, status, bound);
  });
}

// Fills in case 2 of the named front end for every column of quantities with
// its full-precision quantile function.  The quantile functions report no
// bound: a range limit is the output they set, and for any other failure the
// front end's own case 2 on the same quantities gives it (its argument checks
// are the same).
py::object quantile(const std::string &name, py::array_t<double> quantities) {
  const FrontEnd &entry = front_end_named(name);
  return each_column(entry, quantities, [&](double *column, int *status, double *bound) {
    std::array<double, max_quantities> given;
    std::copy_n(column, entry.quantities, given.begin());
    *status = entry.quantile(column);
    if (*status == 0) return;
    *bound = column[2];
    if (*status != 1 && *status != 2) {
      int front_end_status = 0;
      entry.call(2, given.data(), &front_end_status, bound);
    }
  });
}

}  // namespace

PYBIND11_MODULE(_core, m) {
  m.doc() = "The C core of varrow: histograms and the distfn front ends.";
  m.attr("__version__") = hist_version();

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
      .def("insert_many", &insert_many, py::arg("values"), py::arg("counts") = py::none(),
           "Adds every value of an array-like (with its count, if given); returns the amount added.")
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
          [](PyHistogram &self, const PyHistogram &other) {
            Locks locks({&self, &other});
            return self.h.subtract(other.h);
          },
          py::arg("other"),
          "Takes other's counts away, stopping at 0 and keeping the buckets; True when every count was "
          "subtracted in full.")
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

  m.def("solve", &solve, py::arg("front_end"), py::arg("which"), py::arg("quantities").noconvert(),
        "Runs a distfn front end on each column of a (count, n) float64 array in place.");
  m.def("quantile", &quantile, py::arg("front_end"), py::arg("quantities").noconvert(),
        "Solves a front end's case 2 with its full-precision quantile function on each column of a\n"
        "(count, n) float64 array in place.");
}
