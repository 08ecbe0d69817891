// Coordinated-omission correction and the thread-safe recorder: exact
// totals across concurrent inserts and snapshots, thread exit, and the
// lazily filled conversion table under concurrent first use.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <random>
#include <thread>
#include <vector>

#include "histogram/hist_internal.hpp"
#include "histogram/varrow.h"
#include "tests/histogram_test_support.hpp"

namespace {

using varrow_test::Contents;
using varrow_test::Entries;
using varrow_test::ExpectConsistent;

struct CorrectedCase {
  double value;
  double interval;
  uint64_t missing;  // values recorded besides value itself
};

// value - k x interval for k = 1 to missing, one by one; a value that
// rounding put below interval stands for interval itself.
histogram *CorrectedByLoop(double value, double interval, uint64_t missing, uint64_t count) {
  histogram *h = hist_alloc();
  hist_insert(h, value, count);
  for (uint64_t k = 1; k <= missing; ++k) hist_insert(h, std::max(value - double(k) * interval, interval), count);
  return h;
}

class Corrected : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { h = GetParam() ? hist_fast_alloc() : hist_alloc(); }
  void TearDown() override { hist_free(h); }
  histogram *h = nullptr;
};

TEST_P(Corrected, RecordsTheMissingValuesAsTheLoopDoes) {
  const CorrectedCase cases[] = {
      {100, 10, 9},     {105, 10, 9},   {20, 10, 1},  {19.9, 10, 0},  {10, 10, 0},   {5, 10, 0},
      {1000, 1, 999},   {1e4, 0.37, 27026}, {3.5e-3, 1e-6, 3499}, {1e5, 7, 14284},
      // Decimal ratios that division leaves just below the integer they mean
      // (0.3 / 0.1 is 2.9999999999999996), or exact by luck (1.0 / 0.1).
      {1.0, 0.1, 9},    {0.3, 0.1, 2},  {0.7, 0.1, 6},  {2.3, 0.1, 22}, {4.9, 0.7, 6}, {0.03, 0.01, 2},
      {10, 1e-3, 9999},
      // A fraction clearly short of the integer keeps its floor.
      {0.3 - 1e-12, 0.1, 1}, {1.0 - 1e-9, 0.1, 8},
  };
  for (const CorrectedCase &c : cases) {
    hist_clear(h);
    histogram *expected = CorrectedByLoop(c.value, c.interval, c.missing, 3);
    EXPECT_EQ(hist_insert_corrected(h, c.value, c.interval, 3), 3 * (c.missing + 1)) << c.value << " " << c.interval;
    EXPECT_EQ(Contents(h), Contents(expected)) << c.value << " " << c.interval;
    ExpectConsistent(h);
    hist_free(expected);
  }
}

TEST_P(Corrected, TheLastOfADecimalSeriesLandsInTheIntervalsBucket) {
  // 1.0 at 0.1: ten values, 0.1 among them (1.0 - 9 x 0.1 is 0.09999999999999998).
  EXPECT_EQ(hist_insert_corrected(h, 1.0, 0.1, 1), 10u);
  EXPECT_EQ(Contents(h), (Entries{{10, -1, 1}, {20, -1, 1}, {30, -1, 1}, {40, -1, 1}, {50, -1, 1},
                                  {60, -1, 1}, {70, -1, 1}, {80, -1, 1}, {90, -1, 1}, {10, 0, 1}}));
}

TEST_P(Corrected, WithoutAUsableIntervalRecordsOnlyTheValue) {
  const double intervals[] = {0.0, -1.0, NAN, INFINITY, 1e-300};
  for (double interval : intervals) {
    hist_clear(h);
    EXPECT_EQ(hist_insert_corrected(h, 1e3, interval, 2), 2u) << interval;
    EXPECT_EQ(Contents(h), (Entries{{10, 3, 2}})) << interval;
  }
  hist_clear(h);
  EXPECT_EQ(hist_insert_corrected(h, NAN, 1.0, 1), 1u);
  EXPECT_EQ(hist_sample_count(h), 1u);
}

TEST_P(Corrected, HugeRunsAreCountedWithoutStepping) {
  // 10^15 missing values, in runs of equal buckets.
  EXPECT_EQ(hist_insert_corrected(h, 1e15, 1.0, 1), 1'000'000'000'000'000u);
  EXPECT_EQ(hist_sample_count(h), 1'000'000'000'000'000u);
  // Integers: 1 to 9 in one bucket each, every bucket from 10 to 9.9e14, and 1e15.
  EXPECT_EQ(hist_bucket_count(h), 9 + 90 * 14 + 1);
  ExpectConsistent(h);
}

TEST_P(Corrected, CountsSaturate) {
  EXPECT_EQ(hist_insert_corrected(h, 30, 10, UINT64_MAX / 2), UINT64_MAX);
  EXPECT_EQ(hist_sample_count(h), UINT64_MAX);
}

INSTANTIATE_TEST_SUITE_P(PlainAndFast, Corrected, ::testing::Bool());

class Recorder : public ::testing::Test {
 protected:
  void TearDown() override {
    hist_recorder_free(r);
    hist_free(out);
  }
  hist_recorder *r = hist_recorder_alloc();
  histogram *out = hist_alloc();
};

TEST_F(Recorder, SnapshotWithoutResetRepeatsAndResetStartsAnInterval) {
  EXPECT_EQ(hist_recorder_insert(r, 1.0, 2), 2u);
  EXPECT_EQ(hist_recorder_insert_intscale(r, 12345, -3, 1), 1u);
  EXPECT_EQ(hist_recorder_insert(r, NAN, 1), 1u);
  ASSERT_EQ(hist_recorder_snapshot(r, out, 0), 0);
  const Entries first{{-1, 0, 1}, {10, 0, 2}, {12, 1, 1}};
  EXPECT_EQ(Contents(out), first);
  hist_clear(out);
  ASSERT_EQ(hist_recorder_snapshot(r, out, 1), 0);
  EXPECT_EQ(Contents(out), first);
  hist_clear(out);
  ASSERT_EQ(hist_recorder_snapshot(r, out, 1), 0);
  EXPECT_EQ(Contents(out), Entries{});
  hist_recorder_insert(r, 1.0, 1);
  ASSERT_EQ(hist_recorder_snapshot(r, out, 1), 0);
  EXPECT_EQ(Contents(out), (Entries{{10, 0, 1}}));
}

TEST_F(Recorder, SnapshotAddsToWhatTheTargetHolds) {
  histogram *fast = hist_fast_alloc();
  hist_insert(fast, 2.0, 5);
  hist_recorder_insert(r, 2.0, 1);
  hist_recorder_insert(r, -3.0, 1);
  ASSERT_EQ(hist_recorder_snapshot(r, fast, 1), 0);
  EXPECT_EQ(Contents(fast), (Entries{{-30, 0, 1}, {20, 0, 6}}));
  ExpectConsistent(fast);
  hist_free(fast);
}

TEST_F(Recorder, CorrectedAsTheHistogram) {
  histogram *expected = CorrectedByLoop(1e3, 7, 141, 2);
  EXPECT_EQ(hist_recorder_insert_corrected(r, 1e3, 7, 2), 2u * 142);
  ASSERT_EQ(hist_recorder_snapshot(r, out, 1), 0);
  EXPECT_EQ(Contents(out), Contents(expected));
  hist_free(expected);
}

TEST_F(Recorder, CountsSaturate) {
  EXPECT_EQ(hist_recorder_insert(r, 1.0, UINT64_MAX - 1), UINT64_MAX - 1);
  EXPECT_EQ(hist_recorder_insert(r, 1.0, 5), 1u);
  ASSERT_EQ(hist_recorder_snapshot(r, out, 1), 0);
  EXPECT_EQ(hist_sample_count(out), UINT64_MAX);
}

TEST_F(Recorder, NullArgumentsFail) {
  hist_recorder_insert(r, 1.0, 1);
  EXPECT_EQ(hist_recorder_snapshot(nullptr, out, 1), -1);
  EXPECT_EQ(hist_recorder_snapshot(r, nullptr, 1), -1);
  hist_recorder_free(nullptr);
  ASSERT_EQ(hist_recorder_snapshot(r, out, 1), 0);  // nothing was taken by the failures
  EXPECT_EQ(hist_sample_count(out), 1u);
}

TEST_F(Recorder, SamplesOfAnExitedThreadStay) {
  std::thread([this] { hist_recorder_insert(r, 5.0, 3); }).join();
  std::thread([this] { hist_recorder_insert(r, 5.0, 4); }).join();
  ASSERT_EQ(hist_recorder_snapshot(r, out, 1), 0);
  EXPECT_EQ(Contents(out), (Entries{{50, 0, 7}}));
}

TEST(RecorderLifetime, AThreadMovesBetweenRecordersAndANewOneAtTheSameAddress) {
  hist_recorder *a = hist_recorder_alloc(), *b = hist_recorder_alloc();
  for (int i = 0; i < 10; ++i) {
    hist_recorder_insert(a, 1.0, 1);
    hist_recorder_insert(b, 2.0, 1);
  }
  histogram *out = hist_alloc();
  ASSERT_EQ(hist_recorder_snapshot(a, out, 1), 0);
  ASSERT_EQ(hist_recorder_snapshot(b, out, 1), 0);
  EXPECT_EQ(Contents(out), (Entries{{10, 0, 10}, {20, 0, 10}}));
  hist_recorder_free(a);
  hist_recorder *c = hist_recorder_alloc();  // may reuse a's memory
  hist_recorder_insert(c, 3.0, 1);
  hist_clear(out);
  ASSERT_EQ(hist_recorder_snapshot(c, out, 1), 0);
  EXPECT_EQ(Contents(out), (Entries{{30, 0, 1}}));
  hist_recorder_free(c);
  hist_recorder_free(b);
  hist_free(out);
}

// Each writer's values, the same in the stress run and in the serial histogram.
std::vector<double> WriterValues(int writer, int n) {
  std::mt19937_64 rng(1000 + writer);
  std::lognormal_distribution<double> latency(-7.0, 1.5);
  std::vector<double> values(n);
  for (double &v : values) v = latency(rng);
  return values;
}

TEST(RecorderStress, SnapshotsWithResetAddUpToTheSerialHistogram) {
  constexpr int writers = 4;
  constexpr int per_writer = 50'000;
  hist_recorder *r = hist_recorder_alloc();
  histogram *serial = hist_alloc();
  std::vector<std::vector<double>> values;
  for (int w = 0; w < writers; ++w) {
    values.push_back(WriterValues(w, per_writer));
    for (double v : values.back()) hist_insert(serial, v, 1);
  }
  std::atomic<int> running{writers};
  std::vector<std::thread> threads;
  for (int w = 0; w < writers; ++w)
    threads.emplace_back([&, w] {
      for (double v : values[w]) hist_recorder_insert(r, v, 1);
      running.fetch_sub(1);
    });
  histogram *total = hist_fast_alloc();
  histogram *interval = hist_alloc();
  int snapshots = 0;
  while (running.load() > 0) {
    hist_clear(interval);
    ASSERT_EQ(hist_recorder_snapshot(r, interval, 1), 0);
    const histogram *sources[] = {interval};
    ASSERT_GE(hist_accumulate(total, sources, 1), 0);
    ++snapshots;
  }
  for (std::thread &t : threads) t.join();
  ASSERT_EQ(hist_recorder_snapshot(r, total, 1), 0);
  hist_remove_zeroes(total);
  EXPECT_EQ(Contents(total), Contents(serial)) << "after " << snapshots << " snapshots";
  hist_free(interval);
  hist_free(total);
  hist_free(serial);
  hist_recorder_free(r);
}

// The first conversions in each binade fill its cells; threads racing there
// must all get the reference's buckets.
TEST(RecorderConversionTable, ConcurrentFirstUseGivesTheReferenceBuckets) {
  constexpr int threads_count = 4;
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < threads_count; ++t)
    threads.emplace_back([&mismatches, t] {
      std::mt19937_64 rng(t);
      for (int binade = 0; binade < hist_binade_count; binade += 3) {
        const uint64_t base = hist_first_cell_bits + (static_cast<uint64_t>(binade) << hist_mantissa_bits);
        const double x = std::bit_cast<double>(base | (rng() & ((uint64_t{1} << hist_mantissa_bits) - 1)));
        const hist_bucket got = double_to_hist_bucket(x), want = double_to_hist_bucket_by_log10(x);
        if (!hist_bucket_identical(got, want)) mismatches.fetch_add(1);
      }
    });
  for (std::thread &t : threads) t.join();
  EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
