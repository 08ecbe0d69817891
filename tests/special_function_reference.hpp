// Reference tables of the special functions (tools/gen_special_function_reference.py)
// and the error measure that the accuracy tests apply to them.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "tests/reference_csv.hpp"

namespace special_reference {

struct Row {
  std::string region;
  double x = 0.0;
  double y = 0.0;
  long double reference = 0.0L;  // 64-bit significand: its own rounding is negligible
};

// Rows of one table, grouped by function name.
using Table = std::map<std::string, std::vector<Row>>;

inline Table load(const std::string &file_name) {
  Table table;
  // function, region, x, y (empty for functions of one argument), reference
  for (const auto &f : reference_csv::read(file_name)) {
    table[f[0]].push_back({f[1], reference_csv::number(f[2]), reference_csv::number(f[3]), reference_csv::reference(f[4])});
  }
  return table;
}

// Error in units of 2^-52, relative to max(|reference|, floor): floor 0 is the
// relative error, floor 1 turns it absolute where the result is below 1 in
// magnitude (around the zeros of the logarithmic functions).
inline double error_units(double computed, long double reference, double floor) {
  if (computed == reference) return 0.0;
  const long double scale = std::max(std::fabs(reference), static_cast<long double>(floor));
  return static_cast<double>(std::fabs(computed - reference) / scale / 0x1p-52L);
}

struct Summary {
  std::size_t count = 0;
  double max_units = 0.0;
  double median_units = 0.0;
  double worst_x = 0.0;
  double worst_y = 0.0;
};

inline std::ostream &operator<<(std::ostream &out, const Summary &s) {
  return out << s.count << " points, max " << s.max_units << " median " << s.median_units
             << " (units of 2^-52), worst at x=" << s.worst_x << " y=" << s.worst_y;
}

using Function = std::function<double(double, double)>;

inline Summary measure(const std::vector<Row> &rows, const std::string &region, const Function &f, double floor) {
  Summary summary;
  std::vector<double> errors;
  for (const Row &row : rows) {
    if (row.region != region) continue;
    const double raw = error_units(f(row.x, row.y), row.reference, floor);
    const double e = std::isnan(raw) ? HUGE_VAL : raw;
    if (errors.empty() || e > summary.max_units) {
      summary.max_units = e;
      summary.worst_x = row.x;
      summary.worst_y = row.y;
    }
    errors.push_back(e);
  }
  summary.count = errors.size();
  if (!errors.empty()) {
    std::nth_element(errors.begin(), errors.begin() + errors.size() / 2, errors.end());
    summary.median_units = errors[errors.size() / 2];
  }
  return summary;
}

// One region of one function and the bound its maximum error must keep.
struct Case {
  const char *function;
  const char *region;
  double floor;
  double bound_units;
};

inline std::ostream &operator<<(std::ostream &out, const Case &c) { return out << c.function << "/" << c.region; }

inline std::string case_name(const Case &c) { return std::string(c.function) + "_" + c.region; }

// Adapters from the library's pointer-passing signatures to Function.
template <double (*F)(double *)>
double unary(double x, double = 0.0) {
  return F(&x);
}

template <double (*F)(double *, double *)>
double binary(double x, double y) {
  return F(&x, &y);
}

// Measures one region of one function and holds its maximum to the bound.
inline void expect_within_bound(const Table &table, const std::map<std::string, Function> &functions, const Case &c) {
  const auto rows = table.find(c.function);
  ASSERT_NE(rows, table.end()) << "no reference rows";
  const Summary summary = measure(rows->second, c.region, functions.at(c.function), c.floor);
  ASSERT_GT(summary.count, 0u) << "no reference rows in this region";
  std::cout << c << ": " << summary << "\n";
  EXPECT_LE(summary.max_units, c.bound_units) << summary;
}

// Every region of the table has a bound among the cases, so no reference
// row goes unchecked.
template <size_t N>
void expect_every_region_bounded(const Table &table, const Case (&cases)[N]) {
  for (const auto &[function, rows] : table) {
    for (const Row &row : rows) {
      const bool covered = std::any_of(std::begin(cases), std::end(cases), [&](const Case &c) {
        return c.function == function && c.region == row.region;
      });
      ASSERT_TRUE(covered) << function << "/" << row.region;
    }
  }
}

}  // namespace special_reference
