/* Critical values and confidence bounds from the quantile functions: the
 * two-sided 95% t critical value for 9 degrees of freedom, a chi-square upper
 * critical value, and an exact (Clopper-Pearson) interval for 3 successes in
 * 20 trials through the beta quantile. */
#include <stdio.h>
#include <stdlib.h>

#include <distfn.h>

int main(void) {
  double t, chi, lower, upper, y;
  if (invt(0.975, 0.025, 9, &t) != 0) return EXIT_FAILURE;
  if (invchi(0.95, 0.05, 4, &chi) != 0) return EXIT_FAILURE;
  /* Successes k = 3 of n = 20 at 95%: Beta(k, n-k+1) at 0.025 and
   * Beta(k+1, n-k) at 0.975. */
  if (invbet(0.025, 0.975, 3, 18, &lower, &y) != 0) return EXIT_FAILURE;
  if (invbet(0.975, 0.025, 4, 17, &upper, &y) != 0) return EXIT_FAILURE;
  printf("t(9) 97.5%%: %.12f\n", t);
  printf("chi2(4) 95%%: %.12f\n", chi);
  printf("3/20 successes, 95%% interval: [%.12f, %.12f]\n", lower, upper);
  /* An argument error is a status, the front end's number for it. */
  printf("invt with df = 0: status %d\n", invt(0.975, 0.025, 0, &t));
  return EXIT_SUCCESS;
}
