-- varrow 1.0 to 1.1: the aggregates' transition state becomes the type
-- varrow instead of internal, so that Citus can compute them on its workers.
-- An aggregate's state type cannot be altered: the aggregates are made anew
-- (a view that uses them must be dropped before the update and made again).
-- New: varrow_agg over intervals, the - operator, comparison by content with
-- hash and B-tree operator classes, casts to and from bytea, conversions from
-- and to exponential buckets and explicit bounds, varrow_version().
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

-- varrow_agg over intervals: each interval counts as its seconds, as
-- date_part('epoch', ...) gives them.
CREATE FUNCTION varrow_agg_interval_transfn(varrow, interval) RETURNS varrow
  AS 'MODULE_PATHNAME' LANGUAGE C IMMUTABLE PARALLEL SAFE;
CREATE FUNCTION varrow_agg_interval_count_transfn(varrow, interval, bigint) RETURNS varrow
  AS 'MODULE_PATHNAME' LANGUAGE C IMMUTABLE PARALLEL SAFE;

CREATE AGGREGATE varrow_agg(interval) (
  SFUNC = varrow_agg_interval_transfn,
  STYPE = varrow,
  SSPACE = 4096,
  FINALFUNC = varrow_state_final,
  COMBINEFUNC = varrow_state_combine,
  PARALLEL = SAFE
);
COMMENT ON AGGREGATE varrow_agg(interval) IS 'histogram of the non-NULL intervals in seconds';

CREATE AGGREGATE varrow_agg(interval, bigint) (
  SFUNC = varrow_agg_interval_count_transfn,
  STYPE = varrow,
  SSPACE = 4096,
  FINALFUNC = varrow_state_final,
  COMBINEFUNC = varrow_state_combine,
  PARALLEL = SAFE
);
COMMENT ON AGGREGATE varrow_agg(interval, bigint) IS 'histogram of the non-NULL intervals in seconds, each counted the given number of times';

-- Subtraction as varrow_subtract does it.
CREATE OPERATOR - (
  LEFTARG = varrow,
  RIGHTARG = varrow,
  FUNCTION = varrow_subtract
);

-- Comparison by content: two values are equal when the same buckets hold the
-- same counts.  Stored records are canonical (each bucket once, in bucket
-- order, with the fewest count bytes), so equality, hashing and the order are
-- those of the record's bytes, the server's own functions of bytea.  The
-- order is arbitrary but total and fixed: it serves sorting, count(DISTINCT)
-- and merge joins and says nothing about the distributions.
CREATE FUNCTION varrow_eq(varrow, varrow) RETURNS boolean
  AS 'byteaeq' LANGUAGE internal IMMUTABLE STRICT PARALLEL SAFE LEAKPROOF;
CREATE FUNCTION varrow_ne(varrow, varrow) RETURNS boolean
  AS 'byteane' LANGUAGE internal IMMUTABLE STRICT PARALLEL SAFE LEAKPROOF;
CREATE FUNCTION varrow_lt(varrow, varrow) RETURNS boolean
  AS 'bytealt' LANGUAGE internal IMMUTABLE STRICT PARALLEL SAFE LEAKPROOF;
CREATE FUNCTION varrow_le(varrow, varrow) RETURNS boolean
  AS 'byteale' LANGUAGE internal IMMUTABLE STRICT PARALLEL SAFE LEAKPROOF;
CREATE FUNCTION varrow_gt(varrow, varrow) RETURNS boolean
  AS 'byteagt' LANGUAGE internal IMMUTABLE STRICT PARALLEL SAFE LEAKPROOF;
CREATE FUNCTION varrow_ge(varrow, varrow) RETURNS boolean
  AS 'byteage' LANGUAGE internal IMMUTABLE STRICT PARALLEL SAFE LEAKPROOF;
CREATE FUNCTION varrow_cmp(varrow, varrow) RETURNS integer
  AS 'byteacmp' LANGUAGE internal IMMUTABLE STRICT PARALLEL SAFE LEAKPROOF;
CREATE FUNCTION varrow_hash(varrow) RETURNS integer
  AS 'hashvarlena' LANGUAGE internal IMMUTABLE STRICT PARALLEL SAFE;
CREATE FUNCTION varrow_hash_extended(varrow, bigint) RETURNS bigint
  AS 'hashvarlenaextended' LANGUAGE internal IMMUTABLE STRICT PARALLEL SAFE;

CREATE OPERATOR = (
  LEFTARG = varrow, RIGHTARG = varrow, FUNCTION = varrow_eq,
  COMMUTATOR = =, NEGATOR = <>, RESTRICT = eqsel, JOIN = eqjoinsel, HASHES, MERGES
);
CREATE OPERATOR <> (
  LEFTARG = varrow, RIGHTARG = varrow, FUNCTION = varrow_ne,
  COMMUTATOR = <>, NEGATOR = =, RESTRICT = neqsel, JOIN = neqjoinsel
);
CREATE OPERATOR < (
  LEFTARG = varrow, RIGHTARG = varrow, FUNCTION = varrow_lt,
  COMMUTATOR = >, NEGATOR = >=, RESTRICT = scalarltsel, JOIN = scalarltjoinsel
);
CREATE OPERATOR <= (
  LEFTARG = varrow, RIGHTARG = varrow, FUNCTION = varrow_le,
  COMMUTATOR = >=, NEGATOR = >, RESTRICT = scalarlesel, JOIN = scalarlejoinsel
);
CREATE OPERATOR > (
  LEFTARG = varrow, RIGHTARG = varrow, FUNCTION = varrow_gt,
  COMMUTATOR = <, NEGATOR = <=, RESTRICT = scalargtsel, JOIN = scalargtjoinsel
);
CREATE OPERATOR >= (
  LEFTARG = varrow, RIGHTARG = varrow, FUNCTION = varrow_ge,
  COMMUTATOR = <=, NEGATOR = <, RESTRICT = scalargesel, JOIN = scalargejoinsel
);

CREATE OPERATOR CLASS varrow_ops DEFAULT FOR TYPE varrow USING btree AS
  OPERATOR 1 <, OPERATOR 2 <=, OPERATOR 3 =, OPERATOR 4 >=, OPERATOR 5 >,
  FUNCTION 1 varrow_cmp(varrow, varrow);
CREATE OPERATOR CLASS varrow_hash_ops DEFAULT FOR TYPE varrow USING hash AS
  OPERATOR 1 =,
  FUNCTION 1 varrow_hash(varrow),
  FUNCTION 2 varrow_hash_extended(varrow, bigint);

-- Casts to and from the record as bytea: a value is its record, and a bytea
-- becomes a value only through the validating reader.
CREATE CAST (varrow AS bytea) WITHOUT FUNCTION;
CREATE FUNCTION varrow(bytea) RETURNS varrow
  AS 'MODULE_PATHNAME', 'varrow_from_bytea' LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE;
COMMENT ON FUNCTION varrow(bytea) IS 'the histogram of a serialized record, validated';
CREATE CAST (bytea AS varrow) WITH FUNCTION varrow(bytea);

-- Histograms of other systems' bucket layouts.  OpenTelemetry's exponential
-- buckets: at scale s the base is 2^(2^-s), and the k-th count of a side
-- holds the magnitudes in (base^(offset+k), base^(offset+k+1)]; each count
-- is shared among the log-linear buckets it overlaps, the total kept exact.
CREATE FUNCTION varrow_from_exponential(scale integer, zero_count bigint, positive_offset integer,
                                        positive_counts bigint[], negative_offset integer DEFAULT 0,
                                        negative_counts bigint[] DEFAULT '{}') RETURNS varrow
  AS 'MODULE_PATHNAME' LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE;
COMMENT ON FUNCTION varrow_from_exponential(integer, bigint, integer, bigint[], integer, bigint[]) IS
  'histogram of an OpenTelemetry exponential histogram (scale, zero count, offset and counts of each side)';
-- Explicit bounds b0 < ... < b(n-1) and n + 1 counts, of the bins (-inf, b0],
-- (b0, b1], ..., (b(n-1), +inf), as Prometheus and OpenTelemetry write them:
-- each bin's count at one value inside the bin.
CREATE FUNCTION varrow_from_explicit_bounds(bounds double precision[], counts bigint[]) RETURNS varrow
  AS 'MODULE_PATHNAME' LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE;
COMMENT ON FUNCTION varrow_from_explicit_bounds(double precision[], bigint[]) IS
  'histogram of counts in the bins between explicit bounds (Prometheus, OpenTelemetry explicit buckets)';
-- And back: the samples of each bin between explicit bounds (a bucket's
-- samples taken as spread evenly over it), and the exponential histogram at
-- the finest scale whose sides need no more than max_buckets counts each.
CREATE FUNCTION varrow_to_explicit_bounds(h varrow, bounds double precision[]) RETURNS numeric[]
  AS 'MODULE_PATHNAME' LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE;
COMMENT ON FUNCTION varrow_to_explicit_bounds(varrow, double precision[]) IS
  'samples in each bin between explicit bounds: (-inf, b0], (b0, b1], ..., (b(n-1), +inf)';
CREATE FUNCTION varrow_to_exponential(h varrow, max_buckets integer DEFAULT 160, OUT scale integer,
                                      OUT zero_count numeric, OUT positive_offset integer,
                                      OUT positive_counts numeric[], OUT negative_offset integer,
                                      OUT negative_counts numeric[]) RETURNS record
  AS 'MODULE_PATHNAME' LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE;
COMMENT ON FUNCTION varrow_to_exponential(varrow, integer) IS
  'OpenTelemetry exponential histogram of the histogram, at the finest scale within max_buckets counts a side';

-- The version of the project whose library the module holds.
CREATE FUNCTION varrow_version() RETURNS text
  AS 'MODULE_PATHNAME' LANGUAGE C STABLE STRICT PARALLEL SAFE;
COMMENT ON FUNCTION varrow_version() IS 'version of the varrow project (programs, libraries, this module)';
