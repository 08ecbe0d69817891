// The distfn front ends and quantile functions for varrow.distfn: each runs
// over the columns of a (count, n) array of quantities without the GIL.
#include <array>
#include <string>
#include <utility>

#include "bindings.hpp"
#include "distfn.h"

namespace varrow_python {

namespace {

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

// A density function called on its front end's quantities: it reads the
// value and the parameters after p and q and writes the density over p.
template <auto function, size_t count>
void call_density(double *q, int *status, double *bound) {
  [&]<size_t... i>(std::index_sequence<i...>) {
    function(&q[2 + i]..., &q[0], status, bound);
  }(std::make_index_sequence<count - 2>{});
}

// The tails of the noncentral laws summed each on its own (cumchnb,
// cumfncb), over p and q; the others' tails are their front ends' case 1.
template <auto function, size_t count>
void call_tails(double *q, int *status, double *bound) {
  [&]<size_t... i>(std::index_sequence<i...>) {
    function(&q[2 + i]..., &q[0], &q[1], status, bound);
  }(std::make_index_sequence<count - 2>{});
}

using ColumnCall = void (*)(double *quantities, int *status, double *bound);

struct FrontEnd {
  const char *name;
  size_t quantities;
  FrontEndCall call;
  QuantileCall quantile;
  ColumnCall density;
  ColumnCall tails;  // null: case 1 of the front end
};

// A front end, its quantile and density functions, which take count quantities.
template <auto front_end, auto inverse, auto density, size_t count, size_t outputs = 1>
constexpr FrontEnd entry(const char *name) {
  return {name, count, call_front_end<front_end, count>, call_quantile<inverse, count, outputs>,
          call_density<density, count>, nullptr};
}

template <auto front_end, auto inverse, auto density, auto tails, size_t count>
constexpr FrontEnd noncentral_entry(const char *name) {
  FrontEnd e = entry<front_end, inverse, density, count>(name);
  e.tails = call_tails<tails, count>;
  return e;
}

constexpr std::array front_ends{
    entry<cdfbet, invbet, pdfbet, 6, 2>("cdfbet"),
    entry<cdfbin, invbin, pdfbin, 6>("cdfbin"),
    entry<cdfchi, invchi, pdfchi, 4>("cdfchi"),
    noncentral_entry<cdfchn, invchn, pdfchn, cumchnb, 5>("cdfchn"),
    entry<cdff, invf, pdff, 5>("cdff"),
    noncentral_entry<cdffnc, invfnc, pdffnc, cumfncb, 6>("cdffnc"),
    entry<cdfgam, invgam, pdfgam, 5>("cdfgam"),
    entry<cdfnbn, invnbn, pdfnbn, 6>("cdfnbn"),
    entry<cdfnor, invnor, pdfnor, 5>("cdfnor"),
    entry<cdfpoi, invpoi, pdfpoi, 4>("cdfpoi"),
    entry<cdft, invt, pdft, 4>("cdft"),
};

const FrontEnd &front_end_named(const std::string &name) {
  const auto found = std::find_if(front_ends.begin(), front_ends.end(),
                                  [&](const FrontEnd &f) { return name == f.name; });
  if (found == front_ends.end()) throw py::value_error("no front end " + name);
  return *found;
}

// Runs solve_column(column, &status, &bound) on the columns of quantities
// (a C-ordered float64 array of shape (count, n), updated in place) without
// the GIL.  By default it stops at the first failure: None when all succeed,
// else (column, status, bound) of that failure.  With every set it solves
// every column and returns each one's status (0 for success) as an int32
// array, so that the caller can mark the failures alone.
template <typename SolveColumn>
py::object each_column(const FrontEnd &entry, py::array_t<double> &quantities, bool every,
                       SolveColumn solve_column) {
  if (quantities.ndim() != 2 || static_cast<size_t>(quantities.shape(0)) != entry.quantities ||
      !(quantities.flags() & py::array::c_style) || !quantities.writeable())
    throw py::value_error("quantities must be a writable C-ordered array of shape (" +
                          std::to_string(entry.quantities) + ", n)");
  const py::ssize_t n = quantities.shape(1);
  double *data = quantities.mutable_data();
  py::array_t<int32_t> statuses(every ? n : 0);
  int32_t *status_of = statuses.mutable_data();
  py::ssize_t failed = -1;
  int status = 0;
  double bound = 0;
  {
    py::gil_scoped_release release;
    std::array<double, max_quantities> column;
    for (py::ssize_t j = 0; j < n && (every || failed < 0); ++j) {
      for (size_t k = 0; k < entry.quantities; ++k) column[k] = data[k * n + j];
      status = 0;
      solve_column(column.data(), &status, &bound);
      if (every) status_of[j] = status;
      else if (status != 0) failed = j;
      for (size_t k = 0; k < entry.quantities; ++k) data[k * n + j] = column[k];
    }
  }
  if (every) return statuses;
  if (failed < 0) return py::none();
  return py::make_tuple(failed, status, bound);
}

// Solves case which of the named front end for every column of quantities.
py::object solve(const std::string &name, int which, py::array_t<double> quantities, bool every) {
  const FrontEnd &entry = front_end_named(name);
  return each_column(entry, quantities, every, [&](double *column, int *status, double *bound) {
    entry.call(which, column, status, bound);
  });
}

// Fills in case 2 of the named front end for every column of quantities with
// its full-precision quantile function.  The quantile functions report no
// bound: a range limit is the output they set, and for any other failure the
// front end's own case 2 on the same quantities gives it (its argument checks
// are the same but for q).
py::object quantile(const std::string &name, py::array_t<double> quantities, bool every) {
  const FrontEnd &entry = front_end_named(name);
  return each_column(entry, quantities, every, [&](double *column, int *status, double *bound) {
    std::array<double, max_quantities> given;
    std::copy_n(column, entry.quantities, given.begin());
    *status = entry.quantile(column);
    if (*status == 0) return;
    *bound = column[2];
    if (*status != 1 && *status != 2) {
      int front_end_status = 0;
      entry.call(2, given.data(), &front_end_status, bound);
      // The noncentral front ends read no q: where they report another
      // status, the quantile function's check of p, q or p + q failed, whose
      // bound is 1 for a value above 1, else 0.
      if (front_end_status != *status) {
        const double value = *status == -2 ? given[0] : *status == -3 ? given[1] : given[0] + given[1];
        *bound = value > 1.0 ? 1.0 : 0.0;
      }
    }
  });
}

// The density at each column's value (its p slot receives it), with the
// front end's status and bound on an argument out of range.
py::object density(const std::string &name, py::array_t<double> quantities, bool every) {
  const FrontEnd &entry = front_end_named(name);
  return each_column(entry, quantities, every, entry.density);
}

// Both tails at each column's value into its p and q: for the noncentral
// laws each summed on its own, for the others case 1 of the front end.
py::object tails(const std::string &name, py::array_t<double> quantities, bool every) {
  const FrontEnd &entry = front_end_named(name);
  if (entry.tails) return each_column(entry, quantities, every, entry.tails);
  return each_column(entry, quantities, every, [&](double *column, int *status, double *bound) {
    entry.call(1, column, status, bound);
  });
}

}  // namespace

void bind_distfn(py::module_ &m) {
  m.def("solve", &solve, py::arg("front_end"), py::arg("which"), py::arg("quantities").noconvert(),
        py::arg("every") = false,
        "Runs a distfn front end on each column of a (count, n) float64 array in place: None, or the\n"
        "first failure's (column, status, bound); with every, each column's status.");
  m.def("quantile", &quantile, py::arg("front_end"), py::arg("quantities").noconvert(), py::arg("every") = false,
        "Solves a front end's case 2 with its full-precision quantile function on each column of a\n"
        "(count, n) float64 array in place; returns as solve() does.");
  m.def("density", &density, py::arg("front_end"), py::arg("quantities").noconvert(), py::arg("every") = false,
        "The density (probability mass of a count) of a front end's law at each column of a (count, n)\n"
        "float64 array, written over its p; returns as solve() does.");
  m.def("tails", &tails, py::arg("front_end"), py::arg("quantities").noconvert(), py::arg("every") = false,
        "Both tails (p, q) at each column of a (count, n) float64 array in place, the noncentral laws'\n"
        "each summed on its own; returns as solve() does.");
}

}  // namespace varrow_python
