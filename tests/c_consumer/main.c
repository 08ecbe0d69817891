/* A plain C11 program using the installed headers and libraries.  Prints
 * the version the headers carry, once every check has passed. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "distfn.h"
#include "varrow.h"

static int check(int ok, const char *what) {
  if (!ok) fprintf(stderr, "c_consumer: %s failed\n", what);
  return ok ? 0 : 1;
}

/* The version string of the headers, the one of the library, and the three
 * numbers agree. */
static int check_version(const char *header_string, const char *library_string, int major, int minor,
                         int patch, const char *what) {
  char numbers[40];
  snprintf(numbers, sizeof numbers, "%d.%d.%d", major, minor, patch);
  return check(strcmp(header_string, library_string) == 0 && strcmp(header_string, numbers) == 0, what);
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

  failures += check_version(VARROW_VERSION_STRING, hist_version(), VARROW_VERSION_MAJOR, VARROW_VERSION_MINOR,
                            VARROW_VERSION_PATCH, "varrow version");
  failures += check_version(DISTFN_VERSION_STRING, distfn_version(), DISTFN_VERSION_MAJOR, DISTFN_VERSION_MINOR,
                            DISTFN_VERSION_PATCH, "distfn version");
  if (failures) return EXIT_FAILURE;
  printf("varrow %s, distfn %s\n", VARROW_VERSION_STRING, DISTFN_VERSION_STRING);
  return EXIT_SUCCESS;
}
