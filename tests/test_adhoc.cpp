// Approximation from ad-hoc bins: the placement of each bin in every mode,
// the open-end rules, and the histogram built from them.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "histogram/hist_internal.hpp"
#include "tests/histogram_test_support.hpp"
#include "histogram/varrow.h"

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr uint64_t max_count = std::numeric_limits<uint64_t>::max();

using Bins = std::vector<hist_adhoc_bin>;

std::vector<double> Placements(int mode, const Bins &bins) {
  std::vector<double> out;
  double prev_width = 0;
  for (uint64_t i = 0; i < bins.size(); ++i)
    out.push_back(hist_adhoc_placement(mode, bins.data(), bins.size(), i, &prev_width));
  return out;
}

using varrow_test::Contents;
using varrow_test::Entries;

// Bins in the style of cumulative latency buckets, open at both ends.
const Bins latency_bins = {{3, -inf, 0.005}, {5, 0.005, 0.01}, {7, 0.01, 0.025}, {2, 0.025, inf}};

struct PlacementCase {
  std::string name;
  int mode;
  Bins bins;
  std::vector<double> expected;
};

class Placement : public ::testing::TestWithParam<PlacementCase> {};

TEST_P(Placement, ValuesAndHistogram) {
  const PlacementCase &c = GetParam();
  const std::vector<double> values = Placements(c.mode, c.bins);
  ASSERT_EQ(values.size(), c.expected.size());
  for (size_t i = 0; i < values.size(); ++i) {
    if (std::isnan(c.expected[i]))
      EXPECT_TRUE(std::isnan(values[i])) << "bin " << i << ": " << values[i];
    else
      EXPECT_DOUBLE_EQ(values[i], c.expected[i]) << "bin " << i;
  }

  // The histogram holds each bin's count in the bucket of its value.
  histogram *expected = hist_alloc();
  for (size_t i = 0; i < c.bins.size(); ++i) hist_insert(expected, c.expected[i], c.bins[i].count);
  histogram *h = hist_create_approximation_from_adhoc(c.mode, c.bins.data(), c.bins.size());
  EXPECT_EQ(Contents(h), Contents(expected));
  hist_free(h);
  hist_free(expected);
}

const PlacementCase placement_cases[] = {
    {"LatencyArithmetic", HIST_ADHOC_ARITHMETIC_MID, latency_bins, {0.0, 0.0075, 0.0175, 0.04}},
    {"LatencyHarmonic",
     HIST_ADHOC_HARMONIC_MID,
     latency_bins,
     {0.0, 0.006666666666666667, 0.014285714285714285, 0.04}},
    {"LatencyOuterEdge", HIST_ADHOC_OUTER_EDGE, latency_bins, {0.0, 0.00999, 0.02499, 0.04}},
    {"LatencyInnerEdge", HIST_ADHOC_INNER_EDGE, latency_bins, {0.0, 0.005001, 0.01001, 0.04}},
    {"LatencyOtherMode", 4, latency_bins, {0.0, 0.0, 0.0, 0.04}},
    {"LatencyNegativeMode", -1, latency_bins, {0.0, 0.0, 0.0, 0.04}},

    {"PositiveArithmetic", HIST_ADHOC_ARITHMETIC_MID, {{1, 1, 2}}, {1.5}},
    {"PositiveHarmonic", HIST_ADHOC_HARMONIC_MID, {{1, 1, 2}}, {1.3333333333333333}},
    {"PositiveOuterEdge", HIST_ADHOC_OUTER_EDGE, {{1, 1, 2}}, {1.999}},
    {"PositiveInnerEdge", HIST_ADHOC_INNER_EDGE, {{1, 1, 2}}, {1.001}},
    {"NegativeArithmetic", HIST_ADHOC_ARITHMETIC_MID, {{1, -2, -1}}, {-1.5}},
    {"NegativeHarmonic", HIST_ADHOC_HARMONIC_MID, {{1, -2, -1}}, {-1.3333333333333333}},
    {"NegativeOuterEdge", HIST_ADHOC_OUTER_EDGE, {{1, -2, -1}}, {-1.999}},
    {"NegativeInnerEdge", HIST_ADHOC_INNER_EDGE, {{1, -2, -1}}, {-1.001}},
    {"ReversedEdgesHarmonic", HIST_ADHOC_HARMONIC_MID, {{1, 2, 1}, {1, -1, -2}}, {1.3333333333333333, -1.3333333333333333}},

    {"HarmonicWithZeroEdge", HIST_ADHOC_HARMONIC_MID, {{1, 0, 1}}, {0.5}},
    {"HarmonicAcrossZero", HIST_ADHOC_HARMONIC_MID, {{1, -1, 1}}, {0.0}},
    // 2AB alone would overflow.
    {"HarmonicOfHugeEdges", HIST_ADHOC_HARMONIC_MID, {{1, 1e300, 3e300}}, {1.5e300}},
    {"OuterEdgeInZeroBucket", HIST_ADHOC_OUTER_EDGE, {{1, -1e-130, 0}}, {-1e-130 + 1e-129}},
    {"InnerEdgeInZeroBucket", HIST_ADHOC_INNER_EDGE, {{1, 0, 1}}, {-1e-129}},
    {"OuterEdgeBeyondLimit", HIST_ADHOC_OUTER_EDGE, {{1, 1, 1e127 * 5}, {1, -5e127, -1}}, {1e127, -1e127}},
    {"EdgesBeyondLimitInnerAbove", HIST_ADHOC_OUTER_EDGE, {{1, 2e127, 3e127}, {1, -3e127, -2e127}}, {1e128, -1e128}},
    {"InnerEdgeBeyondLimit", HIST_ADHOC_INNER_EDGE, {{1, 2e127, 3e127}, {1, -3e127, -2e127}}, {1e128, -1e128}},

    // The step up is no more than the edge itself.
    {"OpenLastLimitedByEdge", HIST_ADHOC_ARITHMETIC_MID, {{1, 0, 10}, {2, 4, inf}}, {5.0, 8.0}},
    {"OpenLastByThreshold", HIST_ADHOC_ARITHMETIC_MID, {{1, 1, 2}, {2, 2, 1e128}}, {1.5, 3.0}},
    {"EmptyBinKeepsItsBucket", HIST_ADHOC_ARITHMETIC_MID, {{0, 1, 2}}, {1.5}},
    {"SingleOpenBinHasNoRule", HIST_ADHOC_ARITHMETIC_MID, {{6, 5, inf}}, {inf}},
    {"OpenFirstNeedsThreeBins", HIST_ADHOC_ARITHMETIC_MID, {{3, -inf, 1}, {4, 1, 2}}, {-inf, 1.5}},
    {"OpenFirstByThreshold", HIST_ADHOC_ARITHMETIC_MID, {{3, -1e128, 1}, {4, 1, 3}, {5, 3, 4}}, {-1.0, 2.0, 3.5}},
    {"NaNEdge", HIST_ADHOC_ARITHMETIC_MID, {{2, nan, 1}, {3, 1, 2}}, {nan, 1.5}},
};

INSTANTIATE_TEST_SUITE_P(Cases, Placement, ::testing::ValuesIn(placement_cases),
                         [](const auto &info) { return info.param.name; });

// Bins whose harmonic middle, evaluated in double precision alone, misses
// the correctly rounded 2AB / (A + B) by an ulp; the extended evaluation hits it.
TEST(PlacementHarmonic, KeepsExtendedPrecision) {
  const std::vector<std::tuple<double, double, double>> cases = {
      {9.391552478622327, 16.55175168526646, 11.983565669455169},
      {2.1667773719090033, 3.9960426604697, 2.8099262248119903},
      {0.29137883496110456, 0.42057135383955047, 0.3442532722864275},
      {9.925441578348476, 26.996139642470904, 14.51447083264089},
  };
  for (const auto &[lower, upper, expected] : cases)
    EXPECT_EQ(Placements(HIST_ADHOC_HARMONIC_MID, {{1, lower, upper}})[0], expected) << lower << ", " << upper;
}

// A (0, 0) bin lies at 0 in every mode, and an open last bin after it sees
// prev = 0, so it lands exactly on its finite edge.
TEST(PlacementZeroBin, SameInEveryMode) {
  const Bins bins = {{4, 0, 0}, {2, 3, inf}};
  for (int mode = -1; mode <= 4; ++mode) EXPECT_EQ(Placements(mode, bins), (std::vector<double>{0.0, 3.0})) << mode;
}

// The inner-edge mode limits the outer edge, and with it the width that an
// open bin after it steps by; the other modes keep the full width.
TEST(PlacementWidth, InnerEdgeModeLimitsTheWidthPassedOn) {
  const Bins bins = {{1, -1e200, -5}, {2, 1, inf}};
  double prev_width = 0;
  hist_adhoc_placement(HIST_ADHOC_INNER_EDGE, bins.data(), bins.size(), 0, &prev_width);
  EXPECT_DOUBLE_EQ(prev_width, -1e127);
  EXPECT_DOUBLE_EQ(Placements(HIST_ADHOC_INNER_EDGE, bins)[1], 1 - 1e127);

  prev_width = 0;
  hist_adhoc_placement(HIST_ADHOC_ARITHMETIC_MID, bins.data(), bins.size(), 0, &prev_width);
  EXPECT_DOUBLE_EQ(prev_width, -1e200);
  EXPECT_DOUBLE_EQ(Placements(HIST_ADHOC_ARITHMETIC_MID, bins)[1], 1 - 1e200);
}

TEST(ApproximationHistogram, CapacityFollowsTheNumberOfBins) {
  const std::vector<std::tuple<size_t, int>> cases = {{0, 100}, {1, 1}, {3, 3}, {50000, 46082}};
  for (const auto &[nbins, capacity] : cases) {
    const Bins bins(nbins, hist_adhoc_bin{1, 1, 2});
    histogram *h = hist_create_approximation_from_adhoc(HIST_ADHOC_ARITHMETIC_MID, bins.data(), bins.size());
    EXPECT_EQ(h->capacity, capacity) << nbins << " bins";
    EXPECT_FALSE(h->fast);
    EXPECT_EQ(hist_sample_count(h), nbins);
    hist_free(h);
  }
}

TEST(ApproximationHistogram, TotalCountSaturates) {
  const Bins bins = {{max_count - 1, 1, 2}, {5, 1.2, 1.8}, {7, 10, 20}};
  histogram *h = hist_create_approximation_from_adhoc(HIST_ADHOC_ARITHMETIC_MID, bins.data(), bins.size());
  EXPECT_EQ(Contents(h), (Entries{{15, 0, max_count}, {15, 1, 7}}));
  EXPECT_EQ(hist_sample_count(h), max_count);
  hist_free(h);
}

TEST(ApproximationHistogram, NullOrNoBinsGiveAnEmptyHistogram) {
  const hist_adhoc_bin bin{1, 1, 2};
  for (const auto &[bins, nbins] : {std::tuple<const hist_adhoc_bin *, uint64_t>{nullptr, 0},
                                    {nullptr, 5},
                                    {&bin, 0}}) {
    histogram *h = hist_create_approximation_from_adhoc(HIST_ADHOC_ARITHMETIC_MID, bins, nbins);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(hist_bucket_count(h), 0);
    EXPECT_EQ(h->capacity, 100);
    hist_free(h);
  }
}

}  // namespace
