/* Histograms of other systems' bucket layouts: OpenTelemetry's exponential
 * buckets, and explicit bounds with a count per bin (Prometheus classic
 * histograms, OpenTelemetry explicit-bucket histograms).  The library does
 * the conversion; this file checks the SQL arguments and names what is
 * wrong with them. */
#include "postgres.h"

#include "catalog/pg_type.h"
#include "fmgr.h"

#include "varrow_extension.h"

/* The counts of a bigint[] argument as unsigned 64-bit counts. */
static uint64_t *varrow_counts_argument(ArrayType *array, const char *what, int *n) {
  Datum *elements = varrow_vector_elements(array, INT8OID, what, n);
  uint64_t *counts = palloc(sizeof(uint64_t) * (*n + 1));
  for (int i = 0; i < *n; ++i) {
    const int64 count = DatumGetInt64(elements[i]);
    if (count < 0)
      ereport(ERROR, (errcode(ERRCODE_INVALID_PARAMETER_VALUE), errmsg("%s must not be negative", what),
                      errdetail("Element %d is " INT64_FORMAT ".", i + 1, count)));
    counts[i] = (uint64_t)count;
  }
  return counts;
}

/* varrow_from_exponential(scale, zero_count, positive_offset, positive_counts,
 * negative_offset, negative_counts) */
PG_FUNCTION_INFO_V1(varrow_from_exponential);
Datum varrow_from_exponential(PG_FUNCTION_ARGS) {
  const int64 zero_count = PG_GETARG_INT64(1);
  int positive_length, negative_length;
  hist_exponential e;
  histogram *h;
  if (zero_count < 0)
    ereport(ERROR, (errcode(ERRCODE_INVALID_PARAMETER_VALUE),
                    errmsg("zero count must not be negative: " INT64_FORMAT, zero_count)));
  e.scale = PG_GETARG_INT32(0);
  e.zero_count = (uint64_t)zero_count;
  e.positive.offset = PG_GETARG_INT32(2);
  e.positive.counts = varrow_counts_argument(PG_GETARG_ARRAYTYPE_P(3), "positive bucket counts", &positive_length);
  e.positive.length = (uint64_t)positive_length;
  e.negative.offset = PG_GETARG_INT32(4);
  e.negative.counts = varrow_counts_argument(PG_GETARG_ARRAYTYPE_P(5), "negative bucket counts", &negative_length);
  e.negative.length = (uint64_t)negative_length;
  h = hist_from_exponential(&e, &varrow_allocator);
  if (h == NULL)
    ereport(ERROR, (errcode(ERRCODE_INVALID_PARAMETER_VALUE), errmsg("invalid exponential histogram"),
                    errdetail("The scale must lie in %d..%d, every bucket index (offset plus position) "
                              "below 2^31, and the total count below 2^64.",
                              HIST_EXPONENTIAL_MIN_SCALE, HIST_EXPONENTIAL_MAX_SCALE)));
  PG_RETURN_BYTEA_P(varrow_from_histogram(h));
}

/* varrow_from_explicit_bounds(bounds, counts) */
PG_FUNCTION_INFO_V1(varrow_from_explicit_bounds);
Datum varrow_from_explicit_bounds(PG_FUNCTION_ARGS) {
  int nbounds, ncounts;
  Datum *bound_elements = varrow_vector_elements(PG_GETARG_ARRAYTYPE_P(0), FLOAT8OID, "bounds", &nbounds);
  const uint64_t *counts = varrow_counts_argument(PG_GETARG_ARRAYTYPE_P(1), "bucket counts", &ncounts);
  double *bounds = palloc(sizeof(double) * (nbounds + 1));
  histogram *h;
  for (int i = 0; i < nbounds; ++i) bounds[i] = DatumGetFloat8(bound_elements[i]);
  /* Bins reach from minus to plus infinity: one more bin than bounds. */
  if (ncounts != nbounds + 1)
    ereport(ERROR, (errcode(ERRCODE_INVALID_PARAMETER_VALUE), errmsg("explicit bounds need one count more than bounds"),
                    errdetail("There are %d bounds and %d counts.", nbounds, ncounts)));
  h = hist_from_explicit_bounds(bounds, (size_t)nbounds, counts, (size_t)ncounts, &varrow_allocator);
  if (h == NULL)
    ereport(ERROR, (errcode(ERRCODE_INVALID_PARAMETER_VALUE), errmsg("invalid explicit-bound histogram"),
                    errdetail("The bounds must be finite and strictly ascending, and the total count below 2^64.")));
  PG_RETURN_BYTEA_P(varrow_from_histogram(h));
}
