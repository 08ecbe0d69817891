/* The aggregates varrow_agg and varrow_merge.  Their transition state is the
 * type varrow itself, held while its group aggregates as an expanded object
 * (utils/expandeddatum.h) whose in-memory form is a histogram: a plain one
 * while it holds a few buckets (a grouped aggregate may hold many states,
 * most of them small, and their memory decides when hash aggregation spills
 * to disk), then a fast one, where rows insert in constant time.  The state
 * becomes the stored record only when it leaves the process (a parallel
 * worker's partial result, a Citus worker's partial state sent to the
 * coordinator as its text form) or ends as the aggregate's result.  A transition type that is an ordinary SQL type
 * is what lets Citus compute the aggregates on its workers.
 *
 * The states of one aggregate context live in one memory context, a child
 * of the aggregate context: the executor adopts a read-write object of such
 * a context as the state without copying it, and the aggregate context's
 * reset at the end of a group (or of a hash table) deletes them.  A context
 * per state would make hash aggregation quadratic in the number of groups,
 * as PostgreSQL sums the memory of every child context at each new group.
 * Sharing is sound because the executor deletes a state's context only when
 * a transition function returns another datum than the read-write state it
 * was given, and these functions never do. */
#include "postgres.h"

#include "utils/builtins.h"
#include "utils/expandeddatum.h"
#include "utils/memutils.h"

#include "varrow_extension.h"

typedef struct varrow_state {
  ExpandedObjectHeader header;
  histogram *histogram;
  bool fast;
} varrow_state;

/* ---- The expanded object ------------------------------------------------- */

static Size varrow_state_flat_size(ExpandedObjectHeader *header) {
  return VARHDRSZ + hist_serialize_estimate(((const varrow_state *)header)->histogram);
}

static void varrow_state_flatten(ExpandedObjectHeader *header, void *result, Size allocated_size) {
  const ssize_t length = (ssize_t)(allocated_size - VARHDRSZ);
  if (hist_serialize(((const varrow_state *)header)->histogram, VARDATA(result), length) != length)
    elog(ERROR, "could not serialize varrow histogram");
  SET_VARSIZE(result, allocated_size);
}

static const ExpandedObjectMethods varrow_state_methods = {varrow_state_flat_size, varrow_state_flatten};

static MemoryContext varrow_aggregate_context(FunctionCallInfo fcinfo) {
  MemoryContext context;
  if (!AggCheckCallContext(fcinfo, &context)) elog(ERROR, "varrow aggregate function called in non-aggregate context");
  return context;
}

#define VARROW_STATES_CONTEXT_NAME "varrow aggregate states"

enum {
  varrow_state_initial_buckets = 16,
  /* The most buckets a plain state holds: a group with more has had rows
   * enough that a lookup in constant time is worth the fast index's 2 kB
   * record and 512-byte pages. */
  varrow_state_plain_buckets = 128,
};

/* The states' context of an aggregate context, made with its first state. */
static MemoryContext varrow_states_context(MemoryContext aggregate_context) {
  for (MemoryContext child = aggregate_context->firstchild; child != NULL; child = child->nextchild)
    if (strcmp(child->name, VARROW_STATES_CONTEXT_NAME) == 0) return child;
  return AllocSetContextCreate(aggregate_context, VARROW_STATES_CONTEXT_NAME, ALLOCSET_DEFAULT_SIZES);
}

/* A new, empty state: a plain histogram with room for a few buckets. */
static varrow_state *varrow_state_create(MemoryContext aggregate_context) {
  MemoryContext states = varrow_states_context(aggregate_context);
  MemoryContext caller = MemoryContextSwitchTo(states);
  varrow_state *state = palloc(sizeof *state);
  EOH_init_header(&state->header, &varrow_state_methods, states);
  state->histogram = hist_alloc_nbins_with_allocator(varrow_state_initial_buckets, &varrow_allocator);
  state->fast = false;
  MemoryContextSwitchTo(caller);
  return state;
}

/* The state that a varrow datum's expanded form holds, or NULL for a flat
 * (stored) value. */
static varrow_state *varrow_state_of(Datum value) {
  ExpandedObjectHeader *header;
  if (!VARATT_IS_EXTERNAL_EXPANDED(DatumGetPointer(value))) return NULL;
  header = DatumGetEOHP(value);
  return header->eoh_methods == &varrow_state_methods ? (varrow_state *)header : NULL;
}

static Datum varrow_state_datum(varrow_state *state) { return EOHPGetRWDatum(&state->header); }

/* Adds a stored record's buckets into the state through the library's
 * reader of the format: a fast state's index finds each bucket in constant
 * time, and nothing is allocated unless a bucket is new to the state.  Bytes left
 * after the record make the value as corrupted as a broken record does (the
 * error discards the state with the query). */
static void varrow_add_record(histogram *state, const bytea *value) {
  const ssize_t length = (ssize_t)VARSIZE_ANY_EXHDR(value);
  if (hist_deserialize_add(state, VARDATA_ANY(value), length) != length)
    ereport(ERROR, (errcode(ERRCODE_DATA_CORRUPTED), errmsg("corrupted varrow value")));
}

/* A plain state past varrow_state_plain_buckets moves into a fast
 * histogram; called in the states' context after every change. */
static void varrow_state_settle(varrow_state *state) {
  histogram *fast;
  if (state->fast || hist_bucket_count(state->histogram) <= varrow_state_plain_buckets) return;
  fast = hist_fast_alloc_nbins_with_allocator(hist_bucket_count(state->histogram), &varrow_allocator);
  varrow_accumulate(fast, state->histogram);
  hist_free(state->histogram);
  state->histogram = fast;
  state->fast = true;
}

/* Adds a varrow value, stored or a state, into the state. */
static void varrow_state_add(varrow_state *state, Datum value) {
  const varrow_state *other = varrow_state_of(value);
  const bytea *record = other == NULL ? (const bytea *)PG_DETOAST_DATUM_PACKED(value) : NULL;
  MemoryContext caller = MemoryContextSwitchTo(state->header.eoh_context);
  if (other != NULL)
    varrow_accumulate(state->histogram, other->histogram);
  else
    varrow_add_record(state->histogram, record);
  varrow_state_settle(state);
  MemoryContextSwitchTo(caller);
}

/* The state to update: the read-write object that the executor hands back
 * row after row, or a new one on the group's first row.  A state that comes
 * flattened or read-only is copied, never changed. */
static varrow_state *varrow_state_for_update(FunctionCallInfo fcinfo) {
  MemoryContext context = varrow_aggregate_context(fcinfo);
  varrow_state *state;
  if (!PG_ARGISNULL(0) && VARATT_IS_EXTERNAL_EXPANDED_RW(DatumGetPointer(PG_GETARG_DATUM(0))) &&
      (state = varrow_state_of(PG_GETARG_DATUM(0))) != NULL)
    return state;
  state = varrow_state_create(context);
  if (!PG_ARGISNULL(0)) varrow_state_add(state, PG_GETARG_DATUM(0));
  return state;
}

static Datum varrow_unchanged_state(FunctionCallInfo fcinfo) {
  varrow_aggregate_context(fcinfo);
  if (PG_ARGISNULL(0)) PG_RETURN_NULL();
  PG_RETURN_DATUM(PG_GETARG_DATUM(0));
}

/* The state as a stored record: the aggregate's result. */
static bytea *varrow_state_record(Datum value) {
  const varrow_state *state = varrow_state_of(value);
  return state == NULL ? (bytea *)PG_DETOAST_DATUM_COPY(value) : varrow_from_histogram(state->histogram);
}

const histogram *varrow_datum_histogram(Datum value) {
  const varrow_state *state = varrow_state_of(value);
  return state != NULL ? state->histogram : varrow_to_histogram((const bytea *)PG_DETOAST_DATUM_PACKED(value));
}

/* ---- Transition, combine and final functions --------------------------- */

static Datum varrow_agg_add(FunctionCallInfo fcinfo, double value, uint64 count) {
  varrow_state *state = varrow_state_for_update(fcinfo);
  if (count != 0) {
    MemoryContext caller = MemoryContextSwitchTo(state->header.eoh_context);
    hist_insert(state->histogram, value, count);
    varrow_state_settle(state);
    MemoryContextSwitchTo(caller);
  }
  return varrow_state_datum(state);
}

/* The count argument of the two-argument forms. */
static uint64 varrow_agg_count_argument(FunctionCallInfo fcinfo) {
  const int64 count = PG_GETARG_INT64(2);
  if (count < 0)
    ereport(ERROR, (errcode(ERRCODE_INVALID_PARAMETER_VALUE),
                    errmsg("varrow_agg count must not be negative: " INT64_FORMAT, count)));
  return (uint64)count;
}

/* An interval counts as its seconds, as date_part('epoch', ...) gives them
 * (a month of 30 days, a year of 365.25); the field name is made once per
 * call site. */
static double varrow_interval_seconds(FunctionCallInfo fcinfo) {
  FmgrInfo *call_site = fcinfo->flinfo;
  if (call_site->fn_extra == NULL) {
    MemoryContext caller = MemoryContextSwitchTo(call_site->fn_mcxt);
    call_site->fn_extra = cstring_to_text("epoch");
    MemoryContextSwitchTo(caller);
  }
  return DatumGetFloat8(DirectFunctionCall2(interval_part, PointerGetDatum(call_site->fn_extra), PG_GETARG_DATUM(1)));
}

PG_FUNCTION_INFO_V1(varrow_agg_transfn);
Datum varrow_agg_transfn(PG_FUNCTION_ARGS) {
  if (PG_ARGISNULL(1)) return varrow_unchanged_state(fcinfo);
  return varrow_agg_add(fcinfo, PG_GETARG_FLOAT8(1), 1);
}

PG_FUNCTION_INFO_V1(varrow_agg_count_transfn);
Datum varrow_agg_count_transfn(PG_FUNCTION_ARGS) {
  if (PG_ARGISNULL(1) || PG_ARGISNULL(2)) return varrow_unchanged_state(fcinfo);
  return varrow_agg_add(fcinfo, PG_GETARG_FLOAT8(1), varrow_agg_count_argument(fcinfo));
}

PG_FUNCTION_INFO_V1(varrow_agg_interval_transfn);
Datum varrow_agg_interval_transfn(PG_FUNCTION_ARGS) {
  if (PG_ARGISNULL(1)) return varrow_unchanged_state(fcinfo);
  return varrow_agg_add(fcinfo, varrow_interval_seconds(fcinfo), 1);
}

PG_FUNCTION_INFO_V1(varrow_agg_interval_count_transfn);
Datum varrow_agg_interval_count_transfn(PG_FUNCTION_ARGS) {
  if (PG_ARGISNULL(1) || PG_ARGISNULL(2)) return varrow_unchanged_state(fcinfo);
  return varrow_agg_add(fcinfo, varrow_interval_seconds(fcinfo), varrow_agg_count_argument(fcinfo));
}

/* varrow_merge's transition and every aggregate's combine function: the
 * second argument, a stored value or another state, added into the state. */
static Datum varrow_state_merge(FunctionCallInfo fcinfo) {
  varrow_state *state;
  if (PG_ARGISNULL(1)) return varrow_unchanged_state(fcinfo);
  state = varrow_state_for_update(fcinfo);
  varrow_state_add(state, PG_GETARG_DATUM(1));
  return varrow_state_datum(state);
}

PG_FUNCTION_INFO_V1(varrow_state_combine);
Datum varrow_state_combine(PG_FUNCTION_ARGS) { return varrow_state_merge(fcinfo); }

PG_FUNCTION_INFO_V1(varrow_state_final);
Datum varrow_state_final(PG_FUNCTION_ARGS) {
  varrow_aggregate_context(fcinfo);
  PG_RETURN_BYTEA_P(varrow_state_record(PG_GETARG_DATUM(0)));
}

/* ---- Version 1.0's aggregates -------------------------------------------- */

/* Version 1.0 declared the state internal, with these serialization
 * functions for parallel workers; the functions above take its states too,
 * so a database keeps working until ALTER EXTENSION varrow UPDATE. */
PG_FUNCTION_INFO_V1(varrow_merge_transfn);
Datum varrow_merge_transfn(PG_FUNCTION_ARGS) { return varrow_state_merge(fcinfo); }

/* A serialized state is the record that is also the aggregate's result. */
PG_FUNCTION_INFO_V1(varrow_state_serialize);
Datum varrow_state_serialize(PG_FUNCTION_ARGS) { return varrow_state_final(fcinfo); }

PG_FUNCTION_INFO_V1(varrow_state_deserialize);
Datum varrow_state_deserialize(PG_FUNCTION_ARGS) {
  const bytea *serialized = PG_GETARG_BYTEA_PP(0);
  varrow_state *state = varrow_state_create(varrow_aggregate_context(fcinfo));
  histogram *h;
  MemoryContext caller;
  if (!varrow_read_record(VARDATA_ANY(serialized), VARSIZE_ANY_EXHDR(serialized), &h))
    ereport(ERROR, (errcode(ERRCODE_DATA_CORRUPTED), errmsg("corrupted varrow aggregate state")));
  caller = MemoryContextSwitchTo(state->header.eoh_context);
  varrow_accumulate(state->histogram, h);
  varrow_state_settle(state);
  MemoryContextSwitchTo(caller);
  return varrow_state_datum(state);
}
