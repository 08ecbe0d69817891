/* Casts of the type varrow and the project's version.  Comparison and
 * hashing need no code of their own: stored records are canonical (see
 * varrow_extension.h), so the script binds them to the server's byte-wise
 * functions of bytea. */
#include "postgres.h"

#include "fmgr.h"
#include "utils/builtins.h"

#include "varrow_extension.h"

/* A bytea becomes a varrow value only through the validating reader; the
 * other way is binary coercion, since a value is its record. */
PG_FUNCTION_INFO_V1(varrow_from_bytea);
Datum varrow_from_bytea(PG_FUNCTION_ARGS) {
  const bytea *record = PG_GETARG_BYTEA_PP(0);
  PG_RETURN_BYTEA_P(varrow_from_record(VARDATA_ANY(record), VARSIZE_ANY_EXHDR(record)));
}

/* The version of the project, as the programs and the libraries report it;
 * the extension's own version (pg_extension.extversion) is that of its SQL. */
PG_FUNCTION_INFO_V1(varrow_version);
Datum varrow_version(PG_FUNCTION_ARGS) { PG_RETURN_TEXT_P(cstring_to_text(hist_version())); }
