// The density and probability-mass functions against the mpmath references
// of tests/data/densities.csv, and their argument checks and edge values.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <string>

#include "tests/density_reference.hpp"

namespace {

using density_reference::allowed_units;
using density_reference::error_units;
using density_reference::evaluate;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(Densities, WithinTheirBoundOnTheReferenceGrid) {
  struct Worst {
    double units = 0.0, share = 0.0;
    int points = 0;
  };
  std::map<std::string, Worst> worst;
  for (const density_reference::Row &row : density_reference::read_rows()) {
    const density_reference::Result r = evaluate(row.function, row.args);
    ASSERT_EQ(r.status, 0) << row.function;
    const double units = error_units(r.pdf, row.pdf);
    const double share = units / allowed_units(row.kappa);
    Worst &w = worst[row.function + " " + row.region];
    ++w.points;
    w.units = std::fmax(w.units, units);
    w.share = std::fmax(w.share, share);
    EXPECT_LE(share, 1.0) << row.function << "(" << row.args[0] << ", " << row.args[1] << ", " << row.args[2]
                          << ", " << row.args[3] << ") = " << r.pdf << ", reference "
                          << static_cast<double>(row.pdf) << ": " << units << " units, kappa " << row.kappa;
  }
  for (const auto &[key, w] : worst) {
    std::printf("%-16s %4d points, max %8.3g units, %6.3f of the bound\n", key.c_str(), w.points, w.units, w.share);
  }
}

struct EdgeCase {
  const char *function;
  std::array<double, 4> args;
  double expected;
};

// Ends of the ranges, where a closed form holds exactly; counts that are not
// integers carry no mass.
TEST(Densities, EdgeValues) {
  const EdgeCase cases[] = {
      {"pdfbet", {0.0, 1.0, 0.5, 2.0}, kInf},
      {"pdfbet", {0.0, 1.0, 1.0, 3.0}, 3.0},
      {"pdfbet", {0.0, 1.0, 2.0, 3.0}, 0.0},
      {"pdfbet", {1.0, 0.0, 2.0, 1.0}, 2.0},
      {"pdfbet", {0.5, 0.5, 1.0, 1.0}, 1.0},
      {"pdfbin", {2.5, 10.0, 0.3, 0.7}, 0.0},
      {"pdfbin", {0.0, 10.0, 0.0, 1.0}, 1.0},
      {"pdfbin", {3.0, 10.0, 0.0, 1.0}, 0.0},
      {"pdfbin", {10.0, 10.0, 1.0, 0.0}, 1.0},
      {"pdfbin", {1.0, 2.0, 0.5, 0.5}, 0.5},
      {"pdfnbn", {0.0, 0.0, 0.3, 0.7}, 1.0},
      {"pdfnbn", {4.0, 0.0, 0.3, 0.7}, 0.0},
      {"pdfnbn", {1.5, 2.0, 0.3, 0.7}, 0.0},
      {"pdfnbn", {0.0, 2.0, 0.5, 0.5}, 0.25},
      {"pdfpoi", {0.0, 0.0, 0, 0}, 1.0},
      {"pdfpoi", {2.0, 0.0, 0, 0}, 0.0},
      {"pdfpoi", {0.5, 3.0, 0, 0}, 0.0},
      {"pdfchi", {0.0, 1.0, 0, 0}, kInf},
      {"pdfchi", {0.0, 2.0, 0, 0}, 0.5},
      {"pdfchi", {0.0, 3.0, 0, 0}, 0.0},
      {"pdfchn", {0.0, 2.0, 2.0, 0}, 0.5 * std::exp(-1.0)},
      {"pdfchn", {0.0, 1.0, 2.0, 0}, kInf},
      {"pdfchn", {0.0, 4.0, 2.0, 0}, 0.0},
      {"pdff", {0.0, 1.0, 3.0, 0}, kInf},
      {"pdff", {0.0, 2.0, 3.0, 0}, 1.0},
      {"pdff", {0.0, 3.0, 3.0, 0}, 0.0},
      {"pdffnc", {0.0, 2.0, 3.0, 2.0}, std::exp(-1.0)},
      {"pdfgam", {0.0, 1.0, 2.5, 0}, 2.5},
      {"pdfgam", {0.0, 0.5, 1.0, 0}, kInf},
      {"pdfgam", {1e308, 3.0, 10.0, 0}, 0.0},
      {"pdfnor", {1e300, -1e300, 1.0, 0}, 0.0},
      {"pdft", {0.0, 1.0, 0, 0}, 1.0 / 3.141592653589793},
  };
  for (const EdgeCase &c : cases) {
    const density_reference::Result r = evaluate(c.function, c.args);
    ASSERT_EQ(r.status, 0) << c.function;
    if (std::isinf(c.expected) || c.expected == 0.0) {
      EXPECT_EQ(r.pdf, c.expected) << c.function << "(" << c.args[0] << ", " << c.args[1] << ")";
    } else {
      EXPECT_NEAR(r.pdf, c.expected, 4e-16 * c.expected) << c.function << "(" << c.args[0] << ", " << c.args[1] << ")";
    }
  }
}

struct RejectedCase {
  const char *function;
  std::array<double, 4> args;
  int status;
  double bound;
};

// The same statuses and bounds as case 1 of the front ends.
TEST(Densities, RejectArgumentsAsTheirFrontEnds) {
  const RejectedCase cases[] = {
      {"pdfbet", {1.5, -0.5, 2.0, 3.0}, -4, 1.0},   {"pdfbet", {0.5, 0.5, 0.0, 3.0}, -6, 0.0},
      {"pdfbet", {0.5, 0.6, 2.0, 3.0}, 4, 1.0},     {"pdfbin", {11.0, 10.0, 0.3, 0.7}, -4, 10.0},
      {"pdfbin", {1.0, 10.0, 0.3, 0.3}, 4, 1.0},    {"pdfbin", {1.0, 0.0, 0.3, 0.7}, -5, 0.0},
      {"pdfnbn", {-1.0, 3.0, 0.3, 0.7}, -4, 0.0},   {"pdfnbn", {1.0, 3.0, 1.3, -0.3}, -6, 1.0},
      {"pdfchi", {-1.0, 3.0, 0, 0}, -4, 0.0},       {"pdfchi", {1.0, kNaN, 0, 0}, -5, 0.0},
      {"pdfchn", {1.0, 3.0, -2.0, 0}, -6, 0.0},     {"pdff", {1.0, 3.0, 0.0, 0}, -6, 0.0},
      {"pdffnc", {1.0, 3.0, 4.0, -1.0}, -7, 0.0},   {"pdfgam", {1.0, 3.0, 0.0, 0}, -6, 0.0},
      {"pdfnor", {kInf, 0.0, 1.0, 0}, -4, 1.7976931348623157e308},
      {"pdfnor", {0.0, 0.0, -1.0, 0}, -6, 0.0},     {"pdfpoi", {1.0, -3.0, 0, 0}, -5, 0.0},
      {"pdft", {1.0, 0.0, 0, 0}, -5, 0.0},
  };
  for (const RejectedCase &c : cases) {
    const density_reference::Result r = evaluate(c.function, c.args);
    EXPECT_EQ(r.status, c.status) << c.function << "(" << c.args[0] << ", " << c.args[1] << ")";
    EXPECT_EQ(r.bound, c.bound) << c.function << "(" << c.args[0] << ", " << c.args[1] << ")";
  }
}

}  // namespace
