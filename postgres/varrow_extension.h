/* What the extension's C files share: the server-side allocator of every
 * histogram, and the conversions between stored values and histograms. */
#ifndef VARROW_EXTENSION_H
#define VARROW_EXTENSION_H

#include "postgres.h"

#include "utils/array.h"

#include "varrow.h"

/* Allocates in CurrentMemoryContext. */
extern const hist_allocator varrow_allocator;

/* A varrow datum is a varlena holding the record that hist_serialize writes.
 * Every value is made by varrow_from_histogram, so a stored record lists each
 * bucket once, in bucket order, with a non-zero count and the fewest count
 * bytes: equal histograms have equal records. */
#define PG_GETARG_VARROW(n) ((bytea *)PG_DETOAST_DATUM_PACKED(PG_GETARG_DATUM(n)))

bytea *varrow_from_histogram(const histogram *h);
/* A new histogram of CurrentMemoryContext; an error for a corrupted value. */
histogram *varrow_to_histogram(const bytea *value);
/* The value of a record from outside (binary input, bytea), read and
 * validated as hist_deserialize reads it; an error unless the bytes are
 * exactly one valid record. */
bytea *varrow_from_record(const char *record, size_t length);

/* The elements of an array argument of 8-byte elements: an error for more
 * than one dimension or a NULL element, naming the argument as what. */
Datum *varrow_vector_elements(ArrayType *array, Oid element_type, const char *what, int *n);

#endif /* VARROW_EXTENSION_H */
