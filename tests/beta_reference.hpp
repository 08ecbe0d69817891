// Reading the mpmath reference tables of the incomplete beta family and
// measuring errors against them, shared by the two test programs.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "tests/reference_csv.hpp"

namespace beta_reference {

inline constexpr double unit = 0x1p-52;      // errors are reported in units of 2^-52
inline constexpr double half_unit = 0x1p-53;  // the unit round-off
// Wherever the problem is well conditioned the error must stay below this
// relative bound; where it is not, below 16 kappa 2^-53.
inline constexpr double relative_target = 1e-13;
inline constexpr double condition_factor = 16.0;
// Values below this are not held to a relative bound.
inline constexpr double smallest_checked = 1e-300;

using Row = std::map<std::string, std::string>;

inline std::vector<Row> read_csv(const std::string &name) {
  const reference_csv::Table table = reference_csv::read_with_header(name);
  std::vector<Row> rows;
  for (const reference_csv::Fields &fields : table.rows) {
    Row &row = rows.emplace_back();
    for (std::size_t k = 0; k < table.header.size(); ++k) row[table.header[k]] = k < fields.size() ? fields[k] : "";
  }
  return rows;
}

inline double number(const Row &row, const std::string &key) {
  return std::strtod(row.at(key).c_str(), nullptr);
}

inline long double reference(const Row &row, const std::string &key) {
  return std::strtold(row.at(key).c_str(), nullptr);
}

// The relative error of `computed` in units of 2^-52, measured in long
// double against the 20-digit reference.
inline double error_units(double computed, long double ref) {
  if (ref == 0.0L) return computed == 0.0 ? 0.0 : INFINITY;
  return static_cast<double>(std::fabs((computed - ref) / ref)) / unit;
}

// The bound that a value of condition number kappa is held to, in units of 2^-52.
inline double allowed_units(double kappa) {
  return std::max(relative_target, condition_factor * kappa * half_unit) / unit;
}

// Up to this condition number 16 kappa 2^-53 stays below the relative
// target: the well-conditioned points.
inline constexpr double well_conditioned = relative_target / (condition_factor * half_unit);

// Maxima and medians of the errors of one group of points.
struct ErrorSummary {
  std::vector<double> errors;
  double worst_kappa = 0.0;  // kappa at the largest error
  double worst = 0.0;
  double worst_well_conditioned = 0.0;
  double worst_share_of_bound = 0.0;  // the largest error / allowed error
  void add(double error, double kappa) {
    errors.push_back(error);
    if (error >= worst) {
      worst = error;
      worst_kappa = kappa;
    }
    if (kappa <= well_conditioned) worst_well_conditioned = std::max(worst_well_conditioned, error);
    worst_share_of_bound = std::max(worst_share_of_bound, error / allowed_units(kappa));
  }
  double median() {
    if (errors.empty()) return 0.0;
    std::nth_element(errors.begin(), errors.begin() + errors.size() / 2, errors.end());
    return errors[errors.size() / 2];
  }
};

inline void print_summary(const char *title, std::map<std::string, ErrorSummary> &groups) {
  std::printf("%s (relative error in units of 2^-52)\n", title);
  std::printf("  %-24s %6s %10s %10s %12s %14s %10s\n", "group", "points", "median", "max",
              "kappa@max", "max(kappa<56)", "max/bound");
  for (auto &[name, summary] : groups) {
    std::printf("  %-24s %6zu %10.3g %10.3g %12.3g %14.3g %10.3g\n", name.c_str(),
                summary.errors.size(), summary.median(), summary.worst, summary.worst_kappa,
                summary.worst_well_conditioned, summary.worst_share_of_bound);
  }
}

}  // namespace beta_reference
