// Exponential histograms (base 2^(2^-scale)) to and from log-linear buckets.
// Both directions work in log2 coordinates, where a bucket of either scheme
// is an interval and each count is shared among the overlapping intervals of
// the other scheme in proportion to the overlap (hist_share_between).
#include <bit>
#include <cmath>
#include <cstdint>
#include <utility>

#include "apportion.hpp"
#include "hist_internal.hpp"

namespace {

// A bucket of magnitudes: digits 10..99 at exp holds [digits, digits + 1) x 10^(exp - 1).
struct magnitude_bucket {
  int digits;
  int exp;
};

constexpr int first_digits = 10;
constexpr int last_digits = 99;
constexpr int five = 5;
constexpr long double log2_of_ten = 3.321928094887362347870319429489390175864831393L;

// log2(n x 10^m) for a positive integer n: exact where the value is a power
// of two (n x 10^m = n 5^m 2^m), so that the edges the two schemes share —
// 0.25, 0.5, 1, 2, ..., 64 — are the same number on both sides.
long double log2_of_decimal(int n, int m) {
  // Only m <= 0 can cancel the factors 5 of 10^m, and only by factors 5 of n.
  int odd = n, fives_left = m < 0 ? -m : m;
  if (m < 0)
    while (fives_left > 0 && odd % five == 0) odd /= five, --fives_left;
  if (fives_left == 0 && std::has_single_bit(static_cast<unsigned>(odd)))
    return static_cast<long double>(std::countr_zero(static_cast<unsigned>(odd)) + m);
  return log2l(static_cast<long double>(n)) + static_cast<long double>(m) * log2_of_ten;
}

long double left_edge(magnitude_bucket b) { return log2_of_decimal(b.digits, b.exp - 1); }
long double right_edge(magnitude_bucket b) { return log2_of_decimal(b.digits + 1, b.exp - 1); }

constexpr magnitude_bucket smallest_bucket{first_digits, hist_min_exponent};
constexpr magnitude_bucket largest_bucket{last_digits, hist_max_exponent};

// Magnitudes below 1e-128 are zero, those from 1e128 on NaN.
const long double zero_limit = left_edge(smallest_bucket);
const long double nan_limit = right_edge(largest_bucket);

bool is_smallest(magnitude_bucket b) { return b.digits == first_digits && b.exp == hist_min_exponent; }
bool is_largest(magnitude_bucket b) { return b.digits == last_digits && b.exp == hist_max_exponent; }

magnitude_bucket next_bucket(magnitude_bucket b) {
  return b.digits == last_digits ? magnitude_bucket{first_digits, b.exp + 1} : magnitude_bucket{b.digits + 1, b.exp};
}
magnitude_bucket previous_bucket(magnitude_bucket b) {
  return b.digits == first_digits ? magnitude_bucket{last_digits, b.exp - 1} : magnitude_bucket{b.digits - 1, b.exp};
}

// The bucket whose interval holds t (zero_limit <= t < nan_limit): the
// double conversion's guess, settled against the exact edges.
magnitude_bucket bucket_at(long double t) {
  const hist_bucket guess = double_to_hist_bucket(static_cast<double>(exp2l(t)));
  magnitude_bucket b = guess.val >= first_digits ? magnitude_bucket{guess.val, guess.exp}
                       : t < 0                   ? smallest_bucket
                                                 : largest_bucket;
  while (!is_smallest(b) && t < left_edge(b)) b = previous_bucket(b);
  while (!is_largest(b) && t >= right_edge(b)) b = next_bucket(b);
  return b;
}

// The bucket whose interval reaches up to t from below (zero_limit < t <= nan_limit).
magnitude_bucket top_bucket_below(long double t) {
  if (t >= nan_limit) return largest_bucket;
  const magnitude_bucket b = bucket_at(t);
  return left_edge(b) >= t && !is_smallest(b) ? previous_bucket(b) : b;
}

hist_bucket signed_bucket(magnitude_bucket b, int sign) {
  return hist_bucket{static_cast<int8_t>(sign * b.digits), static_cast<int8_t>(b.exp)};
}

bool scale_is_valid(int scale) { return scale >= HIST_EXPONENTIAL_MIN_SCALE && scale <= HIST_EXPONENTIAL_MAX_SCALE; }

// ---- Exponential to log-linear ----

// Adds the pieces of one side into h in bucket order: the positive side
// from the smallest magnitude up, the negative side from the largest down.
class side_filler {
 public:
  side_filler(histogram *h, int scale, int sign) : h_(h), scale_(scale), sign_(sign) {}

  // Shares count, at index, among the buckets it overlaps: false when a
  // bucket could not be added.
  bool add(int64_t index, uint64_t count) {
    const long double low = ldexpl(static_cast<long double>(index), -scale_);
    const long double high = ldexpl(static_cast<long double>(index + 1), -scale_);
    const auto part = [&](long double from, long double to) { return hist_share_between(count, low, high, from, to); };
    const long double inner_low = low > zero_limit ? low : zero_limit;
    const long double inner_high = high < nan_limit ? high : nan_limit;
    bool ok = true;
    const auto zero_part = [&] {
      if (low < zero_limit) ok = ok && put(hist_zero_bucket, part(low, fminl(high, zero_limit)));
    };
    const auto nan_part = [&] {
      if (high > nan_limit) ok = ok && put(hist_nan_bucket, part(fmaxl(low, nan_limit), high));
    };
    if (sign_ > 0) zero_part();
    else nan_part();
    if (inner_low < inner_high) {
      // Walk from the end nearest the previous pieces, so entries arrive in order.
      magnitude_bucket b = sign_ > 0 ? bucket_at(inner_low) : top_bucket_below(inner_high);
      // Each piece starts at the edge where the one before it ended: edges
      // computed afresh from the next bucket may differ from it in the last
      // bit, and a share taken at two different points of one edge gains or
      // loses a sample.
      long double reached = sign_ > 0 ? inner_low : inner_high;
      for (;;) {
        const long double from = sign_ > 0 ? reached : fmaxl(left_edge(b), inner_low);
        const long double to = sign_ > 0 ? fminl(right_edge(b), inner_high) : reached;
        reached = sign_ > 0 ? to : from;
        ok = ok && put(signed_bucket(b, sign_), part(from, to));
        const bool last = sign_ > 0 ? (is_largest(b) || right_edge(b) >= inner_high)
                                    : (is_smallest(b) || left_edge(b) <= inner_low);
        if (last || !ok) break;
        b = sign_ > 0 ? next_bucket(b) : previous_bucket(b);
      }
    }
    if (sign_ > 0) nan_part();
    else zero_part();
    return ok;
  }

 private:
  bool put(hist_bucket b, uint64_t n) {
    if (n == 0) return true;
    // The totals were checked to fit, so anything short is a failed allocation.
    return hist_insert_raw_end(h_, b, n) == n;
  }

  histogram *h_;
  int scale_;
  int sign_;
};

bool side_is_valid(const hist_exponential_side &side) {
  if (side.length == 0) return true;
  if (side.counts == nullptr) return false;
  // Every index, offset + length - 1 at the most, must be a 32-bit integer.
  return side.length - 1 <= static_cast<uint64_t>(int64_t{INT32_MAX} - side.offset);
}

// The total of all counts, or false when it passes 2^64 - 1.
bool total_fits(const hist_exponential &e) {
  uint64_t total = e.zero_count;
  for (const hist_exponential_side *side : {&e.positive, &e.negative})
    for (uint64_t k = 0; k < side->length; ++k)
      if (__builtin_add_overflow(total, side->counts[k], &total)) return false;
  return true;
}

// An upper bound of the buckets the conversion makes: the key span of each
// side's non-empty range, plus the zero and NaN buckets.
int capacity_for(const hist_exponential &e) {
  int64_t buckets = 2;
  for (const hist_exponential_side *side : {&e.positive, &e.negative}) {
    uint64_t first = side->length, last = 0;
    for (uint64_t k = 0; k < side->length; ++k)
      if (side->counts[k] != 0) first = first < k ? first : k, last = k;
    if (first == side->length) continue;
    const auto clamp = [](long double t) { return t < zero_limit ? zero_limit : t >= nan_limit ? nan_limit - 1e-9L : t; };
    const magnitude_bucket low = bucket_at(clamp(ldexpl(static_cast<long double>(side->offset + int64_t(first)), -e.scale)));
    const magnitude_bucket high = bucket_at(clamp(ldexpl(static_cast<long double>(side->offset + int64_t(last) + 1), -e.scale)));
    buckets += hist_bucket_order_key(signed_bucket(high, 1)) - hist_bucket_order_key(signed_bucket(low, 1)) + 1;
  }
  return static_cast<int>(buckets < hist_max_conversion_buckets ? buckets : hist_max_conversion_buckets);
}

// ---- Log-linear to exponential ----

struct index_range {
  int64_t first;
  int64_t last;  // first > last when empty
};

// The exponential indices that a bucket's interval [low, high) overlaps at scale.
index_range indices_of(long double low, long double high, int scale) {
  return {static_cast<int64_t>(floorl(ldexpl(low, scale))), static_cast<int64_t>(ceill(ldexpl(high, scale))) - 1};
}

// The positive index that takes the NaN bucket: the first wholly above 1e128.
int64_t nan_index(int scale) { return static_cast<int64_t>(floorl(ldexpl(nan_limit, scale))) + 1; }

magnitude_bucket magnitude_of(hist_bucket b) { return {b.val < 0 ? -b.val : b.val, b.exp}; }

// Calls visit(side sign or 0 for zero, index, part) for every part of h's counts.
template <class Visit>
void for_each_part(const histogram *h, int scale, Visit visit) {
  for (const hist_bucket_entry &entry : hist_entries(h)) {
    const uint64_t count = entry.count;
    if (count == 0) continue;
    if (!hist_bucket_is_valid(entry.bucket)) {
      visit(1, nan_index(scale), count);
      continue;
    }
    if (entry.bucket.val == 0) {
      visit(0, 0, count);
      continue;
    }
    const magnitude_bucket b = magnitude_of(entry.bucket);
    const long double low = ldexpl(left_edge(b), scale), high = ldexpl(right_edge(b), scale);
    const index_range range = indices_of(left_edge(b), right_edge(b), scale);
    const int sign = entry.bucket.val > 0 ? 1 : -1;
    for (int64_t j = range.first; j <= range.last; ++j) {
      const long double from = fmaxl(static_cast<long double>(j), low);
      const long double to = fminl(static_cast<long double>(j + 1), high);
      visit(sign, j, hist_share_between(count, low, high, from, to));
    }
  }
}

// The range of indices each side needs (from the first and last index of
// every bucket, not its parts, so that it costs one step per entry).
bool compute_layout(const histogram *h, int scale, hist_exponential *out) {
  index_range sides[2] = {{INT64_MAX, INT64_MIN}, {INT64_MAX, INT64_MIN}};
  out->zero_count = 0;
  const auto widen = [](index_range &r, index_range add) {
    r.first = add.first < r.first ? add.first : r.first;
    r.last = add.last > r.last ? add.last : r.last;
  };
  for (const hist_bucket_entry &entry : hist_entries(h)) {
    if (entry.count == 0) continue;
    if (!hist_bucket_is_valid(entry.bucket)) {
      widen(sides[0], {nan_index(scale), nan_index(scale)});
    } else if (entry.bucket.val == 0) {
      out->zero_count = hist_saturating_add(out->zero_count, entry.count);
    } else {
      const magnitude_bucket b = magnitude_of(entry.bucket);
      widen(sides[entry.bucket.val > 0 ? 0 : 1], indices_of(left_edge(b), right_edge(b), scale));
    }
  }
  hist_exponential_side *targets[2] = {&out->positive, &out->negative};
  for (int s = 0; s < 2; ++s) {
    const index_range r = sides[s];
    if (r.first > r.last) {
      targets[s]->offset = 0, targets[s]->length = 0;
      continue;
    }
    if (r.first < INT32_MIN || r.last > INT32_MAX) return false;
    targets[s]->offset = static_cast<int32_t>(r.first);
    targets[s]->length = static_cast<uint64_t>(r.last - r.first + 1);
  }
  out->scale = scale;
  return true;
}

}  // namespace

extern "C" {

histogram *hist_from_exponential(const hist_exponential *e, const hist_allocator *allocator) {
  if (e == nullptr || !scale_is_valid(e->scale) || !side_is_valid(e->positive) || !side_is_valid(e->negative) ||
      !total_fits(*e))
    return nullptr;
  histogram *h = hist_alloc_nbins_with_allocator(capacity_for(*e), allocator ? allocator : &default_allocator);
  if (h == nullptr) return nullptr;
  side_filler negative(h, e->scale, -1), positive(h, e->scale, 1);
  bool ok = true;
  for (uint64_t k = e->negative.length; ok && k-- > 0;)
    if (e->negative.counts[k] != 0) ok = negative.add(int64_t{e->negative.offset} + int64_t(k), e->negative.counts[k]);
  if (ok && e->zero_count != 0) ok = hist_insert_raw_end(h, hist_zero_bucket, e->zero_count) == e->zero_count;
  for (uint64_t k = 0; ok && k < e->positive.length; ++k)
    if (e->positive.counts[k] != 0) ok = positive.add(int64_t{e->positive.offset} + int64_t(k), e->positive.counts[k]);
  if (!ok) {
    hist_free(h);
    return nullptr;
  }
  return h;
}

int hist_exponential_layout(const histogram *h, int scale, hist_exponential *out) {
  if (out == nullptr || !scale_is_valid(scale)) return -1;
  hist_exponential layout{};
  if (!compute_layout(h, scale, &layout)) return -1;
  out->scale = layout.scale;
  out->zero_count = layout.zero_count;
  out->positive.offset = layout.positive.offset, out->positive.length = layout.positive.length;
  out->negative.offset = layout.negative.offset, out->negative.length = layout.negative.length;
  return 0;
}

int hist_to_exponential(const histogram *h, hist_exponential *out) {
  if (out == nullptr || !scale_is_valid(out->scale)) return -1;
  hist_exponential layout{};
  if (!compute_layout(h, out->scale, &layout)) return -1;
  for (auto [want, have] : {std::pair{&layout.positive, &out->positive}, std::pair{&layout.negative, &out->negative}})
    if (want->length != have->length || (want->length != 0 && (want->offset != have->offset || have->counts == nullptr)))
      return -1;
  for (hist_exponential_side *side : {&out->positive, &out->negative})
    for (uint64_t k = 0; k < side->length; ++k) side->counts[k] = 0;
  out->zero_count = layout.zero_count;
  for_each_part(h, out->scale, [out](int sign, int64_t index, uint64_t part) {
    if (sign == 0 || part == 0) return;
    hist_exponential_side &side = sign > 0 ? out->positive : out->negative;
    uint64_t &slot = side.counts[index - side.offset];
    slot = hist_saturating_add(slot, part);
  });
  return 0;
}

int hist_exponential_scale_for(const histogram *h, uint64_t max_buckets) {
  for (int scale = HIST_EXPONENTIAL_MAX_SCALE; scale > HIST_EXPONENTIAL_MIN_SCALE; --scale) {
    hist_exponential layout{};
    if (compute_layout(h, scale, &layout) && layout.positive.length <= max_buckets &&
        layout.negative.length <= max_buckets)
      return scale;
  }
  return HIST_EXPONENTIAL_MIN_SCALE;
}

}  // extern "C"
