/* A plain C11 program using the installed headers and libraries. */
#include <stdio.h>
#include <stdlib.h>

#include "distfn.h"
#include "varrow.h"

static int check(int ok, const char *what) {
  if (!ok) fprintf(stderr, "c_consumer: %s failed\n", what);
  return ok ? 0 : 1;
}

int main(void) {
  int failures = 0;
  histogram *h = hist_fast_alloc();
  hist_insert(h, 1.0, 2);
  hist_insert_intscale(h, 12345, -3, 1);
  failures += check(hist_sample_count(h) == 3, "hist_sample_count");
  failures += check(hist_bucket_count(h) == 2, "hist_bucket_count");

  histogram *copy = hist_clone(h);
  failures += check(hist_sample_count(copy) == 3, "hist_clone");
  hist_free(copy);
  hist_free(h);

  /* The recorder keeps per-thread state: it must link without the C++ runtime as well. */
  hist_recorder *r = hist_recorder_alloc();
  histogram *interval = hist_alloc();
  hist_recorder_insert(r, 1.0, 2);
  hist_recorder_insert_corrected(r, 30.0, 10.0, 1);
  failures += check(hist_recorder_snapshot(r, interval, 1) == 0, "hist_recorder_snapshot");
  failures += check(hist_sample_count(interval) == 5, "recorder sample count");
  hist_free(interval);
  hist_recorder_free(r);

  char text[9];
  failures += check(hist_bucket_to_string(double_to_hist_bucket(2.3e-4), text) == 8, "hist_bucket_to_string");
  return failures ? EXIT_FAILURE : EXIT_SUCCESS;
}
