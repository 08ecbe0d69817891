// Buckets: conversions of doubles and scaled integers, bucket descriptions,
// text form, and the fast conversion against the log10 reference.
#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <cstring>
#include <string>
#include <vector>

#include "histogram/hist_internal.hpp"
#include "histogram/varrow.h"

namespace {

struct DoubleCase {
  double input;
  int val;
  int exp;
};

::testing::AssertionResult IsBucket(hist_bucket got, int val, int exp) {
  if (got.val == val && got.exp == exp) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "got (" << int(got.val) << ", " << int(got.exp) << "), want (" << val
                                       << ", " << exp << ")";
}

TEST(DoubleToBucket, TableOfValues) {
  const double inf = std::numeric_limits<double>::infinity();
  const DoubleCase cases[] = {
      {0.0, 0, 0},        {-0.0, 0, 0},    {5e-324, 0, 0},      {9.99e-129, 0, 0},   {1e-128, 10, -128},
      {9.99e127, 99, 127}, {1e128, -1, 0}, {DBL_MAX, -1, 0},    {inf, -1, 0},        {-inf, -1, 0},
      {NAN, -1, 0},       {1.0, 10, 0},    {9.99, 99, 0},       {99.5, 99, 1},       {0.1, 10, -1},
      {0.3, 30, -1},      {-1.25, -12, 0}, {-9.99e127, -99, 127}, {-1e-300, 0, 0},   {123456.0, 12, 5},
  };
  for (const DoubleCase &c : cases) {
    EXPECT_TRUE(IsBucket(double_to_hist_bucket(c.input), c.val, c.exp)) << c.input;
    EXPECT_TRUE(IsBucket(double_to_hist_bucket_by_log10(c.input), c.val, c.exp)) << c.input;
  }
  EXPECT_EQ(hist_bucket_to_double(double_to_hist_bucket(0.3)), 0.30000000000000004);
}

// log10 rounds some values just below a power of ten up to that power; they
// must still land in a valid bucket: their own (digits 99 one decade down),
// the zero bucket below 1e-128, or the bucket just above through the nudge.
TEST(DoubleToBucket, JustBelowPowersOfTenStayValid) {
  const DoubleCase mended[] = {
      {9.9999999999998987e-100, 99, -100},
      {9.9999999999998985e+126, 99, 126},
      {9.9999999999998993e-129, 0, 0},
  };
  for (const DoubleCase &c : mended) EXPECT_TRUE(IsBucket(double_to_hist_bucket(c.input), c.val, c.exp)) << c.input;

  for (int k = -128; k <= 128; ++k) {
    const double power = std::stod("1e" + std::to_string(k));
    double x = power;
    for (int step = 0; step < 2000; ++step) {
      x = std::nextafter(x, 0.0);
      const hist_bucket b = double_to_hist_bucket(x);
      if (k == -128 && b.val == 0 && b.exp == 0) continue;  // below 1e-128 counts as zero
      if (k == 128 && b.val == -1 && b.exp == 0) {
        ASSERT_GE(x * (1 + 1e-15), 1e128) << "NaN bucket beyond the nudge for " << x;
        continue;
      }
      ASSERT_TRUE(hist_bucket_is_valid(b) && b.val != 0) << "no valid bucket for " << x;
      const double low = hist_bucket_to_double(b);
      const double high = low + hist_bucket_to_double_bin_width(b);
      // Holds x, or is the next bucket up by at most the nudge.
      ASSERT_LE(low, x * (1 + 1e-14)) << x;
      ASSERT_LT(x, high * (1 + 1e-15)) << x;
    }
  }
}

void ExpectSameBucket(double x) {
  const hist_bucket fast = double_to_hist_bucket(x);
  const hist_bucket reference = double_to_hist_bucket_by_log10(x);
  ASSERT_TRUE(fast.val == reference.val && fast.exp == reference.exp)
      << x << ": fast (" << int(fast.val) << ", " << int(fast.exp) << ") reference (" << int(reference.val) << ", "
      << int(reference.exp) << ")";
}

TEST(DoubleToBucket, FastMatchesReferenceAroundPowersOfTen) {
  for (int k = -130; k <= 130; ++k) {
    const double power = std::stod("1e" + std::to_string(k));
    for (double sign : {1.0, -1.0}) {
      double below = power, above = power;
      ExpectSameBucket(sign * power);
      for (int step = 0; step < 2000; ++step) {
        below = std::nextafter(below, 0.0);
        above = std::nextafter(above, INFINITY);
        ExpectSameBucket(sign * below);
        ExpectSameBucket(sign * above);
      }
    }
  }
}

TEST(DoubleToBucket, FastMatchesReferenceOnRandomDoubles) {
  std::mt19937_64 rng(20261209);
  constexpr int samples = 10'000'000;
  for (int i = 0; i < samples; ++i) {
    // Uniform bit patterns: random sign, exponent and mantissa, NaNs and infinities included.
    ExpectSameBucket(std::bit_cast<double>(rng()));
  }
}

constexpr int ulps_around_edge = 3;

// x and the doubles up to ulps_around_edge steps on either side, both signs.
void ExpectSameBucketAround(double x) {
  const uint64_t bits = std::bit_cast<uint64_t>(x);
  for (int d = -ulps_around_edge; d <= ulps_around_edge; ++d) {
    const double y = std::bit_cast<double>(bits + d);
    ExpectSameBucket(y);
    ExpectSameBucket(-y);
  }
}

TEST(DoubleToBucket, FastMatchesReferenceAtEveryBucketEdge) {
  for (int exp = -128; exp <= 127; ++exp)
    for (int val = 10; val <= 99; ++val)
      ExpectSameBucketAround(hist_bucket_to_double(hist_bucket{static_cast<int8_t>(val), static_cast<int8_t>(exp)}));
}

// The table's own steps, where the nudge and rounding put the bucket edges:
// each must be exactly where the reference changes bucket.
TEST(DoubleToBucket, FastMatchesReferenceAtEveryTableStep) {
  int steps = 0;
  for (int binade = 0; binade < hist_binade_count; ++binade) {
    const uint64_t first = hist_first_cell_bits + (static_cast<uint64_t>(binade) << hist_mantissa_bits);
    ExpectSameBucketAround(std::bit_cast<double>(first));  // fills the binade
    for (int k = 0; k < hist_cells_per_binade; ++k) {
      const hist_bucket_cell &cell = hist_bucket_cells[binade * hist_cells_per_binade + k];
      ExpectSameBucketAround(std::bit_cast<double>(first + (static_cast<uint64_t>(k) << hist_cell_shift)));
      if (cell.step == UINT64_MAX) continue;
      ++steps;
      const double above = std::bit_cast<double>(cell.step);
      const hist_bucket below = double_to_hist_bucket_by_log10(std::nextafter(above, 0.0));
      ASSERT_FALSE(hist_bucket_identical(below, double_to_hist_bucket_by_log10(above))) << above;
      ExpectSameBucketAround(above);
    }
  }
  // A step begins every positive bucket (the first one, 1e-128, after zero)
  // and the NaN bucket after the last one.
  EXPECT_EQ(steps, 90 * 256 + 1);
}

struct IntScaleCase {
  int64_t value;
  int scale;
  int val;
  int exp;
};

TEST(IntScaleToBucket, TableOfValues) {
  const IntScaleCase cases[] = {
      {0, 7, 0, 0},          {5, 0, 50, 0},     {42, 0, 42, 1},    {100, 0, 10, 2},   {12345, -3, 12, 1},
      {INT64_MIN, 0, -92, 18}, {INT64_MAX, 0, 92, 18}, {1, -130, 0, 0}, {9, 127, 90, 127}, {10, 127, -1, 0},
      {-7, -2, -70, -2},     {999, 0, 99, 2},   {1000, 0, 10, 3},  {1, -128, 10, -128}, {10, -129, 10, -128},
  };
  for (const IntScaleCase &c : cases)
    EXPECT_TRUE(IsBucket(int_scale_to_hist_bucket(c.value, c.scale), c.val, c.exp)) << c.value << "e" << c.scale;
}

TEST(IntScaleToBucket, MatchesDivisionAtEveryPowerOfTenAndAtRandom) {
  const int scales[] = {-140, -130, -128, -20, -6, 0, 3, 109, 110, 127, 130};
  std::vector<int64_t> values = {INT64_MIN, INT64_MAX, INT64_MIN + 1};
  // Every one- and two-digit mantissa times every power of ten, +-3.
  for (int64_t power = 1;; power *= 10) {
    for (int64_t mantissa = 1; mantissa <= 99 && mantissa <= INT64_MAX / power; ++mantissa)
      for (int64_t d = -3; d <= 3; ++d) {
        const int64_t v = mantissa * power + d;
        values.push_back(v);
        values.push_back(-v);
      }
    if (power > INT64_MAX / 10) break;
  }
  std::mt19937_64 rng(15);
  for (int i = 0; i < 200'000; ++i) {
    const uint64_t r = rng();
    values.push_back(static_cast<int64_t>(r >> (r & 63)));  // magnitudes of every length
  }
  for (int64_t v = 1; v <= 1'000'000; ++v) values.push_back(v);
  for (int scale : scales)
    for (int64_t v : values) {
      const hist_bucket fast = int_scale_to_hist_bucket(v, scale);
      const hist_bucket reference = int_scale_to_hist_bucket_by_division(v, scale);
      ASSERT_TRUE(hist_bucket_identical(fast, reference)) << v << "e" << scale;
    }
}

struct DescriptionCase {
  hist_bucket bucket;
  double value;
  double width;
  double left;
  double midpoint;
  const char *text;
};

TEST(BucketDescription, TableOfBuckets) {
  const DescriptionCase cases[] = {
      {{10, 0}, 1.0, 0.1, 1.0, 1.0476190476190477, "+10e-001"},
      {{-10, 0}, -1.0, 0.1, -1.1, -1.0476190476190477, "-10e-001"},
      {{25, 0}, 2.5, 0.1, 2.5, 2.549019607843137, "+25e-001"},
      {{-12, 0}, -1.2, 0.1, -1.3, 2 * 1.2 * 1.3 / -(1.2 + 1.3), "-12e-001"},
      {{23, -4}, 2.3e-4, 1e-5, 2.3e-4, 2 * 2.3e-4 * 2.4e-4 / (2.3e-4 + 2.4e-4), "+23e-005"},
      {{-10, 1}, -10.0, 1.0, -11.0, -2 * 10.0 * 11.0 / 21.0, "-10e+000"},
      {{10, -128}, 1e-128, 1e-129, 1e-128, 2 * 1e-128 * 1.1e-128 / 2.1e-128, "+10e-129"},
      {{99, 127}, 9.9e127, 1e126, 9.9e127, 2 * 9.9e127 * 1e128 / 1.99e128, "+99e+126"},
      {{0, 0}, 0.0, 0.0, 0.0, 0.0, "0"},
      {{0, 17}, 0.0, 0.0, 0.0, 0.0, "0"},
  };
  for (const DescriptionCase &c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_DOUBLE_EQ(hist_bucket_to_double(c.bucket), c.value);
    EXPECT_DOUBLE_EQ(hist_bucket_to_double_bin_width(c.bucket), c.width);
    EXPECT_DOUBLE_EQ(hist_bucket_left(c.bucket), c.left);
    EXPECT_DOUBLE_EQ(hist_bucket_midpoint(c.bucket), c.midpoint);
    char text[9];
    EXPECT_EQ(hist_bucket_to_string(c.bucket, text), static_cast<int>(std::strlen(c.text)));
    EXPECT_STREQ(text, c.text);
  }
  EXPECT_EQ(hist_bucket_midpoint(hist_bucket{10, 0}), 1.0476190476190477);
  EXPECT_EQ(hist_bucket_midpoint(hist_bucket{25, 0}), 2.549019607843137);
}

TEST(BucketDescription, InvalidBucketsAreNaN) {
  const hist_bucket invalid[] = {{-1, 0}, {5, 3}, {100, 0}, {-100, -7}, {-9, 0}, {127, 127}, {-128, -128}};
  for (const hist_bucket b : invalid) {
    EXPECT_TRUE(std::isnan(hist_bucket_to_double(b)));
    EXPECT_TRUE(std::isnan(hist_bucket_to_double_bin_width(b)));
    EXPECT_TRUE(std::isnan(hist_bucket_left(b)));
    EXPECT_TRUE(std::isnan(hist_bucket_midpoint(b)));
    char text[9];
    EXPECT_EQ(hist_bucket_to_string(b, text), 3);
    EXPECT_STREQ(text, "NaN");
  }
}

TEST(PowerOfTen, IndexedByExponentByte) {
  EXPECT_EQ(power_of_ten[0], 1.0);
  EXPECT_EQ(power_of_ten[127], 1e127);
  EXPECT_EQ(power_of_ten[128], 1e-128);
  EXPECT_EQ(power_of_ten[255], 0.1);
  for (int e = -128; e <= 127; ++e)
    EXPECT_EQ(power_of_ten[static_cast<uint8_t>(e)], std::stod("1e" + std::to_string(e))) << e;
}

}  // namespace
