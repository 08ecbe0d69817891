// The C++ interface: ownership and moves, the operations it forwards, and
// the failures it turns into exceptions.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <type_traits>
#include <vector>

#include "histogram/varrow.hpp"

namespace {

using varrow::Bucket;
using varrow::Histogram;

static_assert(!std::is_copy_constructible_v<Histogram> && !std::is_copy_assignable_v<Histogram>);
static_assert(std::is_nothrow_move_constructible_v<Histogram> && std::is_nothrow_move_assignable_v<Histogram>);

Histogram Latencies(Histogram::Kind kind) {
  Histogram h(kind);
  for (double v : {0.010, 0.012, 0.012, 0.020, 0.150}) h.insert(v);
  return h;
}

class Wrapper : public ::testing::TestWithParam<Histogram::Kind> {};

TEST_P(Wrapper, MovesTransferOwnership) {
  Histogram a = Latencies(GetParam());
  const histogram *raw = a.get();
  Histogram b(std::move(a));
  EXPECT_EQ(a.get(), nullptr);
  EXPECT_EQ(b.get(), raw);
  Histogram c(GetParam());
  c.insert(3.0);
  c = std::move(b);  // c's old histogram is released (ASan reports a leak otherwise)
  EXPECT_EQ(c.get(), raw);
  EXPECT_EQ(c.sample_count(), 5u);
  c = std::move(c);
  EXPECT_EQ(c.sample_count(), 5u);
  histogram *released = c.release();
  EXPECT_EQ(c.get(), nullptr);
  Histogram adopted = Histogram::adopt(released);
  EXPECT_EQ(adopted.sample_count(), 5u);
}

TEST_P(Wrapper, CloneIsIndependent) {
  Histogram a = Latencies(GetParam());
  Histogram b = a.clone();
  b.insert(7.0, 3);
  EXPECT_EQ(a.sample_count(), 5u);
  EXPECT_EQ(b.sample_count(), 8u);
}

TEST_P(Wrapper, RangeForRunsInBucketOrder) {
  const Histogram h = Latencies(GetParam());
  std::vector<std::string> seen;
  uint64_t total = 0;
  for (const varrow::BucketCount entry : h) {
    seen.push_back(entry.bucket.str());
    total += entry.count;
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"+10e-003", "+12e-003", "+20e-003", "+15e-002"}));
  EXPECT_EQ(total, h.sample_count());
  EXPECT_EQ(h.bucket_count(), 4u);
}

TEST_P(Wrapper, MergeSubtractAndText) {
  Histogram a = Latencies(GetParam());
  Histogram b = Latencies(GetParam());
  a += b;
  EXPECT_EQ(a.sample_count(), 10u);
  EXPECT_TRUE(a.subtract(b));
  EXPECT_EQ(a.sample_count(), 5u);
  Histogram extra(GetParam());
  extra.insert(99.0);
  EXPECT_FALSE(a.subtract(extra));  // nothing there to subtract

  const std::string text = a.to_base64();
  const Histogram back = Histogram::from_base64(text, GetParam());
  EXPECT_EQ(back.to_base64(), text);
  EXPECT_EQ(back.sample_count(), 5u);
  EXPECT_EQ(Histogram(GetParam()).to_base64(), "AAA=");
}

TEST_P(Wrapper, StatisticsForwardToTheLibrary) {
  const Histogram h = Latencies(GetParam());
  EXPECT_EQ(h.mean(), hist_approx_mean(h.get()));
  EXPECT_EQ(h.stddev(), hist_approx_stddev(h.get()));
  EXPECT_EQ(h.count_below(0.012), 3u);
  EXPECT_EQ(h.count_below_exclusive(0.012), 1u);
  EXPECT_EQ(h.count_above(0.020), 2u);
  EXPECT_EQ(h.count_above_exclusive(0.020), 1u);
  EXPECT_EQ(h.count_nearby(0.0125), 2u);

  const std::vector<double> q = {0.0, 0.5, 1.0};
  std::vector<double> expected(3);
  ASSERT_EQ(hist_approx_quantile(h.get(), q.data(), 3, expected.data()), 0);
  EXPECT_EQ(h.quantiles(q), expected);
  EXPECT_EQ(h.quantile(0.5), expected[1]);
  ASSERT_EQ(hist_approx_quantile7(h.get(), q.data(), 3, expected.data()), 0);
  EXPECT_EQ(h.quantiles7(q), expected);
  const std::vector<double> values = {0.011, 0.1};
  std::vector<double> shares(2);
  h.inverse_quantiles(values, shares);
  EXPECT_GT(shares[1], shares[0]);
}

INSTANTIATE_TEST_SUITE_P(PlainAndFast, Wrapper, ::testing::Values(Histogram::Kind::plain, Histogram::Kind::fast));

TEST(WrapperErrors, FailureCodesBecomeExceptions) {
  const Histogram h = Latencies(Histogram::Kind::plain);
  struct Case {
    std::vector<double> q;
    long long code;
  } cases[] = {{{0.9, 0.1}, -2}, {{0.5, 1.5}, -3}, {{-0.1}, -3}};
  for (const Case &c : cases) {
    try {
      (void)h.quantiles(c.q);
      ADD_FAILURE() << "no exception for code " << c.code;
    } catch (const varrow::Error &e) {
      EXPECT_EQ(e.code(), c.code);
    }
  }
  std::vector<double> too_short(1);
  const std::vector<double> q = {0.1, 0.2};
  EXPECT_THROW(h.quantiles(q, too_short), std::invalid_argument);
  for (const char *bad : {"", "AA", "not base64!", "AAEKAAg="})
    EXPECT_THROW(Histogram::from_base64(bad), varrow::Error) << bad;
}

TEST(WrapperBucket, DescribesItself) {
  const Bucket b = Bucket::of(2.3e-4);
  EXPECT_EQ(b.str(), "+23e-005");
  EXPECT_DOUBLE_EQ(b.value(), 2.3e-4);
  EXPECT_DOUBLE_EQ(b.width(), 1e-5);
  EXPECT_EQ(Bucket::of(12345, -3), Bucket::of(12.0));
  EXPECT_EQ(Bucket::of(NAN).str(), "NaN");
}

TEST(WrapperRecorder, IntervalsHoldEverySampleOnce) {
  varrow::Recorder recorder;
  recorder.insert(1.0, 2);
  recorder.insert_intscale(12345, -3);
  EXPECT_EQ(recorder.insert_corrected(30.0, 10.0), 3u);
  const Histogram first = recorder.interval(Histogram::Kind::fast);
  EXPECT_EQ(first.sample_count(), 6u);
  EXPECT_EQ(recorder.interval().sample_count(), 0u);
  varrow::Recorder moved = std::move(recorder);
  moved.insert(2.0);
  Histogram total;
  moved.snapshot_into(total, false);
  moved.snapshot_into(total, true);
  EXPECT_EQ(total.sample_count(), 2u);
}

}  // namespace
