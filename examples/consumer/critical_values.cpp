// Critical values and confidence bounds from distfn.hpp: the same figures as
// critical_values.c, and a failure as an exception.
#include <cstdio>
#include <distfn.hpp>

int main() {
  std::printf("t(9) 97.5%%: %.12f\n", distfn::students_t(9).quantile(0.975));
  std::printf("chi2(4) 95%%: %.12f\n", distfn::chi_squared(4).cquantile(0.05));
  std::printf("3/20 successes, 95%% interval: [%.12f, %.12f]\n", distfn::beta(3, 18).quantile(0.025),
              distfn::beta(4, 17).quantile(0.975));
  try {
    distfn::students_t(0).quantile(0.975);
  } catch (const distfn::Error &e) {
    std::printf("invt with df = 0: status %d\n", e.status());
  }
  return 0;
}
