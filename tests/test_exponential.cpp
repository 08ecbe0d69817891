// Exponential and explicit-bound histograms: the sharing of counts between
// the schemes, the counts kept exact, the round trips, and invalid input.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "histogram/varrow.h"
#include "tests/histogram_test_support.hpp"

namespace {

using varrow_test::Contents;

constexpr uint64_t max_count = std::numeric_limits<uint64_t>::max();
// The powers of two that are bucket edges: shared by both schemes.
const std::vector<double> shared_edges = {0.25, 0.5, 1, 2, 4, 8, 16, 32, 64};

struct Exponential {
  int scale = 0;
  uint64_t zero = 0;
  int32_t positive_offset = 0;
  std::vector<uint64_t> positive;
  int32_t negative_offset = 0;
  std::vector<uint64_t> negative;

  static Exponential Positive(int scale, int32_t offset, std::vector<uint64_t> counts, uint64_t zero = 0) {
    Exponential e;
    e.scale = scale, e.zero = zero, e.positive_offset = offset, e.positive = std::move(counts);
    return e;
  }
  static Exponential Negative(int scale, int32_t offset, std::vector<uint64_t> counts) {
    Exponential e;
    e.scale = scale, e.negative_offset = offset, e.negative = std::move(counts);
    return e;
  }

  hist_exponential view() {
    return {scale, zero, {positive_offset, positive.size(), positive.data()},
            {negative_offset, negative.size(), negative.data()}};
  }
};

histogram *FromExponential(Exponential e) {
  const hist_exponential view = e.view();
  return hist_from_exponential(&view, nullptr);
}

Exponential ToExponential(const histogram *h, int scale) {
  hist_exponential layout{};
  EXPECT_EQ(hist_exponential_layout(h, scale, &layout), 0);
  Exponential e;
  e.scale = scale;
  e.positive_offset = layout.positive.offset, e.positive.resize(layout.positive.length);
  e.negative_offset = layout.negative.offset, e.negative.resize(layout.negative.length);
  hist_exponential out = e.view();
  EXPECT_EQ(hist_to_exponential(h, &out), 0);
  e.zero = out.zero_count;
  return e;
}

// Samples of exponential bucket (base^index, base^(index+1)] below a value
// that is one of its boundaries (index multiple of 2^scale for powers of two).
uint64_t ExponentialCountBelow(const Exponential &e, double value) {
  uint64_t below = e.zero;
  for (uint64_t c : e.negative) below += c;
  for (size_t k = 0; k < e.positive.size(); ++k) {
    const double upper = std::exp2(std::ldexp(double(e.positive_offset + int64_t(k) + 1), -e.scale));
    if (upper <= value * (1 + 1e-12)) below += e.positive[k];
  }
  return below;
}

// Whether the power of two value is a boundary of the exponential buckets at scale.
bool IsBoundary(double value, int scale) {
  const double index = std::ldexp(std::log2(value), scale);
  return index == std::floor(index);
}

// The NaN bucket's count (hist_approx_count_nearby answers 0 for it).
uint64_t NaNCount(const histogram *h) {
  hist_bucket b;
  uint64_t count;
  return hist_bucket_idx_bucket(h, 0, &b, &count) && b.val == -1 ? count : 0;
}

histogram *RandomLatencies(unsigned seed, int n) {
  std::mt19937_64 rng(seed);
  std::lognormal_distribution<double> latency(0.0, 2.0);
  histogram *h = hist_alloc();
  for (int i = 0; i < n; ++i) hist_insert(h, (i % 7 == 0 ? -1 : 1) * latency(rng), 1 + rng() % 3);
  hist_insert(h, 0.0, 5);
  return h;
}

TEST(FromExponential, OneOctaveSharedByLogWidth) {
  histogram *h = FromExponential(Exponential::Positive(0, 0, {1000}));
  ASSERT_NE(h, nullptr);
  // (1, 2] covers the buckets 1.0 .. 1.9, each by its share of log2 width.
  const auto entries = Contents(h);
  ASSERT_EQ(entries.size(), 10u);
  for (int d = 10; d < 20; ++d) {
    const double expected = 1000 * std::log2((d + 1) / double(d));
    // Each part is a difference of two rounded cumulative shares.
    EXPECT_NEAR(double(std::get<2>(entries[d - 10])), expected, 1.0) << d;
    EXPECT_EQ(std::get<0>(entries[d - 10]), d);
  }
  EXPECT_EQ(hist_sample_count(h), 1000u);
  hist_free(h);
}

TEST(FromExponential, NegativeSideMirrorsPositive) {
  histogram *pos = FromExponential(Exponential::Positive(3, -7, {5, 0, 9, 1u << 20}));
  histogram *neg = FromExponential(Exponential::Negative(3, -7, {5, 0, 9, 1u << 20}));
  ASSERT_NE(pos, nullptr);
  ASSERT_NE(neg, nullptr);
  auto p = Contents(pos), n = Contents(neg);
  ASSERT_EQ(p.size(), n.size());
  for (size_t i = 0; i < p.size(); ++i) {
    const auto &m = n[n.size() - 1 - i];
    EXPECT_EQ(std::get<0>(p[i]), -std::get<0>(m));
    EXPECT_EQ(std::get<1>(p[i]), std::get<1>(m));
    EXPECT_EQ(std::get<2>(p[i]), std::get<2>(m));
  }
  varrow_test::ExpectConsistent(neg);
  hist_free(pos);
  hist_free(neg);
}

// A count near 2^64 shared among many buckets keeps its total to the sample
// on either side: each piece starts where the one before it ended.
TEST(FromExponential, HugeCountsKeepTheirTotal) {
  constexpr uint64_t huge = 12080625815058907131u;
  for (const auto &e : {Exponential::Positive(-2, -1, {huge}), Exponential::Negative(-2, -1, {huge}),
                        Exponential::Positive(-10, 3, {huge, 1, huge / 4})}) {
    histogram *h = FromExponential(e);
    ASSERT_NE(h, nullptr);
    uint64_t total = 0;
    for (const uint64_t c : e.positive) total += c;
    for (const uint64_t c : e.negative) total += c;
    EXPECT_EQ(hist_sample_count(h), total);
    hist_free(h);
  }
}

TEST(FromExponential, BeyondTheBucketRangeGoesToZeroAndNaN) {
  // At scale -10, index 0 holds (1, 2^1024]: 1 .. 1e128 and beyond; index
  // -1 holds (2^-1024, 1]: below 1e-128 and up to 1.
  histogram *h = FromExponential(Exponential::Positive(-10, -1, {1u << 30, 1u << 30}, 3));
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(hist_sample_count(h), 3 + (uint64_t{1} << 31));
  const double beyond = 1 - 128 * std::log2(10.0) / 1024;  // share of index 0 above 1e128
  EXPECT_NEAR(double(NaNCount(h)), beyond * (1u << 30), 1.0);
  EXPECT_NEAR(double(hist_approx_count_nearby(h, 0.0)), 3 + beyond * (1u << 30), 1.0);
  EXPECT_EQ(hist_approx_count_below_exclusive(h, 1.0), 3 + (uint64_t{1} << 30));
  varrow_test::ExpectConsistent(h);
  hist_free(h);
}

TEST(FromExponential, InvalidInputIsRejected) {
  std::vector<uint64_t> two = {1, 2};
  struct Case {
    const char *name;
    hist_exponential e;
  } cases[] = {
      {"scale above 20", {21, 0, {0, 2, two.data()}, {}}},
      {"scale below -10", {-11, 0, {0, 2, two.data()}, {}}},
      {"counts missing", {0, 0, {0, 2, nullptr}, {}}},
      {"index past 2^31 - 1", {0, 0, {}, {INT32_MAX, 2, two.data()}}},
      {"total past 2^64 - 1", {0, max_count, {0, 2, two.data()}, {}}},
  };
  for (const Case &c : cases) EXPECT_EQ(hist_from_exponential(&c.e, nullptr), nullptr) << c.name;
  EXPECT_EQ(hist_from_exponential(nullptr, nullptr), nullptr);
  const hist_exponential last_index = {0, 0, {INT32_MAX, 1, two.data()}, {}};
  histogram *h = hist_from_exponential(&last_index, nullptr);
  EXPECT_NE(h, nullptr);  // the very last index is valid (and beyond 1e128)
  EXPECT_EQ(NaNCount(h), 1u);
  hist_free(h);
}

// An allocator that fails from the nth call on.
int allocations_left = 0;
void *FailingMalloc(size_t n) { return allocations_left-- > 0 ? std::malloc(n) : nullptr; }
void *FailingCalloc(size_t n, size_t s) { return allocations_left-- > 0 ? std::calloc(n, s) : nullptr; }
const hist_allocator failing = {FailingMalloc, FailingCalloc, std::free};

TEST(FromExponential, AllocatorFailureGivesNull) {
  Exponential e = Exponential::Positive(-10, -1, {7, 7});
  const hist_exponential view = e.view();
  for (int n = 0; n < 2; ++n) {
    allocations_left = n;
    EXPECT_EQ(hist_from_exponential(&view, &failing), nullptr) << n;
  }
  allocations_left = 1000;
  histogram *h = hist_from_exponential(&view, &failing);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(hist_sample_count(h), 14u);
  hist_free(h);
}

TEST(ToExponential, LayoutZeroAndNaN) {
  histogram *h = hist_alloc();
  hist_insert(h, 0.0, 4);
  hist_insert(h, INFINITY, 2);
  hist_insert(h, 1.5, 3);
  hist_insert(h, -3.0, 1);
  const Exponential e = ToExponential(h, 0);
  EXPECT_EQ(e.zero, 4u);
  EXPECT_EQ(e.positive_offset, 0);  // 1.5 in (1, 2]
  // The NaN bucket takes the first index wholly above 1e128 (2^425.2).
  EXPECT_EQ(e.positive_offset + int64_t(e.positive.size()) - 1, 426);
  EXPECT_EQ(e.positive.front(), 3u);
  EXPECT_EQ(e.positive.back(), 2u);
  ASSERT_EQ(e.negative.size(), 1u);  // [3.0, 3.1) lies inside (2, 4]
  EXPECT_EQ(e.negative_offset, 1);
  histogram *back = FromExponential(e);
  EXPECT_EQ(NaNCount(back), 2u);
  EXPECT_EQ(hist_sample_count(back), 10u);
  hist_free(back);
  hist_free(h);
}

TEST(ToExponential, MismatchedBuffersAreRejected) {
  histogram *h = hist_alloc();
  hist_insert(h, 1.5, 3);
  hist_exponential layout{};
  ASSERT_EQ(hist_exponential_layout(h, 4, &layout), 0);
  std::vector<uint64_t> counts(layout.positive.length + 1, 99);
  layout.positive.counts = counts.data();
  layout.positive.length += 1;
  EXPECT_EQ(hist_to_exponential(h, &layout), -1);
  EXPECT_EQ(counts[0], 99u);
  layout.positive.length -= 1;
  layout.positive.counts = nullptr;
  EXPECT_EQ(hist_to_exponential(h, &layout), -1);
  EXPECT_EQ(hist_exponential_layout(h, 21, &layout), -1);
  EXPECT_EQ(hist_exponential_layout(h, 0, nullptr), -1);
  hist_free(h);
}

TEST(ToExponential, ScaleForBucketLimit) {
  histogram *h = hist_alloc();
  hist_insert(h, 1.0, 1);
  hist_insert(h, 999.0, 1);
  // 1 .. 1000 spans 9.97 octaves: 2^s x 9.97 indices (plus one) at scale s.
  EXPECT_EQ(hist_exponential_scale_for(h, 160), 4);
  EXPECT_EQ(hist_exponential_scale_for(h, 1), -4);
  EXPECT_EQ(hist_exponential_scale_for(nullptr, 160), HIST_EXPONENTIAL_MAX_SCALE);
  hist_free(h);
}

class ExponentialRoundTrip : public ::testing::TestWithParam<int> {};

TEST_P(ExponentialRoundTrip, LogLinearThroughExponentialKeepsSharedEdgesAndTotal) {
  const int scale = GetParam();
  histogram *h = RandomLatencies(42 + scale, 3000);
  const Exponential e = ToExponential(h, scale);
  histogram *back = FromExponential(e);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(hist_sample_count(back), hist_sample_count(h));
  for (double edge : shared_edges) {
    if (!IsBoundary(edge, scale)) continue;
    EXPECT_EQ(hist_approx_count_below_exclusive(back, edge), hist_approx_count_below_exclusive(h, edge)) << edge;
    EXPECT_EQ(ExponentialCountBelow(e, edge), hist_approx_count_below_exclusive(h, edge)) << edge;
  }
  // Quantiles move by no more than one exponential bucket and one bucket.
  const double base = std::exp2(std::ldexp(1.0, -scale));
  for (double q : {0.5, 0.9, 0.99}) {
    double a, b;
    hist_approx_quantile(h, &q, 1, &a);
    hist_approx_quantile(back, &q, 1, &b);
    EXPECT_LE(std::fabs(std::log(std::fabs(b / a))), std::log(base) + 2 * std::log(1.1)) << q;
  }
  hist_free(back);
  hist_free(h);
}

TEST_P(ExponentialRoundTrip, ExponentialThroughLogLinearKeepsPowersOfTwo) {
  const int scale = GetParam();
  std::mt19937_64 rng(7 + scale);
  const int per_octave = scale > 0 ? 1 << scale : 1;
  Exponential e = Exponential::Positive(scale, -3 * per_octave, std::vector<uint64_t>(9 * per_octave), 11);
  for (uint64_t &c : e.positive) c = rng() % 1000;
  histogram *h = FromExponential(e);
  ASSERT_NE(h, nullptr);
  const Exponential again = ToExponential(h, scale);
  uint64_t total = again.zero;
  for (uint64_t c : again.positive) total += c;
  EXPECT_EQ(total, hist_sample_count(h));
  for (double edge : shared_edges)
    if (IsBoundary(edge, scale)) {
      EXPECT_EQ(ExponentialCountBelow(again, edge), ExponentialCountBelow(e, edge)) << edge;
    }
  hist_free(h);
}

INSTANTIATE_TEST_SUITE_P(Scales, ExponentialRoundTrip, ::testing::Values(-2, 0, 1, 3, 5, 8));

// ---- Explicit bounds ----

const std::vector<double> client_default_bounds = {.005, .01, .025, .05, .075, .1, .25, .5, .75, 1, 2.5, 5, 7.5, 10};

TEST(ExplicitBounds, CountsBelowEveryEdgeBoundAreExact) {
  std::vector<uint64_t> counts = {3, 5, 7, 0, 2, 9, 1, 1, 4, 8, 6, 2, 0, 3, 5};
  histogram *h = hist_from_explicit_bounds(client_default_bounds.data(), client_default_bounds.size(), counts.data(),
                                           counts.size(), nullptr);
  ASSERT_NE(h, nullptr);
  uint64_t below = 0;
  for (size_t i = 0; i < client_default_bounds.size(); ++i) {
    below += counts[i];
    EXPECT_EQ(hist_approx_count_below_exclusive(h, client_default_bounds[i]), below) << client_default_bounds[i];
  }
  EXPECT_EQ(hist_sample_count(h), below + counts.back());
  // Placements: the first bin at half its bound, a closed bin in its middle,
  // the last above its bound by the previous width.
  EXPECT_EQ(hist_approx_count_nearby(h, 0.0025), 3u);
  EXPECT_EQ(hist_approx_count_nearby(h, 0.0075), 5u);
  EXPECT_EQ(hist_approx_count_nearby(h, 12.5), 5u);

  std::vector<uint64_t> again(counts.size());
  ASSERT_EQ(hist_to_explicit_bounds(h, client_default_bounds.data(), client_default_bounds.size(), again.data()), 0);
  EXPECT_EQ(again, counts);
  hist_free(h);
}

TEST(ExplicitBounds, PlacementOfOpenAndNarrowBins) {
  struct Case {
    const char *name;
    std::vector<double> bounds;
    std::vector<uint64_t> counts;
    std::vector<double> values;  // where each non-empty bin lands
  } cases[] = {
      {"no bounds: one bin, no place known", {}, {4}, {0.0}},
      {"first bound 0", {0, 1}, {1, 2, 3}, {0.0, 0.5, 2.0}},
      {"negative first bound", {-2, -1}, {1, 2, 3}, {-3.0, -1.5, -0.0}},
      {"single positive bound", {4}, {1, 2}, {2.0, 8.0}},
      {"single zero bound", {0}, {1, 2}, {0.0, 1.0}},
  };
  for (const Case &c : cases) {
    histogram *h = hist_from_explicit_bounds(c.bounds.data(), c.bounds.size(), c.counts.data(), c.counts.size(), nullptr);
    ASSERT_NE(h, nullptr) << c.name;
    histogram *expected = hist_alloc();
    for (size_t i = 0; i < c.values.size(); ++i) hist_insert(expected, c.values[i], c.counts[i]);
    EXPECT_EQ(Contents(h), Contents(expected)) << c.name;
    hist_free(expected);
    hist_free(h);
  }
  // A bin narrower than the conversion's rounding just below an edge still
  // keeps its samples below that edge.
  const double edge = 0.3, lower = std::nextafter(0.3, 0.0);
  const std::vector<double> bounds = {lower, edge};
  const std::vector<uint64_t> counts = {0, 7, 0};
  histogram *h = hist_from_explicit_bounds(bounds.data(), 2, counts.data(), 3, nullptr);
  EXPECT_EQ(hist_approx_count_below_exclusive(h, edge), 7u);
  hist_free(h);
}

TEST(ExplicitBounds, ToBoundsSplitsStraddledBucketsEvenly) {
  histogram *h = hist_alloc();
  hist_insert(h, 1.05, 10);  // [1.0, 1.1): a bound at 1.03 takes 3 tenths
  hist_insert(h, -INFINITY, 3);
  hist_insert(h, 0.0, 2);
  const std::vector<double> bounds = {0, 1.03, 1.1};
  std::vector<uint64_t> counts(4);
  ASSERT_EQ(hist_to_explicit_bounds(h, bounds.data(), bounds.size(), counts.data()), 0);
  EXPECT_EQ(counts, (std::vector<uint64_t>{2, 3, 7, 3}));  // the NaN bucket last
  hist_free(h);
}

TEST(ExplicitBounds, InvalidInputIsRejected) {
  const std::vector<uint64_t> counts = {1, 2, 3};
  const std::vector<std::vector<double>> bad_bounds = {{2, 1}, {1, 1}, {NAN, 1}, {1, INFINITY}, {-INFINITY, 1}};
  for (const auto &b : bad_bounds) {
    EXPECT_EQ(hist_from_explicit_bounds(b.data(), 2, counts.data(), 3, nullptr), nullptr);
    std::vector<uint64_t> out(3, 99);
    EXPECT_EQ(hist_to_explicit_bounds(nullptr, b.data(), 2, out.data()), -1);
    EXPECT_EQ(out[0], 99u);
  }
  const double good[] = {1, 2};
  EXPECT_EQ(hist_from_explicit_bounds(good, 2, counts.data(), 2, nullptr), nullptr);  // n + 1 counts
  EXPECT_EQ(hist_from_explicit_bounds(good, 2, nullptr, 3, nullptr), nullptr);
  const uint64_t huge[] = {max_count, 1, 0};
  EXPECT_EQ(hist_from_explicit_bounds(good, 2, huge, 3, nullptr), nullptr);
  EXPECT_EQ(hist_to_explicit_bounds(nullptr, good, 2, nullptr), -1);
  uint64_t zeros[3] = {9, 9, 9};
  EXPECT_EQ(hist_to_explicit_bounds(nullptr, good, 2, zeros), 0);
  EXPECT_EQ(zeros[0] + zeros[1] + zeros[2], 0u);
}

}  // namespace
