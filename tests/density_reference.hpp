// The reference densities of tests/data/densities.csv (tools/
// gen_density_reference.py) and the call of each distfn density function on
// a row's arguments, shared by the tests and the benchmarks.
#pragma once

#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "distributions/distfn.h"
#include "tests/reference_csv.hpp"

namespace density_reference {

inline constexpr double unit = 0x1p-52;      // errors are reported in units of 2^-52
inline constexpr double half_unit = 0x1p-53;  // the unit round-off
// A density is held to max(8 units, 16 kappa 2^-53).
inline constexpr double least_allowed_units = 8.0;
inline constexpr double condition_factor = 16.0;

struct Row {
  std::string function;
  std::string region;
  std::array<double, 4> args;
  long double pdf;
  double kappa;
};

inline std::vector<Row> read_rows() {
  using reference_csv::number, reference_csv::reference;
  std::vector<Row> rows;
  for (const auto &f : reference_csv::read("densities.csv")) {
    rows.push_back({f[0], f[1], {number(f[2]), number(f[3]), number(f[4]), number(f[5])}, reference(f[6]),
                    number(f[7])});
  }
  return rows;
}

struct Result {
  double pdf = std::numeric_limits<double>::quiet_NaN();
  int status = 0;
  double bound = std::numeric_limits<double>::quiet_NaN();
};

// The distfn density function named `function` on the arguments in its order.
inline Result evaluate(const std::string &function, std::array<double, 4> a) {
  Result r;
  double *p = a.data();
  if (function == "pdfbet") pdfbet(&p[0], &p[1], &p[2], &p[3], &r.pdf, &r.status, &r.bound);
  else if (function == "pdfbin") pdfbin(&p[0], &p[1], &p[2], &p[3], &r.pdf, &r.status, &r.bound);
  else if (function == "pdfnbn") pdfnbn(&p[0], &p[1], &p[2], &p[3], &r.pdf, &r.status, &r.bound);
  else if (function == "pdfchi") pdfchi(&p[0], &p[1], &r.pdf, &r.status, &r.bound);
  else if (function == "pdfchn") pdfchn(&p[0], &p[1], &p[2], &r.pdf, &r.status, &r.bound);
  else if (function == "pdff") pdff(&p[0], &p[1], &p[2], &r.pdf, &r.status, &r.bound);
  else if (function == "pdffnc") pdffnc(&p[0], &p[1], &p[2], &p[3], &r.pdf, &r.status, &r.bound);
  else if (function == "pdfgam") pdfgam(&p[0], &p[1], &p[2], &r.pdf, &r.status, &r.bound);
  else if (function == "pdfnor") pdfnor(&p[0], &p[1], &p[2], &r.pdf, &r.status, &r.bound);
  else if (function == "pdfpoi") pdfpoi(&p[0], &p[1], &r.pdf, &r.status, &r.bound);
  else if (function == "pdft") pdft(&p[0], &p[1], &r.pdf, &r.status, &r.bound);
  else r.status = std::numeric_limits<int>::min();
  return r;
}

// The relative error of `computed` in units of 2^-52, in long double.
inline double error_units(double computed, long double ref) {
  if (ref == 0.0L) return computed == 0.0 ? 0.0 : INFINITY;
  const double e = static_cast<double>(std::fabs((computed - ref) / ref)) / unit;
  return std::isnan(e) ? INFINITY : e;
}

inline double allowed_units(double kappa) {
  return std::fmax(least_allowed_units, condition_factor * kappa * half_unit / unit);
}

}  // namespace density_reference
