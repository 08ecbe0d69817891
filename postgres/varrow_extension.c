/* The PostgreSQL type varrow (a log-linear histogram stored as its compact
 * serialized record) and the functions that query it; the aggregates are in
 * varrow_aggregate_state.c.
 *
 * All histogram memory comes from palloc: the library's allocator record
 * below allocates in CurrentMemoryContext. */
#include "postgres.h"

#include "catalog/pg_type.h"
#include "fmgr.h"
#include "funcapi.h"
#include "libpq/pqformat.h"
#include "utils/array.h"
#include "utils/builtins.h"
#include "utils/lsyscache.h"
#include "utils/numeric.h"
#include "utils/tuplestore.h"

#include <math.h>

#include "varrow_extension.h"

PG_MODULE_MAGIC;

/* ---- Memory ------------------------------------------------------------- */

static void *varrow_palloc(size_t size) { return palloc(size); }

static void *varrow_palloc0(size_t nmemb, size_t size) {
  if (size != 0 && nmemb > MaxAllocSize / size)
    ereport(ERROR, (errcode(ERRCODE_PROGRAM_LIMIT_EXCEEDED), errmsg("varrow histogram too large")));
  return palloc0(nmemb * size);
}

/* The library hands null pointers to free (absent index pages); pfree does not take them. */
static void varrow_pfree(void *ptr) {
  if (ptr != NULL) pfree(ptr);
}

const hist_allocator varrow_allocator = {varrow_palloc, varrow_palloc0, varrow_pfree};

/* ---- Stored values ------------------------------------------------------- */

bytea *varrow_from_histogram(const histogram *h) {
  const ssize_t length = hist_serialize_estimate(h);
  bytea *result = (bytea *)palloc(VARHDRSZ + length);
  if (hist_serialize(h, VARDATA(result), length) != length) elog(ERROR, "could not serialize varrow histogram");
  SET_VARSIZE(result, VARHDRSZ + length);
  return result;
}

/* Reads a record into a new histogram of CurrentMemoryContext; false unless
 * the record is exactly one valid histogram. */
bool varrow_read_record(const char *record, size_t length, histogram **result) {
  histogram *h = hist_alloc_nbins_with_allocator(1, &varrow_allocator);
  *result = h;
  return hist_deserialize(h, record, (ssize_t)length) == (ssize_t)length;
}

histogram *varrow_to_histogram(const bytea *value) {
  histogram *h;
  if (!varrow_read_record(VARDATA_ANY(value), VARSIZE_ANY_EXHDR(value), &h))
    ereport(ERROR, (errcode(ERRCODE_DATA_CORRUPTED), errmsg("corrupted varrow value")));
  return h;
}

Datum varrow_uint64_to_numeric(uint64 count) {
  char digits[MAXINT8LEN + 2];
  if (count <= (uint64)PG_INT64_MAX) return NumericGetDatum(int64_to_numeric((int64)count));
  snprintf(digits, sizeof digits, UINT64_FORMAT, count);
  return DirectFunctionCall3(numeric_in, CStringGetDatum(digits), ObjectIdGetDatum(InvalidOid), Int32GetDatum(-1));
}

/* ---- Input and output ---------------------------------------------------- */

PG_FUNCTION_INFO_V1(varrow_in);
Datum varrow_in(PG_FUNCTION_ARGS) {
  const char *text = PG_GETARG_CSTRING(0);
  histogram *h = hist_alloc_nbins_with_allocator(1, &varrow_allocator);
  if (hist_deserialize_b64(h, text, strlen(text)) < 0)
    ereport(ERROR, (errcode(ERRCODE_INVALID_TEXT_REPRESENTATION),
                    errmsg("invalid input syntax for type %s: \"%s\"", "varrow", text),
                    errdetail("A varrow value is the base64 text of one serialized histogram.")));
  PG_RETURN_BYTEA_P(varrow_from_histogram(h));
}

PG_FUNCTION_INFO_V1(varrow_out);
Datum varrow_out(PG_FUNCTION_ARGS) {
  /* An aggregate state is written from its histogram, not flattened first:
   * Citus sends every partial state from its workers as this text. */
  const histogram *h = varrow_datum_histogram(PG_GETARG_DATUM(0));
  const ssize_t capacity = hist_serialize_b64_estimate(h);
  char *text = palloc(capacity + 1);
  const ssize_t length = hist_serialize_b64(h, text, capacity);
  if (length <= 0) elog(ERROR, "could not encode varrow histogram");
  text[length] = '\0';
  PG_RETURN_CSTRING(text);
}

bytea *varrow_from_record(const char *record, size_t length) {
  histogram *h;
  if (!varrow_read_record(record, length, &h))
    ereport(ERROR, (errcode(ERRCODE_INVALID_BINARY_REPRESENTATION), errmsg("invalid binary varrow record"),
                    errdetail("A varrow record is a 2-byte bucket count and one record per bucket, "
                              "as varrow_send writes it.")));
  return varrow_from_histogram(h);
}

PG_FUNCTION_INFO_V1(varrow_recv);
Datum varrow_recv(PG_FUNCTION_ARGS) {
  StringInfo message = (StringInfo)PG_GETARG_POINTER(0);
  bytea *value = varrow_from_record(message->data + message->cursor, message->len - message->cursor);
  message->cursor = message->len;
  PG_RETURN_BYTEA_P(value);
}

PG_FUNCTION_INFO_V1(varrow_send);
Datum varrow_send(PG_FUNCTION_ARGS) {
  const bytea *value = PG_GETARG_VARROW(0);
  StringInfoData message;
  pq_begintypsend(&message);
  pq_sendbytes(&message, VARDATA_ANY(value), VARSIZE_ANY_EXHDR(value));
  PG_RETURN_BYTEA_P(pq_endtypsend(&message));
}

void varrow_accumulate(histogram *target, const histogram *source) {
  if (hist_accumulate(target, &source, 1) < 0)
    ereport(ERROR, (errcode(ERRCODE_PROGRAM_LIMIT_EXCEEDED), errmsg("varrow histogram would exceed 65535 buckets")));
}

/* ---- Arithmetic ------------------------------------------------------------ */

PG_FUNCTION_INFO_V1(varrow_add);
Datum varrow_add(PG_FUNCTION_ARGS) {
  histogram *sum = varrow_to_histogram(PG_GETARG_VARROW(0));
  varrow_accumulate(sum, varrow_to_histogram(PG_GETARG_VARROW(1)));
  PG_RETURN_BYTEA_P(varrow_from_histogram(sum));
}

/* Counts stop at 0, as in the library: a bucket missing from the first value
 * stays missing, and the inexact-subtraction status is not an error here. */
PG_FUNCTION_INFO_V1(varrow_subtract);
Datum varrow_subtract(PG_FUNCTION_ARGS) {
  histogram *difference = varrow_to_histogram(PG_GETARG_VARROW(0));
  const histogram *subtrahend = varrow_to_histogram(PG_GETARG_VARROW(1));
  hist_subtract(difference, &subtrahend, 1);
  PG_RETURN_BYTEA_P(varrow_from_histogram(difference));
}

/* ---- Counts and moments ------------------------------------------------------ */

PG_FUNCTION_INFO_V1(varrow_count);
Datum varrow_count(PG_FUNCTION_ARGS) {
  return varrow_uint64_to_numeric(hist_sample_count(varrow_to_histogram(PG_GETARG_VARROW(0))));
}

/* The count on one side of the threshold given as the second argument. */
static Datum varrow_count_beside(FunctionCallInfo fcinfo, uint64_t (*count)(const histogram *, double)) {
  return varrow_uint64_to_numeric(count(varrow_to_histogram(PG_GETARG_VARROW(0)), PG_GETARG_FLOAT8(1)));
}

PG_FUNCTION_INFO_V1(varrow_count_below);
Datum varrow_count_below(PG_FUNCTION_ARGS) { return varrow_count_beside(fcinfo, hist_approx_count_below); }

PG_FUNCTION_INFO_V1(varrow_count_above);
Datum varrow_count_above(PG_FUNCTION_ARGS) { return varrow_count_beside(fcinfo, hist_approx_count_above); }

PG_FUNCTION_INFO_V1(varrow_mean);
Datum varrow_mean(PG_FUNCTION_ARGS) {
  PG_RETURN_FLOAT8(hist_approx_mean(varrow_to_histogram(PG_GETARG_VARROW(0))));
}

PG_FUNCTION_INFO_V1(varrow_stddev);
Datum varrow_stddev(PG_FUNCTION_ARGS) {
  PG_RETURN_FLOAT8(hist_approx_stddev(varrow_to_histogram(PG_GETARG_VARROW(0))));
}

PG_FUNCTION_INFO_V1(varrow_buckets);
Datum varrow_buckets(PG_FUNCTION_ARGS) {
  const histogram *h = varrow_to_histogram(PG_GETARG_VARROW(0));
  ReturnSetInfo *result = (ReturnSetInfo *)fcinfo->resultinfo;
  const int buckets = hist_bucket_count(h);
  InitMaterializedSRF(fcinfo, 0);
  for (int i = 0; i < buckets; ++i) {
    double value;
    uint64 count;
    Datum columns[2];
    bool nulls[2] = {false, false};
    hist_bucket_idx(h, i, &value, &count);
    columns[0] = Float8GetDatum(value);
    columns[1] = varrow_uint64_to_numeric(count);
    tuplestore_putvalues(result->setResult, result->setDesc, columns, nulls);
  }
  return (Datum)0;
}

/* ---- Quantiles ------------------------------------------------------------------ */

/* The library's default estimator, hist_approx_quantile: the sample of rank
 * ceil(q x N).  Probabilities outside 0..1 (NaN included, as percentile_cont
 * rejects it) and lists out of ascending order are errors. */
static void varrow_quantiles_of(const histogram *h, const double *probabilities, int n, double *quantiles) {
  for (int i = 0; i < n; ++i)
    if (!(probabilities[i] >= 0.0 && probabilities[i] <= 1.0))
      ereport(ERROR, (errcode(ERRCODE_NUMERIC_VALUE_OUT_OF_RANGE),
                      errmsg("quantile probability %g is not between 0 and 1", probabilities[i])));
  if (hist_approx_quantile(h, probabilities, n, quantiles) != 0)
    ereport(ERROR, (errcode(ERRCODE_INVALID_PARAMETER_VALUE),
                    errmsg("quantile probabilities must be in ascending order")));
}

PG_FUNCTION_INFO_V1(varrow_quantile);
Datum varrow_quantile(PG_FUNCTION_ARGS) {
  const double probability = PG_GETARG_FLOAT8(1);
  double quantile;
  varrow_quantiles_of(varrow_to_histogram(PG_GETARG_VARROW(0)), &probability, 1, &quantile);
  PG_RETURN_FLOAT8(quantile);
}

Datum *varrow_vector_elements(ArrayType *array, Oid element_type, const char *what, int *n) {
  Datum *elements;
  bool *nulls;
  int16 length;
  bool by_value;
  char alignment;
  /* The empty array is the one array without dimensions. */
  if (ARR_NDIM(array) > 1)
    ereport(ERROR, (errcode(ERRCODE_ARRAY_SUBSCRIPT_ERROR), errmsg("%s must be a one-dimensional array", what),
                    errdetail("The array has %d dimensions.", ARR_NDIM(array))));
  get_typlenbyvalalign(element_type, &length, &by_value, &alignment);
  deconstruct_array(array, element_type, length, by_value, alignment, &elements, &nulls, n);
  for (int i = 0; i < *n; ++i)
    if (nulls[i]) ereport(ERROR, (errcode(ERRCODE_NULL_VALUE_NOT_ALLOWED), errmsg("%s must not be NULL", what)));
  return elements;
}

PG_FUNCTION_INFO_V1(varrow_quantiles);
Datum varrow_quantiles(PG_FUNCTION_ARGS) {
  const histogram *h = varrow_to_histogram(PG_GETARG_VARROW(0));
  int n;
  Datum *elements = varrow_vector_elements(PG_GETARG_ARRAYTYPE_P(1), FLOAT8OID, "quantile probabilities", &n);
  double *probabilities = palloc(sizeof(double) * (n + 1));
  double *quantiles = palloc(sizeof(double) * (n + 1));
  for (int i = 0; i < n; ++i) probabilities[i] = DatumGetFloat8(elements[i]);
  varrow_quantiles_of(h, probabilities, n, quantiles);
  for (int i = 0; i < n; ++i) elements[i] = Float8GetDatum(quantiles[i]);
  if (n == 0) PG_RETURN_ARRAYTYPE_P(construct_empty_array(FLOAT8OID));
  PG_RETURN_ARRAYTYPE_P(construct_array(elements, n, FLOAT8OID, sizeof(float8), FLOAT8PASSBYVAL, TYPALIGN_DOUBLE));
}

PG_FUNCTION_INFO_V1(varrow_inverse_quantile);
Datum varrow_inverse_quantile(PG_FUNCTION_ARGS) {
  const double value = PG_GETARG_FLOAT8(1);
  double share;
  hist_approx_inverse_quantile(varrow_to_histogram(PG_GETARG_VARROW(0)), &value, 1, &share);
  PG_RETURN_FLOAT8(share);
}
