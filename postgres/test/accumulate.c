/* Reads base64 histograms, one per line of standard input, merges them with
 * hist_accumulate and prints the result as base64: the reference that the
 * extension's varrow_merge must match byte for byte. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "varrow.h"

enum { line_capacity = 1 << 18 };

int main(void) {
  static char line[line_capacity];
  histogram *total = hist_alloc();
  histogram *input = hist_alloc();
  const histogram *sources[1] = {input};
  char *text;
  ssize_t capacity, length;
  while (fgets(line, sizeof line, stdin) != NULL) {
    if (hist_deserialize_b64(input, line, strlen(line)) < 0 || hist_accumulate(total, sources, 1) < 0) {
      fprintf(stderr, "histogram invalid: %s", line);
      return 1;
    }
  }
  capacity = hist_serialize_b64_estimate(total);
  text = malloc((size_t)capacity + 1);
  if (text == NULL) return 1;
  length = hist_serialize_b64(total, text, (size_t)capacity);
  if (length <= 0) return 1;
  text[length] = '\0';
  puts(text);
  free(text);
  hist_free(input);
  hist_free(total);
  return 0;
}
