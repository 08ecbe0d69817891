/* Histograms to and from other systems' bucket layouts: OpenTelemetry's
 * exponential buckets, and explicit bounds with a count per bin (Prometheus
 * classic histograms, OpenTelemetry explicit-bucket histograms).  The
 * library does the conversion; this file checks the SQL arguments and names
 * what is wrong with them. */
#include "postgres.h"

#include "access/htup_details.h"
#include "catalog/pg_type.h"
#include "fmgr.h"
#include "funcapi.h"

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

/* The bounds of a double precision[] argument. */
static double *varrow_bounds_argument(ArrayType *array, int *n) {
  Datum *elements = varrow_vector_elements(array, FLOAT8OID, "bounds", n);
  double *bounds = palloc(sizeof(double) * (*n + 1));
  for (int i = 0; i < *n; ++i) bounds[i] = DatumGetFloat8(elements[i]);
  return bounds;
}

/* Counts as a numeric[] (counts may pass the range of bigint). */
static ArrayType *varrow_numeric_array(const uint64_t *counts, uint64_t n) {
  Datum *elements = palloc(sizeof(Datum) * (n + 1));
  for (uint64_t i = 0; i < n; ++i) elements[i] = varrow_uint64_to_numeric(counts[i]);
  return construct_array(elements, (int)n, NUMERICOID, -1, false, TYPALIGN_INT);
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
  const double *bounds = varrow_bounds_argument(PG_GETARG_ARRAYTYPE_P(0), &nbounds);
  const uint64_t *counts = varrow_counts_argument(PG_GETARG_ARRAYTYPE_P(1), "bucket counts", &ncounts);
  histogram *h;
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

/* varrow_to_explicit_bounds(h, bounds): the samples in each of the bins. */
PG_FUNCTION_INFO_V1(varrow_to_explicit_bounds);
Datum varrow_to_explicit_bounds(PG_FUNCTION_ARGS) {
  const histogram *h = varrow_to_histogram(PG_GETARG_VARROW(0));
  int nbounds;
  const double *bounds = varrow_bounds_argument(PG_GETARG_ARRAYTYPE_P(1), &nbounds);
  uint64_t *counts = palloc(sizeof(uint64_t) * (nbounds + 1));
  if (hist_to_explicit_bounds(h, bounds, (size_t)nbounds, counts) != 0)
    ereport(ERROR, (errcode(ERRCODE_INVALID_PARAMETER_VALUE), errmsg("bounds must be finite and strictly ascending")));
  PG_RETURN_ARRAYTYPE_P(varrow_numeric_array(counts, (uint64_t)nbounds + 1));
}

/* The counts of one side at the layout's offset and length. */
static void varrow_exponential_side_storage(hist_exponential_side *side) {
  side->counts = palloc0(sizeof(uint64_t) * (side->length + 1));
}

/* The most counts a side of varrow_to_exponential may ask for: a whole
 * side at the finest scale, a few tens of megabytes of numeric. */
#define VARROW_EXPONENTIAL_MAX_BUCKETS (1 << 20)

/* varrow_to_exponential(h, max_buckets): the histogram at the finest scale
 * whose sides need no more than max_buckets indices each, as the
 * OpenTelemetry SDKs choose it, or -10 when none is that fine. */
PG_FUNCTION_INFO_V1(varrow_to_exponential);
Datum varrow_to_exponential(PG_FUNCTION_ARGS) {
  const histogram *h = varrow_to_histogram(PG_GETARG_VARROW(0));
  const int32 max_buckets = PG_GETARG_INT32(1);
  TupleDesc description;
  hist_exponential e;
  Datum columns[6];
  bool nulls[6] = {false, false, false, false, false, false};
  if (max_buckets < 1 || max_buckets > VARROW_EXPONENTIAL_MAX_BUCKETS)
    ereport(ERROR, (errcode(ERRCODE_INVALID_PARAMETER_VALUE),
                    errmsg("max_buckets must lie in 1..%d: %d", VARROW_EXPONENTIAL_MAX_BUCKETS, max_buckets)));
  if (get_call_result_type(fcinfo, NULL, &description) != TYPEFUNC_COMPOSITE)
    elog(ERROR, "varrow_to_exponential must return a record");
  if (hist_exponential_layout(h, hist_exponential_scale_for(h, (uint64_t)max_buckets), &e) != 0)
    ereport(ERROR, (errcode(ERRCODE_PROGRAM_LIMIT_EXCEEDED),
                    errmsg("the histogram has no exponential layout with 32-bit bucket indices")));
  varrow_exponential_side_storage(&e.positive);
  varrow_exponential_side_storage(&e.negative);
  if (hist_to_exponential(h, &e) != 0) elog(ERROR, "could not convert a varrow histogram to exponential buckets");
  columns[0] = Int32GetDatum(e.scale);
  columns[1] = varrow_uint64_to_numeric(e.zero_count);
  columns[2] = Int32GetDatum(e.positive.offset);
  columns[3] = PointerGetDatum(varrow_numeric_array(e.positive.counts, e.positive.length));
  columns[4] = Int32GetDatum(e.negative.offset);
  columns[5] = PointerGetDatum(varrow_numeric_array(e.negative.counts, e.negative.length));
  PG_RETURN_DATUM(HeapTupleGetDatum(heap_form_tuple(BlessTupleDesc(description), columns, nulls)));
}
