-- varrow 1.0 to 1.1: the aggregates' transition state becomes the type
-- varrow instead of internal, so that Citus can compute them on its workers.
-- An aggregate's state type cannot be altered: the aggregates are made anew
-- (a view that uses them must be dropped before the update and made again).
\echo Use "ALTER EXTENSION varrow UPDATE TO '1.1'" to load this file. \quit

DROP AGGREGATE varrow_agg(double precision);
DROP AGGREGATE varrow_agg(double precision, bigint);
DROP AGGREGATE varrow_merge(varrow);
DROP FUNCTION varrow_agg_transfn(internal, double precision);
DROP FUNCTION varrow_agg_count_transfn(internal, double precision, bigint);
DROP FUNCTION varrow_merge_transfn(internal, varrow);
DROP FUNCTION varrow_state_combine(internal, internal);
DROP FUNCTION varrow_state_serialize(internal);
DROP FUNCTION varrow_state_deserialize(bytea, internal);
DROP FUNCTION varrow_state_final(internal);

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
