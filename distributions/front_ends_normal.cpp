// Front end of the normal distribution, solved in closed form through the
// standard normal z = (x - mean)/sd: Phi(z) = p.

#include <cmath>

#include "distfn.h"
#include "front_end_common.hpp"

using namespace distfn::front_end;

namespace {

// The sd that gives p is (x - mean)/z, but it exists only when x - mean and z
// share their sign.  Otherwise Phi((x - mean)/sd) only approaches p as sd
// grows without limit (the upper limit), or never moves when x == mean.
void report_standard_deviation(double x, double mean, double z, double *sd, int *status, double *bound) {
  const double candidate = (x - mean) / z;
  if (candidate > 0.0 && std::isfinite(candidate)) {
    *sd = candidate;
    *status = status_success;
  } else if (x == mean) {
    *status = status_at_lower_limit;
    *bound = 0.0;
  } else {
    *status = status_at_upper_limit;
    *bound = largest_parameter;
  }
}

}  // namespace

extern "C" {

void cdfnor(int *which, double *p, double *q, double *x, double *mean, double *sd, int *status, double *bound) {
  *status = status_success;
  const int w = *which;
  if (reject_which(w, 4, status, bound)) return;
  const ArgumentRule rules[] = {
      nonzero_probability(2, p, w != 1), nonzero_probability(3, q, w != 1), any_real(4, x, w != 2),
      any_real(5, mean, w != 3),         positive(6, sd, w != 4),
  };
  if (reject_arguments(rules, status, bound)) return;
  if (w != 1 && reject_unit_sum(*p, *q, status_p_plus_q, status, bound)) return;

  if (w == 1) {
    double z = (*x - *mean) / *sd;
    cumnor(&z, p, q);
    return;
  }
  const double z = dinvnr(p, q);
  switch (w) {
    case 2:
      *x = *sd * z + *mean;
      return;
    case 3:
      *mean = *x - z * *sd;
      return;
    default:
      return report_standard_deviation(*x, *mean, z, sd, status, bound);
  }
}

}  // extern "C"
