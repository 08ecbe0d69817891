// Histograms over explicit bounds (Prometheus, OpenTelemetry): bins
// (-inf, b0], (b0, b1], ..., (b(n-1), +inf) to and from log-linear buckets.
#include <cmath>
#include <cstdint>

#include "apportion.hpp"
#include "hist_internal.hpp"

namespace {

// A bound this close to a bucket edge, in bucket widths, is that edge: the
// decimal text of an edge parses to a double within a few ulps of it.
constexpr double edge_tolerance = 1e-9;

bool bounds_are_valid(const double *bounds, size_t n) {
  if (n != 0 && bounds == nullptr) return false;
  for (size_t i = 0; i < n; ++i)
    if (!std::isfinite(bounds[i]) || (i > 0 && !(bounds[i - 1] < bounds[i]))) return false;
  return true;
}

// The share of a bucket's range (0..1) that lies below bound, with the
// bucket's samples spread evenly over it; a bound on an edge gives 0 or 1.
// The zero bucket lies below every bound from 0 up.
double share_below(hist_bucket b, double bound) {
  if (b.val == 0) return bound >= 0 ? 1.0 : 0.0;
  const double left = hist_bucket_left(b), width = hist_bucket_to_double_bin_width(b);
  const double share = (bound - left) / width;
  if (share < edge_tolerance) return 0.0;
  if (share > 1 - edge_tolerance) return 1.0;
  return share;
}

// Whether bound lies on a bucket edge.
bool is_edge(double bound) {
  const hist_bucket b = double_to_hist_bucket(bound);
  if (!hist_bucket_is_valid(b) || b.val == 0) return false;
  const double share = share_below(b, bound);
  return share == 0.0 || share == 1.0;
}

// The valid bucket just below b in bucket order (b valid, not the most negative).
hist_bucket bucket_before(hist_bucket b) {
  constexpr int first = 10, last = 99;
  if (b.val == 0) return hist_bucket{-first, hist_min_exponent};
  if (b.val > 0) {
    if (b.val > first) return hist_bucket{static_cast<int8_t>(b.val - 1), b.exp};
    if (b.exp == hist_min_exponent) return hist_zero_bucket;
    return hist_bucket{last, static_cast<int8_t>(b.exp - 1)};
  }
  if (b.val > -last) return hist_bucket{static_cast<int8_t>(b.val - 1), b.exp};
  return hist_bucket{-first, static_cast<int8_t>(b.exp + 1)};
}

// The bucket for the samples of the bin (lower, upper] placed at x: x's own,
// unless rounding took it to upper's bucket when upper is an edge (a bin
// narrower than the conversion's rounding), where the samples would count
// above upper.
hist_bucket bucket_inside(double x, double upper) {
  const hist_bucket b = double_to_hist_bucket(x);
  if (!is_edge(upper)) return b;
  const hist_bucket upper_bucket = double_to_hist_bucket(upper);
  const bool upper_starts_bucket = share_below(upper_bucket, upper) == 0.0;
  if (!upper_starts_bucket || hist_bucket_compare(b, upper_bucket) < 0) return b;
  return bucket_before(upper_bucket);
}

double middle(double lower, double upper) { return lower / 2 + upper / 2; }

// Where the open first bin (-inf, b0] puts its samples.
double first_bin_value(const double *bounds, size_t n) {
  const double b0 = bounds[0];
  if (b0 > 0) return b0 / 2;
  if (b0 == 0) return 0.0;
  const double width = n > 1 ? bounds[1] - b0 : -b0;
  return b0 - width;
}

// Where the open last bin (b(n-1), +inf) puts its samples.
double last_bin_value(const double *bounds, size_t n) {
  const double last = bounds[n - 1];
  double step = n > 1 ? last - bounds[n - 2] : std::fabs(last);
  if (last != 0 && step > std::fabs(last)) step = std::fabs(last);
  if (step == 0) step = 1;
  return last + step;
}

// All counts, or false when the total passes 2^64 - 1.
bool total_fits(const uint64_t *counts, size_t n) {
  uint64_t total = 0;
  for (size_t i = 0; i < n; ++i)
    if (__builtin_add_overflow(total, counts[i], &total)) return false;
  return true;
}

}  // namespace

extern "C" {

histogram *hist_from_explicit_bounds(const double *bounds, size_t nbounds, const uint64_t *counts, size_t ncounts,
                                     const hist_allocator *allocator) {
  if (!bounds_are_valid(bounds, nbounds) || ncounts != nbounds + 1 || counts == nullptr || !total_fits(counts, ncounts))
    return nullptr;
  const int capacity = ncounts < size_t{hist_max_conversion_buckets} ? static_cast<int>(ncounts) : hist_max_conversion_buckets;
  histogram *h = hist_alloc_nbins_with_allocator(capacity, allocator ? allocator : &default_allocator);
  if (h == nullptr) return nullptr;
  for (size_t i = 0; i < ncounts; ++i) {
    if (counts[i] == 0) continue;
    hist_bucket b;
    if (nbounds == 0)
      b = hist_zero_bucket;  // one bin over everything: nothing says where
    else if (i == 0)
      b = bucket_inside(first_bin_value(bounds, nbounds), bounds[0]);
    else if (i == nbounds)
      b = double_to_hist_bucket(last_bin_value(bounds, nbounds));
    else
      b = bucket_inside(middle(bounds[i - 1], bounds[i]), bounds[i]);
    if (hist_insert_raw(h, b, counts[i]) != counts[i]) {
      hist_free(h);
      return nullptr;
    }
  }
  return h;
}

int hist_to_explicit_bounds(const histogram *h, const double *bounds, size_t nbounds, uint64_t *counts) {
  if (!bounds_are_valid(bounds, nbounds) || counts == nullptr) return -1;
  const auto entries = hist_entries(h);
  hist_wide_count total = 0;
  for (const hist_bucket_entry &e : entries) total += e.count;
  // below: samples of the entries before next (all below the bound), then
  // next's share below each bound in turn.
  hist_wide_count below = 0, previous = 0;
  size_t next = 0;
  while (next < entries.size() && !hist_bucket_is_valid(entries[next].bucket)) ++next;  // NaN counts last
  const auto saturated = [](hist_wide_count n) { return n > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(n); };
  for (size_t i = 0; i < nbounds; ++i) {
    const double bound = bounds[i];
    while (next < entries.size() && share_below(entries[next].bucket, bound) == 1.0) below += entries[next++].count;
    const hist_wide_count partial =
        next < entries.size() ? hist_cumulative_share(entries[next].count, share_below(entries[next].bucket, bound)) : 0;
    const hist_wide_count cumulative = below + partial;
    counts[i] = saturated(cumulative - previous);
    previous = cumulative;
  }
  counts[nbounds] = saturated(total - previous);
  return 0;
}

}  // extern "C"
