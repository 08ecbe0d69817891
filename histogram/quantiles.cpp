// Quantiles and inverse quantiles, a whole ascending batch per forward walk
// over the entries: O(entries + n), no allocation.
//
// The estimators place the c samples of a bucket at c evenly spaced interior
// points, the j-th at left + width x j / (c + 1), and answer with the position
// of the sample of the wanted rank; they never interpolate between samples.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "hist_internal.hpp"

namespace {

constexpr int status_done = 0;
constexpr int status_not_ascending = -2;
constexpr int status_probability_out_of_range = -3;

constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();

// Position of the first value that is smaller than a value before it, or n
// when the list ascends.  NaN stands for no value and is passed over, so a
// NaN between two values cannot hide that they descend.
int first_descent(const double *values, int n) {
  double highest = -std::numeric_limits<double>::infinity();
  for (int i = 0; i < n; ++i) {
    if (std::isnan(values[i])) continue;
    if (values[i] < highest) return i;
    highest = values[i];
  }
  return n;
}

// The magnitude below which values count in the zero bucket.
constexpr double zero_bucket_reach = 1e-128;

// The interval [left, right) over which a valid bucket's samples spread for
// the inverse quantile: [d, d + w) for a positive bucket, [d - w, d) for a
// negative one, [-1e-128, 1e-128) for zero.
struct bucket_interval {
  double left;
  double right;
};

bucket_interval interval_of(hist_bucket b) {
  const double value = hist_bucket_to_double(b);
  const double width = hist_bucket_to_double_bin_width(b);
  if (value < 0) return {value - width, value};
  if (value > 0) return {value, value + width};
  return {-zero_bucket_reach, zero_bucket_reach};
}

void fill_not_a_number(double *out, int n) {
  for (int i = 0; i < n; ++i) out[i] = not_a_number;
}

// The number of samples in valid buckets, summing each count as the double
// nearest to it; the walk below sums the same doubles in the same order, so
// its running total ends exactly here.
double valid_sample_total(std::span<const hist_bucket_entry> entries) {
  double total = 0;
  for (const hist_bucket_entry &entry : entries)
    if (hist_bucket_is_valid(entry.bucket)) total += static_cast<double>(entry.count);
  return total;
}

// Target rank of probability q among total samples, as a real number.
double rank_ceiling_target(double q, double total) { return q * total; }

// Target rank of probability q, a whole rank from 1 to total.
double rank_floor_target(double q, double total) { return std::floor((total - 1.0) * q + 1.0); }

// Rank within the bucket of the sample that answers a target lying
// offset samples past the bucket's lower end: the next whole sample, and the
// first for a target right at the lower end.
double rank_ceiling_in_bucket(double offset) { return std::fmax(std::ceil(offset), 1.0); }

// The same rank taken as it stands: targets are whole ranks already.
double rank_floor_in_bucket(double offset) { return offset; }

// Both quantile estimators: targets first, every probability checked, then
// one forward walk that places each target in its bucket.
template <double (*target_of)(double, double), double (*rank_in_bucket)(double)>
int estimate_quantiles(const histogram *h, const double *q_in, int nq, double *q_out) {
  if (nq <= 0) return status_done;
  if (h == nullptr) {
    fill_not_a_number(q_out, nq);
    return status_done;
  }
  const std::span<const hist_bucket_entry> entries = hist_entries(h);
  const double total = valid_sample_total(entries);
  if (first_descent(q_in, nq) < nq) return status_not_ascending;
  if (total == 0) {
    fill_not_a_number(q_out, nq);
    return status_done;
  }
  // Every probability is checked before any output is written: a failed
  // call leaves the caller's array as it was.
  for (int i = 0; i < nq; ++i)
    if (q_in[i] < 0 || q_in[i] > 1) return status_probability_out_of_range;
  for (int i = 0; i < nq; ++i) q_out[i] = target_of(q_in[i], total);

  size_t at = 0;
  while (!hist_bucket_is_valid(entries[at].bucket) || entries[at].count == 0) ++at;
  double lower = 0, upper = static_cast<double>(entries[at].count);
  for (int i = 0; i < nq; ++i) {
    const double target = q_out[i];
    // A target equal to the samples up to the end of a bucket stays in it.
    while (at + 1 < entries.size() && target > upper) {
      ++at;
      lower = upper;
      upper += static_cast<double>(entries[at].count);
    }
    if (std::isnan(target)) continue;
    const hist_bucket bucket = entries[at].bucket;
    const double width = hist_bucket_to_double_bin_width(bucket);
    const double left = hist_bucket_left(bucket);
    if (width == 0) {
      q_out[i] = left;
      continue;
    }
    const double count = static_cast<double>(entries[at].count);
    q_out[i] = (rank_in_bucket(target - lower) / (count + 1)) * width + left;
  }
  return status_done;
}

}  // namespace

extern "C" {

int hist_approx_quantile(const histogram *h, const double *q_in, int nq, double *q_out) {
  return estimate_quantiles<rank_ceiling_target, rank_ceiling_in_bucket>(h, q_in, nq, q_out);
}

int hist_approx_quantile7(const histogram *h, const double *q_in, int nq, double *q_out) {
  return estimate_quantiles<rank_floor_target, rank_floor_in_bucket>(h, q_in, nq, q_out);
}

int hist_approx_inverse_quantile(const histogram *h, const double *in, int n, double *out) {
  if (n <= 0) return status_done;
  if (first_descent(in, n) < n) return status_not_ascending;
  fill_not_a_number(out, n);

  hist_wide_count total = 0;
  for (const hist_bucket_entry &entry : hist_entries(h))
    if (hist_bucket_is_valid(entry.bucket)) total += entry.count;
  if (total == 0) return status_done;
  const double samples = static_cast<double>(total);

  // NaN values keep their NaN and leave the walk undisturbed.
  int i = 0;
  const auto skip_not_a_number = [&] {
    while (i < n && std::isnan(in[i])) ++i;
  };
  skip_not_a_number();
  hist_wide_count below = 0;
  for (const hist_bucket_entry &entry : hist_entries(h)) {
    if (!hist_bucket_is_valid(entry.bucket)) continue;
    const bucket_interval range = interval_of(entry.bucket);
    const double share_before = static_cast<double>(below) / samples;
    for (; i < n && in[i] < range.left; ++i, skip_not_a_number()) out[i] = share_before;
    // Inside the bucket its samples count in proportion to the distance from
    // its left edge; the zero bucket has no extent to divide.
    const double count = static_cast<double>(entry.count);
    const bool has_width = hist_bucket_to_double_bin_width(entry.bucket) > 0;
    for (; i < n && in[i] < range.right; ++i, skip_not_a_number()) {
      const double inside = has_width ? count * ((in[i] - range.left) / (range.right - range.left)) : 0;
      out[i] = (static_cast<double>(below) + inside) / samples;
    }
    if (i == n) return status_done;
    below += entry.count;
  }
  for (; i < n; ++i, skip_not_a_number()) out[i] = 1.0;
  return status_done;
}

}  // extern "C"
