// Buckets: mapping doubles and scaled integers to log-linear buckets, and
// describing a bucket by its value, width, edges and text form.
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>

#include "hist_internal.hpp"

// Indexed by the exp byte read as unsigned: entries 0..127 hold 10^0..10^127,
// entries 128..255 hold 10^-128..10^-1.  The literals are correctly rounded.
extern "C" const double power_of_ten[256] = {
    1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16,
    1e17, 1e18, 1e19, 1e20, 1e21, 1e22, 1e23, 1e24, 1e25, 1e26, 1e27, 1e28, 1e29, 1e30, 1e31,
    1e32, 1e33, 1e34, 1e35, 1e36, 1e37, 1e38, 1e39, 1e40, 1e41, 1e42, 1e43, 1e44, 1e45, 1e46,
    1e47, 1e48, 1e49, 1e50, 1e51, 1e52, 1e53, 1e54, 1e55, 1e56, 1e57, 1e58, 1e59, 1e60, 1e61,
    1e62, 1e63, 1e64, 1e65, 1e66, 1e67, 1e68, 1e69, 1e70, 1e71, 1e72, 1e73, 1e74, 1e75, 1e76,
    1e77, 1e78, 1e79, 1e80, 1e81, 1e82, 1e83, 1e84, 1e85, 1e86, 1e87, 1e88, 1e89, 1e90, 1e91,
    1e92, 1e93, 1e94, 1e95, 1e96, 1e97, 1e98, 1e99, 1e100, 1e101, 1e102, 1e103, 1e104, 1e105,
    1e106, 1e107, 1e108, 1e109, 1e110, 1e111, 1e112, 1e113, 1e114, 1e115, 1e116, 1e117, 1e118,
    1e119, 1e120, 1e121, 1e122, 1e123, 1e124, 1e125, 1e126, 1e127,
    1e-128, 1e-127, 1e-126, 1e-125, 1e-124, 1e-123, 1e-122, 1e-121, 1e-120, 1e-119, 1e-118,
    1e-117, 1e-116, 1e-115, 1e-114, 1e-113, 1e-112, 1e-111, 1e-110, 1e-109, 1e-108, 1e-107,
    1e-106, 1e-105, 1e-104, 1e-103, 1e-102, 1e-101, 1e-100, 1e-99, 1e-98, 1e-97, 1e-96, 1e-95,
    1e-94, 1e-93, 1e-92, 1e-91, 1e-90, 1e-89, 1e-88, 1e-87, 1e-86, 1e-85, 1e-84, 1e-83, 1e-82,
    1e-81, 1e-80, 1e-79, 1e-78, 1e-77, 1e-76, 1e-75, 1e-74, 1e-73, 1e-72, 1e-71, 1e-70, 1e-69,
    1e-68, 1e-67, 1e-66, 1e-65, 1e-64, 1e-63, 1e-62, 1e-61, 1e-60, 1e-59, 1e-58, 1e-57, 1e-56,
    1e-55, 1e-54, 1e-53, 1e-52, 1e-51, 1e-50, 1e-49, 1e-48, 1e-47, 1e-46, 1e-45, 1e-44, 1e-43,
    1e-42, 1e-41, 1e-40, 1e-39, 1e-38, 1e-37, 1e-36, 1e-35, 1e-34, 1e-33, 1e-32, 1e-31, 1e-30,
    1e-29, 1e-28, 1e-27, 1e-26, 1e-25, 1e-24, 1e-23, 1e-22, 1e-21, 1e-20, 1e-19, 1e-18, 1e-17,
    1e-16, 1e-15, 1e-14, 1e-13, 1e-12, 1e-11, 1e-10, 1e-9, 1e-8, 1e-7, 1e-6, 1e-5, 1e-4, 1e-3,
    1e-2, 1e-1,
};

namespace {

constexpr int min_exponent = hist_min_exponent;
constexpr int max_exponent = hist_max_exponent;
// The smallest magnitude that no valid bucket holds.
constexpr double overflow_magnitude = 1e128;
// Added before flooring the digits so that a double stored just below a
// two-digit decimal (0.3 is 0.29999999999999998) lands in that decimal's bucket.
constexpr double digit_nudge = 1e-13;
constexpr int digits_per_decade = 10;
constexpr int max_digits = 99;
constexpr int min_digits = 10;
// A decade rollover: the nudge or log10's rounding gave 100 (or -100).
constexpr int rolled_over_digits = 100;

double power_of(int exponent) { return power_of_ten[static_cast<uint8_t>(exponent)]; }

hist_bucket make_bucket(int val, int exp) {
  return hist_bucket{static_cast<int8_t>(val), static_cast<int8_t>(exp)};
}

// Once the decade e of a double is known: take two digits, handle the decade rollover, and map what cannot be a
// valid digit pair.
hist_bucket bucket_from_decade(double magnitude, int sign, int e) {
  // The operand is non-negative and small, so truncation is floor (and avoids a libm call).
  const int m = static_cast<int>(magnitude / power_of(e) * 10.0 + digit_nudge);
  int v = m * sign;
  if (v == rolled_over_digits * sign) {
    if (e == max_exponent) return hist_nan_bucket;
    v /= digits_per_decade;
    e += 1;
  }
  if (v == 0) return hist_zero_bucket;
  const int digits = v * sign;
  if (digits >= min_digits && digits <= max_digits) return make_bucket(v, e);
  if (digits >= 1 && digits < min_digits) {
    // log10 rounded a value just below 10^e up to e: it belongs to the top
    // bucket of the decade below (or is too small for any bucket).
    if (e - 1 < min_exponent) return hist_zero_bucket;
    return make_bucket(max_digits * sign, e - 1);
  }
  return hist_nan_bucket;
}

}  // namespace

hist_bucket double_to_hist_bucket_by_log10(double d) {
  if (std::isnan(d) || std::isinf(d)) return hist_nan_bucket;
  if (d == 0.0) return hist_zero_bucket;
  const int sign = d > 0 ? 1 : -1;
  const double a = std::fabs(d);
  const double log = std::floor(std::log10(a));
  if (log < min_exponent) return hist_zero_bucket;
  if (log > max_exponent) {
    // log10 rounds magnitudes just below 1e128 up to 128; they belong in the top decade.
    if (a >= overflow_magnitude) return hist_nan_bucket;
    return bucket_from_decade(a, sign, max_exponent);
  }
  return bucket_from_decade(a, sign, static_cast<int>(log));
}

// ---- The tabulated conversion ----
//
// The bucket is a monotone step function of the magnitude, so each cell of
// the table (a binade cut by its top mantissa bits) holds the buckets on
// either side of the one step that may fall into it and the magnitude bits
// where that step is.  Cells are found from the reference conversion, one
// binade at a time, the first time a value of that binade is converted.

alignas(64) hist_bucket_cell hist_bucket_cells[hist_cell_count];

namespace {

// The step within the cell from first to last (magnitude bits, inclusive):
// the bits of the smallest magnitude that converts like last, by bisection.
// Within a cell the reference takes at most two buckets (a cell is at most
// 1/128 of its binade wide, a bucket at least 1/99 of its value).
uint64_t step_within(uint64_t first, uint64_t last, hist_bucket below) {
  while (last - first > 1) {
    const uint64_t middle = first + (last - first) / 2;
    const hist_bucket b = double_to_hist_bucket_by_log10(std::bit_cast<double>(middle));
    (hist_bucket_identical(b, below) ? first : last) = middle;
  }
  return last;
}

void fill_binade(int binade) {
  constexpr uint64_t cell_width = uint64_t{1} << hist_cell_shift;
  for (int k = 0; k < hist_cells_per_binade; ++k) {
    const uint64_t first = hist_first_cell_bits + (static_cast<uint64_t>(binade * hist_cells_per_binade + k) << hist_cell_shift);
    const uint64_t last = first + cell_width - 1;
    hist_bucket_cell &cell = hist_bucket_cells[binade * hist_cells_per_binade + k];
    for (int negative = 0; negative < 2; ++negative) {
      const uint64_t sign = static_cast<uint64_t>(negative) << hist_sign_shift;
      cell.buckets[0][negative] = double_to_hist_bucket_by_log10(std::bit_cast<double>(first | sign));
      cell.buckets[1][negative] = double_to_hist_bucket_by_log10(std::bit_cast<double>(last | sign));
    }
    const hist_bucket below = cell.buckets[0][0];
    const uint64_t step = hist_bucket_identical(below, cell.buckets[1][0]) ? UINT64_MAX : step_within(first, last, below);
    std::atomic_ref<uint64_t>(cell.step).store(step, std::memory_order_release);
  }
}

// Set by the one thread that fills the binade's cells.
std::atomic<bool> binade_claimed[hist_binade_count];

}  // namespace

// The first conversion in a binade fills its cells; a thread that finds
// another one filling them answers from the reference instead of waiting.
hist_bucket hist_bucket_of_unready_binade(double d) {
  const uint64_t magnitude = std::bit_cast<uint64_t>(d) & ~hist_sign_bit;
  const int binade = static_cast<int>((magnitude - hist_first_cell_bits) >> hist_mantissa_bits);
  if (!binade_claimed[binade].exchange(true, std::memory_order_relaxed)) fill_binade(binade);
  return double_to_hist_bucket_by_log10(d);
}

extern "C" hist_bucket double_to_hist_bucket(double d) { return hist_double_to_bucket(d); }

hist_bucket int_scale_to_hist_bucket_by_division(int64_t value, int scale) {
  if (value == 0) return hist_zero_bucket;
  int sign = 1;
  int64_t n = value;
  if (value < 0) {
    sign = -1;
    // The most negative value has no positive twin; INT64_MAX shares its two leading digits.
    n = value == INT64_MIN ? INT64_MAX : -value;
  }
  int64_t digits;
  int exponent;
  constexpr int64_t largest_one_digit = 9;
  constexpr int64_t largest_two_digit = 99;
  constexpr int64_t largest_three_digit = 999;
  if (n <= largest_one_digit) {
    digits = n * digits_per_decade;
    exponent = scale;
  } else if (n <= largest_two_digit) {
    digits = n;
    exponent = scale + 1;
  } else {
    // Drop trailing digits (truncating) until two remain.
    exponent = scale + 1;
    for (;;) {
      ++exponent;
      const int64_t q = n / digits_per_decade;
      if (n <= largest_three_digit) {
        digits = q;
        break;
      }
      n = q;
    }
  }
  if (exponent < min_exponent) return hist_zero_bucket;
  if (exponent > max_exponent) return hist_nan_bucket;
  return make_bucket(static_cast<int>(digits) * sign, exponent);
}

namespace {

constexpr int max_decimal_exponent = 18;  // 10^18 < 2^63 < 10^19

constexpr auto powers_of_ten_u64 = [] {
  std::array<uint64_t, max_decimal_exponent + 1> p{};
  uint64_t power = 1;
  for (uint64_t &entry : p) entry = power, power *= 10;
  return p;
}();

// floor(log10(n)) for n >= 1: log10(2) ~ 1233 / 2^12 applied to the bit
// length gives it exactly or one too large; the power table settles it.
int floor_log10(uint64_t n) {
  constexpr int log10_2_numerator = 1233;
  constexpr int log10_2_shift = 12;
  const int bit_length = 64 - std::countl_zero(n);
  const int guess = (bit_length * log10_2_numerator) >> log10_2_shift;
  return guess - (n < powers_of_ten_u64[guess]);
}

// floor(n / 10^k) for a quotient of two digits, from a double estimate that
// is off by at most one, corrected in integers (a division costs more).
uint64_t leading_two_digits(uint64_t n, int k) {
  const uint64_t divisor = powers_of_ten_u64[k];
  uint64_t q = static_cast<uint64_t>(static_cast<double>(n) / static_cast<double>(divisor));
  q -= q * divisor > n;
  q += (q + 1) * divisor <= n;
  return q;
}

}  // namespace

hist_bucket hist_int_scale_by_digits(int64_t value, int scale) {
  if (value == 0) return hist_zero_bucket;
  // The most negative value has no positive twin; INT64_MAX shares its two leading digits.
  const uint64_t n = value == INT64_MIN ? INT64_MAX : (value < 0 ? -value : value);
  const int k = floor_log10(n);
  const int digits = k == 0 ? static_cast<int>(n) * digits_per_decade : static_cast<int>(leading_two_digits(n, k - 1));
  const int64_t exponent = static_cast<int64_t>(scale) + k;
  if (exponent < min_exponent) return hist_zero_bucket;
  if (exponent > max_exponent) return hist_nan_bucket;
  return make_bucket(value < 0 ? -digits : digits, static_cast<int>(exponent));
}

extern "C" hist_bucket int_scale_to_hist_bucket(int64_t value, int scale) {
  hist_bucket b;
  if (hist_int_scale_to_bucket_ready(value, scale, &b)) return b;
  if (hist_int_scale_is_tabulated(value, scale)) {
    // Fill the binade (unless another thread is at it), then read the table.
    hist_bucket_of_unready_binade(static_cast<double>(value));
    if (hist_int_scale_to_bucket_ready(value, scale, &b)) return b;
  }
  return hist_int_scale_by_digits(value, scale);
}

extern "C" double hist_bucket_to_double(hist_bucket hb) {
  if (!hist_bucket_is_valid(hb)) return NAN;
  if (hb.val == 0) return 0.0;
  return static_cast<double>(hb.val) / 10.0 * power_of(hb.exp);
}

extern "C" double hist_bucket_to_double_bin_width(hist_bucket hb) {
  if (!hist_bucket_is_valid(hb)) return NAN;
  if (hb.val == 0) return 0.0;
  return power_of(hb.exp) / 10.0;
}

double hist_bucket_left(hist_bucket hb) {
  if (!hist_bucket_is_valid(hb)) return NAN;
  if (hb.val == 0) return 0.0;
  const double d = hist_bucket_to_double(hb);
  return d > 0 ? d : d - hist_bucket_to_double_bin_width(hb);
}

extern "C" double hist_bucket_midpoint(hist_bucket hb) {
  if (!hist_bucket_is_valid(hb)) return NAN;
  if (hb.val == 0) return 0.0;
  const double d = hist_bucket_to_double(hb);
  double w = hist_bucket_to_double_bin_width(hb);
  if (d < 0) w = -w;
  // The harmonic mean of the edges d and d + w, as d + d w / (2d + w).
  return d + (d / ((w + d) + d)) * w;
}

extern "C" int hist_bucket_to_string(hist_bucket hb, char *buf) {
  if (!hist_bucket_is_valid(hb)) {
    buf[0] = 'N', buf[1] = 'a', buf[2] = 'N', buf[3] = '\0';
    return 3;
  }
  if (hb.val == 0) {
    buf[0] = '0', buf[1] = '\0';
    return 1;
  }
  // Two-digit integer mantissa: val x 10^(exp - 1).
  const int digits = hb.val < 0 ? -hb.val : hb.val;
  const int printed_exponent = hb.exp - 1;
  const int magnitude = printed_exponent < 0 ? -printed_exponent : printed_exponent;
  buf[0] = hb.val < 0 ? '-' : '+';
  buf[1] = static_cast<char>('0' + digits / 10);
  buf[2] = static_cast<char>('0' + digits % 10);
  buf[3] = 'e';
  buf[4] = hb.exp <= 0 ? '-' : '+';
  buf[5] = static_cast<char>('0' + magnitude / 100);
  buf[6] = static_cast<char>('0' + magnitude / 10 % 10);
  buf[7] = static_cast<char>('0' + magnitude % 10);
  buf[8] = '\0';
  return 8;
}
