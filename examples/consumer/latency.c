/* Record request latencies in two histograms (say, two servers), merge them,
 * and print percentiles and the base64 text of the merged histogram. */
#include <stdio.h>
#include <stdlib.h>

#include <varrow.h>

static void record(histogram *h, double first_ms, int n) {
  for (int i = 0; i < n; ++i) hist_insert(h, (first_ms + 0.37 * i) / 1000.0, 1);
}

int main(void) {
  histogram *server_a = hist_fast_alloc();
  histogram *server_b = hist_fast_alloc();
  record(server_a, 2.0, 900);
  record(server_b, 40.0, 100);

  histogram *both = hist_alloc();
  const histogram *sources[] = {server_a, server_b};
  if (hist_accumulate(both, sources, 2) < 0) return EXIT_FAILURE;

  const double q[] = {0.5, 0.9, 0.99};
  double seconds[3];
  if (hist_approx_quantile(both, q, 3, seconds) != 0) return EXIT_FAILURE;
  for (int i = 0; i < 3; ++i) printf("p%g: %g s\n", q[i] * 100, seconds[i]);
  printf("count: %llu\n", (unsigned long long)hist_sample_count(both));

  const ssize_t room = hist_serialize_b64_estimate(both);
  char *text = malloc((size_t)room + 1);
  const ssize_t length = hist_serialize_b64(both, text, (size_t)room);
  if (length <= 0) return EXIT_FAILURE;
  text[length] = '\0';
  printf("%s\n", text);

  free(text);
  hist_free(both);
  hist_free(server_b);
  hist_free(server_a);
  return EXIT_SUCCESS;
}
