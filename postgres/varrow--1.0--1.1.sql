-- varrow 1.0 to 1.1: comparison, subtraction and bytea casts, varrow_agg over
-- intervals.
\echo Use "ALTER EXTENSION varrow UPDATE TO '1.1'" to load this file. \quit

-- varrow_agg over intervals: each interval counts as its seconds, as
-- date_part('epoch', ...) gives them.
CREATE FUNCTION varrow_agg_interval_transfn(internal, interval) RETURNS internal
  AS 'MODULE_PATHNAME' LANGUAGE C IMMUTABLE PARALLEL SAFE;
CREATE FUNCTION varrow_agg_interval_count_transfn(internal, interval, bigint) RETURNS internal
  AS 'MODULE_PATHNAME' LANGUAGE C IMMUTABLE PARALLEL SAFE;

CREATE AGGREGATE varrow_agg(interval) (
  SFUNC = varrow_agg_interval_transfn,
  STYPE = internal,
  SSPACE = 4096,
  FINALFUNC = varrow_state_final,
  COMBINEFUNC = varrow_state_combine,
  SERIALFUNC = varrow_state_serialize,
  DESERIALFUNC = varrow_state_deserialize,
  PARALLEL = SAFE
);
COMMENT ON AGGREGATE varrow_agg(interval) IS 'histogram of the non-NULL intervals in seconds';

CREATE AGGREGATE varrow_agg(interval, bigint) (
  SFUNC = varrow_agg_interval_count_transfn,
  STYPE = internal,
  SSPACE = 4096,
  FINALFUNC = varrow_state_final,
  COMBINEFUNC = varrow_state_combine,
  SERIALFUNC = varrow_state_serialize,
  DESERIALFUNC = varrow_state_deserialize,
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
