// What the binding sources of varrow._core share: the Python histogram
// object, its locks, the conversion of Python input and the bulk insertion
// loop.  Each source adds one concern to the module through its bind_*
// function, called from module.cpp.
//
// Every histogram carries a mutex: the bulk operations release the GIL while
// the C library works, so another Python thread may reach the same histogram
// meanwhile.  A lock is only ever held without the GIL by code that needs
// nothing else, and several are taken in address order, so waiting on one
// while holding the GIL cannot deadlock.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "varrow.h"
#include "varrow.hpp"

namespace varrow_python {

namespace py = pybind11;

void bind_histogram(py::module_ &m);
void bind_recorder(py::module_ &m);
void bind_distfn(py::module_ &m);
void bind_formats(py::module_ &m);

struct PyHistogram {
  PyHistogram(varrow::Histogram histogram, bool is_fast) : h(std::move(histogram)), fast(is_fast) {}
  varrow::Histogram h;
  bool fast;
  mutable std::mutex mutex;
};
using HistogramPtr = std::unique_ptr<PyHistogram>;

HistogramPtr make_histogram(bool fast);

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

// numpy, imported once for the life of the process.
py::module_ &numpy();
// Any array-like as a numpy array whose dtype kind is one of kinds; other
// kinds (strings, objects, complex numbers) are a TypeError.
py::array numeric_array(py::handle object, std::string_view kinds, const char *what);
// A flat float64 array, converted only when it is not one already.
py::array_t<double> float_array(py::handle object, const char *what);
// The length of a list handed to the C library, which counts in int.
int list_length(const py::array &array);
// A sample count: a non-negative integer below 2^64.
uint64_t to_count(py::handle object);
// The interval of a coordinated-omission correction: any number but NaN (0
// or less makes no correction).
double correction_interval(double interval);

// A correction of more values than this releases the GIL while it inserts.
constexpr double long_correction = 4096;

// Runs insert(), a corrected insertion of value, without the GIL when the
// correction adds many values (value / interval of them), so that other
// threads go on meanwhile.
template <typename Insert>
uint64_t insert_corrected(double value, double interval, Insert &&insert) {
  if (interval > 0 && value / interval > long_correction) {
    py::gil_scoped_release release;
    return insert();
  }
  return insert();
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

inline uint64_t saturating_add(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

struct UnitCount {
  uint64_t operator[](py::ssize_t) const { return 1; }
};

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

// Values and counts of a bulk insertion: values flattened, counts (None when
// not given) broadcast to the values' shape and flattened.
struct BulkInput {
  py::array values;
  py::object counts;
};
BulkInput bulk_input(py::handle values, py::handle counts);

// The insertion functions of a histogram or a recorder, as a type whose
// static members name them (so that calls through them stay direct):
// value(target, double, count), integer(target, int64, scale, count),
// corrected(target, double, interval, count).

// One value: integers exactly through the scaled-integer path, so that a
// large integer cannot round into the next bucket on its way to a double.
template <typename Insert, typename Target, typename T>
uint64_t insert_value(Target *target, T value, uint64_t count) {
  if constexpr (std::is_floating_point_v<T>) {
    return Insert::value(target, static_cast<double>(value), count);
  } else if constexpr (std::is_signed_v<T>) {
    return Insert::integer(target, static_cast<int64_t>(value), 0, count);
  } else {
    if (value > static_cast<T>(INT64_MAX)) return Insert::value(target, static_cast<double>(value), count);
    return Insert::integer(target, static_cast<int64_t>(value), 0, count);
  }
}

// insert_many of a histogram or a recorder: every element of an array-like,
// read in place, with its count if given, corrected when expected_interval
// is not None.  guarded(work) calls work(target) with the GIL released and
// target held as it must be.  Returns the amount added (saturating).
template <typename Insert, typename Guarded>
uint64_t insert_many(Guarded &&guarded, py::handle values_in, py::handle counts_in, py::handle expected_interval) {
  const BulkInput input = bulk_input(values_in, counts_in);
  const py::ssize_t n = input.values.size();
  const auto each_element = [&](auto insert_one) {
    const auto loop = [&](auto values, auto counts) {
      return guarded([&](auto *target) {
        uint64_t added = 0;
        for (py::ssize_t i = 0; i < n; ++i) added = saturating_add(added, insert_one(target, values[i], counts[i]));
        return added;
      });
    };
    return with_elements<double, double, float, int64_t, int32_t, uint64_t, uint32_t>(input.values, [&](auto v) {
      if (input.counts.is_none()) return loop(v, UnitCount{});
      return with_elements<uint64_t, uint64_t, int64_t>(input.counts, [&](auto c) { return loop(v, c); });
    });
  };
  if (expected_interval.is_none())
    return each_element([](auto *target, auto value, uint64_t count) { return insert_value<Insert>(target, value, count); });
  const double interval = correction_interval(expected_interval.cast<double>());
  return each_element([interval](auto *target, auto value, uint64_t count) {
    return Insert::corrected(target, static_cast<double>(value), interval, count);
  });
}

}  // namespace varrow_python
