// Conversion of Python input, shared by every binding source.
#include <climits>
#include <cmath>
#include <string>

#include "bindings.hpp"

namespace varrow_python {

HistogramPtr make_histogram(bool fast) {
  using Kind = varrow::Histogram::Kind;
  return std::make_unique<PyHistogram>(varrow::Histogram(fast ? Kind::fast : Kind::plain), fast);
}

// Kept for the life of the process: a static object would be released after
// the interpreter has gone.
py::module_ &numpy() {
  static auto *np = new py::module_(py::module_::import("numpy"));
  return *np;
}

py::array numeric_array(py::handle object, std::string_view kinds, const char *what) {
  py::array array = numpy().attr("asarray")(object);
  const char kind = array.dtype().kind();
  if (kinds.find(kind) == std::string_view::npos)
    throw py::type_error(std::string(what) + " must be numbers, not an array of dtype " +
                         py::str(array.dtype()).cast<std::string>());
  return array;
}

py::array_t<double> float_array(py::handle object, const char *what) {
  py::array array = numeric_array(object, "fiub", what);
  return numpy().attr("ascontiguousarray")(array.attr("reshape")(-1), "float64");
}

int list_length(const py::array &array) {
  if (array.size() > INT_MAX) throw py::value_error("lists of more than 2^31 - 1 elements are not supported");
  return static_cast<int>(array.size());
}

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

double correction_interval(double interval) {
  if (std::isnan(interval)) throw py::value_error("expected_interval must be a number, not NaN");
  return interval;
}

BulkInput bulk_input(py::handle values_in, py::handle counts_in) {
  py::array values = numeric_array(values_in, "fiub", "values");
  const auto shape = values.attr("shape");
  BulkInput input{values.attr("reshape")(-1), py::none()};
  if (!counts_in.is_none()) {
    py::array c = numeric_array(counts_in, "iub", "counts");
    if (c.dtype().kind() == 'i' && numpy().attr("any")(numpy().attr("less")(c, 0)).cast<bool>())
      throw py::value_error("counts must not be negative");
    try {
      input.counts = numpy().attr("broadcast_to")(c, shape).attr("reshape")(-1);
    } catch (py::error_already_set &) {
      throw py::value_error("counts must have the shape of values, or broadcast to it");
    }
  }
  return input;
}

}  // namespace varrow_python
