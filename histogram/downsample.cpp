// Thinning by binomial sampling: keeping each sample independently with
// probability p leaves a bucket of n samples with a Binomial(n, p) count.
#include <cmath>
#include <cstdlib>

#include "distfn.h"
#include "hist_internal.hpp"

namespace {

// P[X <= k] for X ~ Binomial(n, p).
double binomial_lower_tail(uint64_t k, uint64_t n, double p) {
  double successes = static_cast<double>(k);
  double trials = static_cast<double>(n);
  double probability = p;
  double complement = 1.0 - p;
  double cum = 0;
  double ccum = 0;
  cumbin(&successes, &trials, &probability, &complement, &cum, &ccum);
  return cum;
}

double thinning_probability(double ratio) {
  if (ratio < 0) return 0;
  if (ratio > 1) return 1;
  return ratio;
}

// Draws the uniform number first, so that the generator advances once per
// non-empty entry whatever p is and a seeded run thins reproducibly.
uint64_t thinned_count(uint64_t n, double p) {
  const double u = drand48();
  if (p == 1) return n;
  if (p == 0) return 0;
  return hist_binomial_inverse(n, p, u, [n, p](uint64_t k) { return binomial_lower_tail(k, n, p); });
}

}  // namespace

extern "C" void hist_downsample(histogram *h, double ratio) {
  if (h == nullptr || h->entries == nullptr || std::isnan(ratio)) return;
  const double p = thinning_probability(ratio);
  bool emptied = false;
  for (int i = 0; i < h->used; ++i) {
    hist_bucket_entry &entry = h->entries[i];
    if (entry.count != 0) entry.count = thinned_count(entry.count, p);
    if (entry.count == 0) emptied = true;
  }
  if (emptied) hist_remove_zeroes(h);
}
