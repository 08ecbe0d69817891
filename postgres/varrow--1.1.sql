-- varrow: log-linear histograms of measured values.
\echo Use "CREATE EXTENSION varrow" to load this file. \quit

-- The type: base64 text in and out (the form histstat reads), the compact
-- serialized record on the wire and on disk.
CREATE TYPE varrow;

CREATE FUNCTION varrow_in(cstring) RETURNS varrow
  AS 'MODULE_PATHNAME' LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE;
CREATE FUNCTION varrow_out(varrow) RETURNS cstring
  AS 'MODULE_PATHNAME' LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE;
CREATE FUNCTION varrow_recv(internal) RETURNS varrow
  AS 'MODULE_PATHNAME' LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE;
CREATE FUNCTION varrow_send(varrow) RETURNS bytea
  AS 'MODULE_PATHNAME' LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE;

CREATE TYPE varrow (
  INPUT = varrow_in,
  OUTPUT = varrow_out,
  RECEIVE = varrow_recv,
  SEND = varrow_send,
  INTERNALLENGTH = VARIABLE,
  STORAGE = extended
);
COMMENT ON TYPE varrow IS 'log-linear histogram: two significant decimal digits and a power of ten per bucket';

-- Aggregate support.  The transition state is the type varrow itself, kept
-- in memory as a histogram while the group aggregates and written as the
-- stored record only when it leaves the process: to a parallel query's
-- leader, or (as its text form) from a Citus worker to the coordinator.
CREATE FUNCTION varrow_agg_transfn(varrow, double precision) RETURNS varrow
  AS 'MODULE_PATHNAME' LANGUAGE C IMMUTABLE PARALLEL SAFE;
CREATE FUNCTION varrow_agg_count_transfn(varrow, double precision, bigint) RETURNS varrow
  AS 'MODULE_PATHNAME' LANGUAGE C IMMUTABLE PARALLEL SAFE;
CREATE FUNCTION varrow_state_combine(varrow, varrow) RETURNS varrow
  AS 'MODULE_PATHNAME' LANGUAGE C IMMUTABLE PARALLEL SAFE;
CREATE FUNCTION varrow_state_final(varrow) RETURNS varrow
  AS 'MODULE_PATHNAME' LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE;

CREATE AGGREGATE varrow_agg(double precision) (
  SFUNC = varrow_agg_transfn,
  STYPE = varrow,
  SSPACE = 4096,
  FINALFUNC = varrow_state_final,
  COMBINEFUNC = varrow_state_combine,
  PARALLEL = SAFE
);
COMMENT ON AGGREGATE varrow_agg(double precision) IS 'histogram of the non-NULL values';

CREATE AGGREGATE varrow_agg(double precision, bigint) (
  SFUNC = varrow_agg_count_transfn,
  STYPE = varrow,
  SSPACE = 4096,
  FINALFUNC = varrow_state_final,
  COMBINEFUNC = varrow_state_combine,
  PARALLEL = SAFE
);
COMMENT ON AGGREGATE varrow_agg(double precision, bigint) IS 'histogram of the non-NULL values, each counted the given number of times';

-- Merging stored histograms is what combining states does.
CREATE AGGREGATE varrow_merge(varrow) (
  SFUNC = varrow_state_combine,
  STYPE = varrow,
  SSPACE = 4096,
  FINALFUNC = varrow_state_final,
  COMBINEFUNC = varrow_state_combine,
  PARALLEL = SAFE
);
COMMENT ON AGGREGATE varrow_merge(varrow) IS 'union of the non-NULL histograms: counts added bucket by bucket, saturating at 2^64 - 1';

-- Arithmetic.
CREATE FUNCTION varrow_add(varrow, varrow) RETURNS varrow
  AS 'MODULE_PATHNAME' LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE;
CREATE OPERATOR + (
  LEFTARG = varrow,
  RIGHTARG = varrow,
  FUNCTION = varrow_add,
  COMMUTATOR = +
);
CREATE FUNCTION varrow_subtract(varrow, varrow) RETURNS varrow
  AS 'MODULE_PATHNAME' LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE;
COMMENT ON FUNCTION varrow_subtract(varrow, varrow) IS 'the first histogram''s counts less the second''s, each stopping at 0';

-- Counts (numeric: a count may pass the range of bigint) and moments.
CREATE FUNCTION varrow_count(varrow) RETURNS numeric
  AS 'MODULE_PATHNAME' LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE;
CREATE FUNCTION varrow_count_below(varrow, double precision) RETURNS numeric
  AS 'MODULE_PATHNAME' LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE;
CREATE FUNCTION varrow_count_above(varrow, double precision) RETURNS numeric
  AS 'MODULE_PATHNAME' LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE;
CREATE FUNCTION varrow_mean(varrow) RETURNS double precision
  AS 'MODULE_PATHNAME' LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE;
CREATE FUNCTION varrow_stddev(varrow) RETURNS double precision
  AS 'MODULE_PATHNAME' LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE;
CREATE FUNCTION varrow_buckets(varrow, OUT value double precision, OUT count numeric) RETURNS SETOF record
  AS 'MODULE_PATHNAME' LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE ROWS 100;

-- Quantiles.
CREATE FUNCTION varrow_quantile(varrow, double precision) RETURNS double precision
  AS 'MODULE_PATHNAME' LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE;
CREATE FUNCTION varrow_quantiles(varrow, double precision[]) RETURNS double precision[]
  AS 'MODULE_PATHNAME' LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE;
CREATE FUNCTION varrow_inverse_quantile(varrow, double precision) RETURNS double precision
  AS 'MODULE_PATHNAME' LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE;
