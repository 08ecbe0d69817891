/* What the extension's source files share: the palloc allocator record and
 * the conversions between stored values and histograms. */
#ifndef VARROW_EXTENSION_H
#define VARROW_EXTENSION_H

#include "postgres.h"

#include "fmgr.h"
#include "utils/array.h"

#include "varrow.h"

/* A stored varrow is a varlena holding the record that hist_serialize writes.
 * Every value is made by varrow_from_histogram, so a stored record lists each
 * bucket once, in bucket order, with a non-zero count and the fewest count
 * bytes: equal histograms have equal records. */
#define PG_GETARG_VARROW(n) ((bytea *)PG_DETOAST_DATUM_PACKED(PG_GETARG_DATUM(n)))

/* Histograms whose memory comes from palloc, in CurrentMemoryContext. */
extern const hist_allocator varrow_allocator;

bytea *varrow_from_histogram(const histogram *h);
bool varrow_read_record(const char *record, size_t length, histogram **result);
/* A new histogram of CurrentMemoryContext; an error for a corrupted value. */
histogram *varrow_to_histogram(const bytea *value);
/* The value of a record from outside (binary input, bytea), read and
 * validated as hist_deserialize reads it; an error unless the bytes are
 * exactly one valid record. */
bytea *varrow_from_record(const char *record, size_t length);
void varrow_accumulate(histogram *target, const histogram *source);
/* A count as numeric: counts may pass the range of bigint. */
Datum varrow_uint64_to_numeric(uint64 count);
/* The histogram of a varrow datum: an aggregate state's own (read only), or
 * else one read from the stored record, as varrow_to_histogram reads it. */
const histogram *varrow_datum_histogram(Datum value);

/* The elements of an array argument: an error for more than one dimension or
 * a NULL element, naming the argument as what. */
Datum *varrow_vector_elements(ArrayType *array, Oid element_type, const char *what, int *n);

#endif
