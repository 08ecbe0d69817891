// Approximating another system's histogram: a bin says nothing about where
// its samples lie, so its whole count goes in at one representative value.
#include <algorithm>
#include <cmath>

#include "hist_internal.hpp"

namespace {

// Edges of this magnitude or more stand for infinity and open a bin.
constexpr double open_edge = 1e128;
// The edge placements stay within this magnitude.
constexpr double edge_limit = 1e127;
// The edge placements step inside by this fraction of the edge's bucket width:
// far enough to leave an edge that sits on a bucket boundary, never into the
// next bucket.
constexpr double edge_steps_per_bucket_width = 100;
// The step for an edge in the zero bucket, whose width is 0; still below the
// smallest non-zero bucket, so the value counts as zero.
constexpr double zero_bucket_edge_step = 1e-129;

struct bin_edges {
  double inner;  // the edge nearer zero
  double outer;  // the edge farther from zero
};

bin_edges order_edges(const hist_adhoc_bin &bin) {
  if (std::fabs(bin.lower) > std::fabs(bin.upper) || bin.upper < 0) return {bin.upper, bin.lower};
  return {bin.lower, bin.upper};
}

// Signed: negative for a bin below zero.
double signed_width(bin_edges e) { return e.outer - e.inner; }

double arithmetic_middle(bin_edges e) { return 0.5 * signed_width(e) + e.inner; }

// 2AB / (A + B), the same kind of middle as the bucket midpoints, formed as
// A + (B r - A r) with r = A / (A + B).  The difference of the two products
// is kept in extended precision; B r is rounded to double first.
double harmonic_middle(bin_edges e) {
  if (e.inner == 0 || e.outer == 0) return arithmetic_middle(e);
  const long double inner = e.inner;
  const long double outer = e.outer;
  const long double sum = inner + outer;
  if (sum == 0) return 0.0;
  const long double ratio = inner / sum;
  const double outer_share = static_cast<double>(outer * ratio);
  return static_cast<double>(inner + (outer_share - inner * ratio));
}

double edge_step(double edge) {
  const double width = hist_bucket_to_double_bin_width(double_to_hist_bucket(edge));
  return width == 0 ? zero_bucket_edge_step : width / edge_steps_per_bucket_width;
}

double near_outer_edge(bin_edges e) {
  if (e.inner > edge_limit) return open_edge;
  if (e.inner < -edge_limit) return -open_edge;
  if (e.outer > edge_limit) return edge_limit;
  if (e.outer < -edge_limit) return -edge_limit;
  const double step = edge_step(e.outer);
  return e.outer > 0 ? e.outer - step : e.outer + step;
}

// Limits the outer edge as well, which narrows the width the next bin sees.
double near_inner_edge(bin_edges &e) {
  if (e.inner > edge_limit) return open_edge;
  if (e.inner < -edge_limit) return -open_edge;
  if (e.outer > edge_limit) e.outer = edge_limit;
  if (e.outer < -edge_limit) e.outer = -edge_limit;
  const double step = edge_step(e.inner);
  return e.inner > 0 ? e.inner + step : e.inner - step;
}

double representative_value(int mode, bin_edges &e) {
  switch (mode) {
    case HIST_ADHOC_ARITHMETIC_MID:
      return arithmetic_middle(e);
    case HIST_ADHOC_HARMONIC_MID:
      return harmonic_middle(e);
    case HIST_ADHOC_OUTER_EDGE:
      return near_outer_edge(e);
    case HIST_ADHOC_INNER_EDGE:
      return near_inner_edge(e);
    default:
      return 0.0;
  }
}

// An open first bin is only recognised with two closed bins after it.
constexpr uint64_t min_bins_for_open_first = 3;

bool is_open_first(const hist_adhoc_bin *bins, uint64_t nbins, uint64_t index) {
  return index == 0 && nbins >= min_bins_for_open_first && bins[0].lower <= -open_edge;
}

bool is_open_later(const hist_adhoc_bin *bins, uint64_t index) {
  return index != 0 && bins[index].upper >= open_edge;
}

}  // namespace

double hist_adhoc_placement(int mode, const hist_adhoc_bin *bins, uint64_t nbins, uint64_t index,
                            double *prev_width) {
  const hist_adhoc_bin &bin = bins[index];
  if (bin.lower == 0 && bin.upper == 0) {
    *prev_width = 0;
    return 0.0;
  }
  bin_edges edges = order_edges(bin);
  const double value = representative_value(mode, edges);
  const double previous_width = *prev_width;
  *prev_width = signed_width(edges);
  // An open bin has no middle: its samples go one neighbouring bin width
  // beyond its finite edge.
  if (is_open_first(bins, nbins, index))
    return edges.inner - std::min(std::fabs(bins[1].upper - bins[1].lower), std::fabs(edges.outer));
  if (is_open_later(bins, index)) return edges.inner + std::min(edges.inner, previous_width);
  return value;
}

extern "C" histogram *hist_create_approximation_from_adhoc_with_allocator(int mode, const hist_adhoc_bin *bins,
                                                                         uint64_t nbins,
                                                                         const hist_allocator *allocator) {
  if (bins == nullptr) nbins = 0;
  // Room for a bucket per bin, and for every bucket there is from 46,082
  // bins on: no insertion grows the array, so none can fail.  Capped before
  // narrowing to int, so a huge count cannot wrap.
  const int capacity = static_cast<int>(std::min<uint64_t>(nbins, hist_max_conversion_buckets));
  histogram *h = hist_alloc_nbins_with_allocator(capacity, allocator);
  if (h == nullptr) return nullptr;
  double prev_width = 0;
  for (uint64_t i = 0; i < nbins; ++i)
    hist_insert(h, hist_adhoc_placement(mode, bins, nbins, i, &prev_width), bins[i].count);
  return h;
}

extern "C" histogram *hist_create_approximation_from_adhoc(int mode, const hist_adhoc_bin *bins, uint64_t nbins) {
  return hist_create_approximation_from_adhoc_with_allocator(mode, bins, nbins, &default_allocator);
}
