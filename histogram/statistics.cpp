// Counts and moments of one histogram.  A histogram keeps no sample values,
// so the moments let each bucket's midpoint (the harmonic mean of its edges)
// stand for all of its samples, and a count against a threshold takes the
// threshold's own bucket either whole or not at all.  Invalid buckets take
// part in nothing but the total that the above-counts start from.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "hist_internal.hpp"

namespace {

constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();

uint64_t saturated(hist_wide_count sum) { return sum > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(sum); }

// Calls visit(count, midpoint) for every valid entry that holds samples, in
// bucket order; each count is the double nearest to it.  Empty buckets are
// passed over so that they cannot turn a sum into NaN (0 x infinity when a
// negative power meets the zero bucket's midpoint).
template <typename Visit>
void for_each_populated_bucket(const histogram *h, Visit visit) {
  for (const hist_bucket_entry &entry : hist_entries(h)) {
    if (!hist_bucket_is_valid(entry.bucket) || entry.count == 0) continue;
    visit(static_cast<double>(entry.count), hist_bucket_midpoint(entry.bucket));
  }
}

// Exact total of the counts of the valid entries that lie before the bucket
// of threshold, and of that bucket itself when include_own is set.  The
// entries are sorted, so the walk stops at the first one beyond.  A threshold
// in the NaN bucket sorts before every valid bucket and gives 0.
hist_wide_count samples_up_to(const histogram *h, double threshold, bool include_own) {
  const hist_bucket limit = double_to_hist_bucket(threshold);
  hist_wide_count sum = 0;
  for (const hist_bucket_entry &entry : hist_entries(h)) {
    if (!hist_bucket_is_valid(entry.bucket)) continue;
    const int order = hist_bucket_compare(entry.bucket, limit);
    if (order > 0 || (order == 0 && !include_own)) break;
    sum += entry.count;
  }
  return sum;
}

// Exact total of all counts, those of invalid buckets included.
hist_wide_count all_samples(const histogram *h) {
  hist_wide_count sum = 0;
  for (const hist_bucket_entry &entry : hist_entries(h)) sum += entry.count;
  return sum;
}

}  // namespace

extern "C" {

double hist_approx_mean(const histogram *h) {
  double samples = 0, sum = 0;
  for_each_populated_bucket(h, [&](double count, double midpoint) {
    samples += count;
    sum += count * midpoint;
  });
  return samples == 0 ? not_a_number : sum / samples;
}

double hist_approx_sum(const histogram *h) {
  double sum = 0;
  for_each_populated_bucket(h, [&](double count, double midpoint) { sum += count * midpoint; });
  return sum;
}

double hist_approx_stddev(const histogram *h) {
  double samples = 0, sum = 0, sum_of_squares = 0;
  for_each_populated_bucket(h, [&](double count, double midpoint) {
    samples += count;
    sum += midpoint * count;
    sum_of_squares += count * (midpoint * midpoint);
  });
  if (samples == 0) return not_a_number;
  const double mean = sum / samples;
  // E[X^2] - E[X]^2 cancels to a few rounding errors, possibly below zero,
  // when all samples share one bucket; the deviation is then 0.
  const double variance = sum_of_squares / samples - mean * mean;
  return std::sqrt(std::max(variance, 0.0));
}

double hist_approx_moment(const histogram *h, double k) {
  double samples = 0, sum = 0;
  for_each_populated_bucket(h, [&](double count, double midpoint) {
    samples += count;
    sum += count * std::pow(midpoint, k);
  });
  return samples == 0 ? not_a_number : sum / std::pow(samples, k);
}

uint64_t hist_approx_count_nearby(const histogram *h, double value) {
  // The bucket that holds a value is the one the value converts to; edges
  // recomputed in floating point would disagree with that conversion for
  // values such as 0.7, whose bucket's value reads back as 0.7000000000000001.
  const hist_bucket holder = double_to_hist_bucket(value);
  if (!hist_bucket_is_valid(holder)) return 0;
  for (const hist_bucket_entry &entry : hist_entries(h)) {
    if (!hist_bucket_is_valid(entry.bucket)) continue;
    const int order = hist_bucket_compare(entry.bucket, holder);
    if (order == 0) return entry.count;
    if (order > 0) break;
  }
  return 0;
}

uint64_t hist_approx_count_below(const histogram *h, double threshold) {
  return saturated(samples_up_to(h, threshold, true));
}

uint64_t hist_approx_count_below_inclusive(const histogram *h, double threshold) {
  return hist_approx_count_below(h, threshold);
}

uint64_t hist_approx_count_below_exclusive(const histogram *h, double threshold) {
  return saturated(samples_up_to(h, threshold, false));
}

uint64_t hist_approx_count_above(const histogram *h, double threshold) {
  return saturated(all_samples(h) - samples_up_to(h, threshold, false));
}

uint64_t hist_approx_count_above_inclusive(const histogram *h, double threshold) {
  return hist_approx_count_above(h, threshold);
}

uint64_t hist_approx_count_above_exclusive(const histogram *h, double threshold) {
  return saturated(all_samples(h) - samples_up_to(h, threshold, true));
}

}  // extern "C"
