// Quantile estimators (rank ceil(qN) and rank floor((N-1)q+1)) and the
// inverse quantile: worked cases, a brute-force check against the samples'
// implied positions, status codes and NaN inputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include "histogram/varrow.h"

namespace {

constexpr uint64_t two_to_63 = uint64_t{1} << 63;
constexpr double untouched = 42.0;  // marks outputs that must not be written

using HistogramPtr = std::unique_ptr<histogram, decltype(&hist_free)>;
using Samples = std::vector<std::pair<double, uint64_t>>;
using Estimator = int (*)(const histogram *, const double *, int, double *);

HistogramPtr MakeHistogram(const Samples &samples) {
  HistogramPtr h(hist_alloc(), &hist_free);
  for (const auto &[value, count] : samples) hist_insert(h.get(), value, count);
  return h;
}

double Quantile(Estimator estimate, const histogram *h, double q) {
  double out = untouched;
  EXPECT_EQ(estimate(h, &q, 1, &out), 0) << q;
  return out;
}

struct QuantileCase {
  Samples samples;
  double q;
  double ceiling_rank;  // hist_approx_quantile
  double floor_rank;    // hist_approx_quantile7
};

TEST(Quantile, WorkedCases) {
  const QuantileCase cases[] = {
      // One sample sits in the middle of its bucket whatever the probability.
      {{{1.0, 1}}, 0.0, 1.05, 1.05},
      {{{1.0, 1}}, 0.3, 1.05, 1.05},
      {{{1.0, 1}}, 1.0, 1.05, 1.05},
      // Three samples at 1.025, 1.05, 1.075.
      {{{1.0, 3}}, 0.5, 1.05, 1.05},
      {{{1.0, 3}}, 0.4, 1.05, 1.025},
      {{{1.0, 3}}, 0.1, 1.025, 1.025},
      // A target equal to the cumulative count stays in its bucket.
      {{{1.0, 2}, {2.0, 2}}, 0.5, 1.0 + 0.1 * 2 / 3, 1.0 + 0.1 * 2 / 3},
      {{{1.0, 2}, {2.0, 2}}, 0.75, 2.0 + 0.1 / 3, 2.0 + 0.1 / 3},
      // Only the zero bucket holds samples.
      {{{0.0, 5}}, 0.0, 0.0, 0.0},
      {{{0.0, 5}}, 0.5, 0.0, 0.0},
      {{{0.0, 5}}, 1.0, 0.0, 0.0},
      // A negative bucket spreads toward minus infinity: -10 covers [-1.1, -1.0].
      {{{-1.0, 1}}, 0.0, -1.05, -1.05},
      {{{-1.0, 1}}, 1.0, -1.05, -1.05},
      // The ends are the first and last samples of the non-empty buckets;
      // empty and invalid buckets take no part.
      {{{NAN, 5}, {-2.0, 0}, {1.0, 0}, {3.0, 4}, {7.0, 0}}, 0.0, 3.02, 3.02},
      {{{NAN, 5}, {-2.0, 0}, {1.0, 0}, {3.0, 4}, {7.0, 0}}, 1.0, 3.08, 3.08},
      {{{-2.0, 1}, {0.0, 1}, {5.0, 1}}, 0.5, 0.0, 0.0},
      {{{-2.0, 1}, {0.0, 1}, {5.0, 1}}, 0.0, -2.05, -2.05},
      // -0.0 is a probability of 0.
      {{{1.0, 3}}, -0.0, 1.025, 1.025},
  };
  for (const QuantileCase &c : cases) {
    const HistogramPtr h = MakeHistogram(c.samples);
    SCOPED_TRACE(testing::Message() << "q " << c.q << ", first bucket " << c.samples.front().first);
    EXPECT_DOUBLE_EQ(Quantile(hist_approx_quantile, h.get(), c.q), c.ceiling_rank);
    EXPECT_DOUBLE_EQ(Quantile(hist_approx_quantile7, h.get(), c.q), c.floor_rank);
  }
}

// The positions that the estimators give the samples, in ascending order:
// the j-th of c samples of a bucket at left + width x j / (c + 1).
std::vector<double> ImpliedSamples(const histogram *h) {
  std::vector<double> positions;
  for (int i = 0; i < hist_bucket_count(h); ++i) {
    hist_bucket b;
    uint64_t count;
    hist_bucket_idx_bucket(h, i, &b, &count);
    const double value = hist_bucket_to_double(b), width = hist_bucket_to_double_bin_width(b);
    if (std::isnan(value)) continue;
    const double left = value < 0 ? value - width : value;
    for (uint64_t j = 1; j <= count; ++j)
      positions.push_back(width == 0 ? 0.0 : (double(j) / double(count + 1)) * width + left);
  }
  return positions;
}

// Random small histograms, every probability on a fine grid and every exact
// k/N in one ascending batch: each result must be the implied sample of the
// estimator's rank, and equal to the answer for that probability alone.
TEST(Quantile, BatchMatchesImpliedSamplesOfTheRank) {
  std::mt19937 random(20261209);
  const double values[] = {NAN, -300.0, -2.5, -1.0, -0.013, 0.0, 1e-50, 0.7, 1.0, 1.05, 4.4, 99.0, 1e90};
  for (int round = 0; round < 40; ++round) {
    Samples samples;
    for (double v : values)
      if (random() % 3 != 0) samples.push_back({v, random() % 6});
    if (round % 2 == 0) samples.push_back({1.0, 1});  // at least one sample
    const HistogramPtr h = MakeHistogram(samples);
    const std::vector<double> implied = ImpliedSamples(h.get());
    const double n = double(implied.size());
    if (implied.empty()) continue;

    std::vector<double> q;
    for (int i = 0; i <= 200; ++i) q.push_back(i / 200.0);
    for (size_t k = 0; k <= implied.size(); ++k) q.push_back(double(k) / n);
    std::sort(q.begin(), q.end());
    std::vector<double> ceiling(q.size()), floor(q.size());
    ASSERT_EQ(hist_approx_quantile(h.get(), q.data(), int(q.size()), ceiling.data()), 0);
    ASSERT_EQ(hist_approx_quantile7(h.get(), q.data(), int(q.size()), floor.data()), 0);
    for (size_t i = 0; i < q.size(); ++i) {
      SCOPED_TRACE(testing::Message() << "round " << round << ", q " << q[i] << " of " << n);
      const size_t ceiling_rank = std::max<size_t>(1, size_t(std::ceil(q[i] * n)));
      const size_t floor_rank = size_t(std::floor((n - 1.0) * q[i] + 1.0));
      EXPECT_DOUBLE_EQ(ceiling[i], implied[ceiling_rank - 1]);
      EXPECT_DOUBLE_EQ(floor[i], implied[floor_rank - 1]);
      EXPECT_EQ(ceiling[i], Quantile(hist_approx_quantile, h.get(), q[i]));
      EXPECT_EQ(floor[i], Quantile(hist_approx_quantile7, h.get(), q[i]));
    }
  }
}

struct StatusCase {
  const char *what;
  Samples samples;
  bool null_histogram;
  std::vector<double> q;
  int status;
  std::vector<double> out;  // expected outputs; untouched marks unwritten ones, NaN is compared as NaN
};

void ExpectOutputs(const std::vector<double> &got, const std::vector<double> &want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) {
    if (std::isnan(want[i]))
      EXPECT_TRUE(std::isnan(got[i])) << "output " << i << " is " << got[i];
    else
      EXPECT_NEAR(got[i], want[i], 1e-12) << "output " << i;
  }
}

TEST(Quantile, StatusAndEmptyResults) {
  const double nan = NAN;
  const StatusCase cases[] = {
      {"descending pair", {{1.0, 3}}, false, {0.5, 0.1}, -2, {untouched, untouched}},
      {"equal neighbours", {{1.0, 3}}, false, {0.1, 0.1}, 0, {1.025, 1.025}},
      {"above one", {{1.0, 3}}, false, {1.5}, -3, {untouched}},
      {"below zero", {{1.0, 3}}, false, {-0.1}, -3, {untouched}},
      // Every probability is checked before anything is written.
      {"out of range late", {{1.0, 3}}, false, {1.0, 1.5}, -3, {untouched, untouched}},
      {"out of range after a NaN", {{1.0, 3}}, false, {0.5, nan, 2.0}, -3, {untouched, untouched, untouched}},
      {"NaN hides no descent", {{1.0, 3}}, false, {0.9, nan, 0.1}, -2, {untouched, untouched, untouched}},
      {"NaN probability", {{1.0, 3}}, false, {0.1, nan, 0.5}, 0, {1.025, nan, 1.05}},
      {"NaN in the zero bucket", {{0.0, 3}}, false, {nan}, 0, {nan}},
      {"null histogram", {}, true, {0.5, 0.1}, 0, {nan, nan}},
      {"empty, descending", {}, false, {0.5, 0.1}, -2, {untouched, untouched}},
      {"empty", {}, false, {0.1, 0.5}, 0, {nan, nan}},
      {"empty, single out of range", {}, false, {1.5}, 0, {nan}},
      {"zero counts", {{1.0, 0}, {2.0, 0}}, false, {0.5}, 0, {nan}},
      {"only the NaN bucket", {{nan, 9}}, false, {0.0, 1.0}, 0, {nan, nan}},
  };
  const std::pair<const char *, Estimator> estimators[] = {{"quantile", hist_approx_quantile},
                                                          {"quantile7", hist_approx_quantile7}};
  for (const auto &[name, estimate] : estimators) {
    for (const StatusCase &c : cases) {
      SCOPED_TRACE(testing::Message() << name << ": " << c.what);
      const HistogramPtr h = MakeHistogram(c.samples);
      std::vector<double> out(c.q.size(), untouched);
      EXPECT_EQ(estimate(c.null_histogram ? nullptr : h.get(), c.q.data(), int(c.q.size()), out.data()), c.status);
      ExpectOutputs(out, c.out);
    }
  }
}

TEST(Quantile, NothingAskedNothingWritten) {
  const HistogramPtr h = MakeHistogram({{1.0, 3}});
  const double q = 0.5;
  double out = untouched;
  for (Estimator estimate : {hist_approx_quantile, hist_approx_quantile7, hist_approx_inverse_quantile})
    for (int n : {0, -1}) {
      EXPECT_EQ(estimate(h.get(), &q, n, &out), 0);
      EXPECT_EQ(out, untouched);
    }
}

struct InverseCase {
  Samples samples;
  double value;
  double share;
};

TEST(InverseQuantile, SharesBelowTheValue) {
  const InverseCase cases[] = {
      {{{1.0, 2}, {2.0, 2}}, 0.5, 0.0},  {{{1.0, 2}, {2.0, 2}}, 1.05, 0.25},
      {{{1.0, 2}, {2.0, 2}}, 1.5, 0.5},  {{{1.0, 2}, {2.0, 2}}, 2.0, 0.5},
      {{{1.0, 2}, {2.0, 2}}, 2.05, 0.75}, {{{1.0, 2}, {2.0, 2}}, 5.0, 1.0},
      {{{1.0, 2}, {2.0, 2}}, -1e300, 0.0},
      // The zero bucket counts the negative samples only.
      {{{0.0, 5}, {1.0, 5}}, 0.0, 0.0},   {{{0.0, 5}, {1.0, 5}}, -1e-200, 0.0},
      {{{0.0, 5}, {1.0, 5}}, 1e-100, 0.5}, {{{0.0, 5}, {1.0, 5}}, 1.05, 0.75},
      {{{-5.0, 5}, {0.0, 5}}, 0.0, 0.5},
      // A negative bucket's interval is [d - w, d).
      {{{-1.2, 4}}, -1.25, 0.5},         {{{-1.2, 4}}, -1.2, 1.0},
      {{{-1.2, 4}}, -1.3, 0.0},
      // Invalid and empty buckets take no part.
      {{{NAN, 10}, {1.0, 0}, {3.0, 2}}, 1.05, 0.0}, {{{NAN, 10}, {1.0, 0}, {3.0, 2}}, 3.05, 0.5},
      // Totals beyond 2^64 - 1 are still divided correctly.
      {{{1.0, two_to_63}, {2.0, two_to_63}}, 1.5, 0.5},
  };
  for (const InverseCase &c : cases) {
    const HistogramPtr h = MakeHistogram(c.samples);
    double out = untouched;
    EXPECT_EQ(hist_approx_inverse_quantile(h.get(), &c.value, 1, &out), 0);
    EXPECT_NEAR(out, c.share, 1e-12) << c.value << " in a histogram starting at " << c.samples.front().first;
  }
}

// One batch walks forward once: it must agree with the values asked one by one.
TEST(InverseQuantile, BatchMatchesSingleValues) {
  const HistogramPtr h = MakeHistogram({{-40.0, 3}, {-1.2, 4}, {0.0, 2}, {0.5, 7}, {0.55, 1}, {3.3, 6}, {8e7, 2}});
  std::vector<double> values = {-1e9, -41.0, -40.0, -39.5, -1.3, -1.25, -1.2, -0.5, -1e-130, 0.0, 1e-129,
                                0.5,  0.52,  0.55,  0.56,  0.6,  3.3,   3.35, 3.4,  1e6,     8e7, 8.5e7, 1e300};
  std::vector<double> batch(values.size());
  ASSERT_EQ(hist_approx_inverse_quantile(h.get(), values.data(), int(values.size()), batch.data()), 0);
  double previous = 0;
  for (size_t i = 0; i < values.size(); ++i) {
    double single = untouched;
    hist_approx_inverse_quantile(h.get(), &values[i], 1, &single);
    EXPECT_EQ(batch[i], single) << values[i];
    EXPECT_GE(batch[i], previous) << values[i];
    previous = batch[i];
  }
  EXPECT_EQ(batch.back(), 1.0);
}

TEST(InverseQuantile, StatusAndEmptyResults) {
  const double nan = NAN;
  const StatusCase cases[] = {
      // A list that does not ascend is refused before anything is written.
      {"descending", {{1.0, 2}, {2.0, 2}}, false, {5, 3, 1}, -2, {untouched, untouched, untouched}},
      {"descending late", {{1.0, 2}, {2.0, 2}}, false, {1, 3, 2, 4}, -2, {untouched, untouched, untouched, untouched}},
      {"NaN hides no descent", {{1.0, 2}, {2.0, 2}}, false, {5, nan, 1, 7}, -2,
       {untouched, untouched, untouched, untouched}},
      {"NaN value", {{1.0, 2}, {2.0, 2}}, false, {1.5, nan, 2.05}, 0, {0.5, nan, 0.75}},
      {"NaN values at the ends", {{1.0, 2}, {2.0, 2}}, false, {nan, 1.05, nan}, 0, {nan, 0.25, nan}},
      {"equal values", {{1.0, 2}, {2.0, 2}}, false, {1.5, 1.5}, 0, {0.5, 0.5}},
      {"null histogram", {}, true, {1, 2}, 0, {nan, nan}},
      {"null histogram, descending", {}, true, {2, 1}, -2, {untouched, untouched}},
      {"empty", {}, false, {1, 2}, 0, {nan, nan}},
      {"zero counts", {{1.0, 0}}, false, {1.0}, 0, {nan}},
      {"only the NaN bucket", {{nan, 3}}, false, {1.0}, 0, {nan}},
  };
  for (const StatusCase &c : cases) {
    SCOPED_TRACE(c.what);
    const HistogramPtr h = MakeHistogram(c.samples);
    std::vector<double> out(c.q.size(), untouched);
    EXPECT_EQ(hist_approx_inverse_quantile(c.null_histogram ? nullptr : h.get(), c.q.data(), int(c.q.size()),
                                           out.data()),
              c.status);
    ExpectOutputs(out, c.out);
  }
}

}  // namespace
