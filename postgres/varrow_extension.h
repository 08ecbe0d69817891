/* What the extension's source files share: the palloc allocator record and
 * the conversions between stored values and histograms. */
#ifndef VARROW_EXTENSION_H
#define VARROW_EXTENSION_H

#include "postgres.h"

#include "fmgr.h"

#include "varrow.h"

/* A stored varrow is a varlena holding the record that hist_serialize writes. */
#define PG_GETARG_VARROW(n) ((bytea *)PG_DETOAST_DATUM_PACKED(PG_GETARG_DATUM(n)))

/* Histograms whose memory comes from palloc, in CurrentMemoryContext. */
extern const hist_allocator varrow_allocator;

bytea *varrow_from_histogram(const histogram *h);
bool varrow_read_record(const char *record, size_t length, histogram **result);
histogram *varrow_to_histogram(const bytea *value);
void varrow_accumulate(histogram *target, const histogram *source);

#endif
