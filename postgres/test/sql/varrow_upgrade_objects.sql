-- Updating from 1.0 gives the objects a fresh install of the default version
-- creates, and keeps the values stored before the update.

-- Every member object with what defines it, by name (object ids differ
-- between databases).
SELECT $members$
SELECT string_agg(line, E'\n' ORDER BY line) AS members FROM (
  SELECT pg_describe_object(d.classid, d.objid, 0) || ': ' || coalesce(
           (SELECT format('%s %s %s %s %s %s %s %s', prorettype::regtype, prokind, provolatile, proisstrict,
                          proparallel, proleakproof, prosrc, prorows)
            FROM pg_proc WHERE oid = d.objid AND d.classid = 'pg_proc'::regclass),
           (SELECT format('%s %s %s %s %s %s %s', oprcode, oprcom::regoper, oprnegate::regoper, oprrest, oprjoin,
                          oprcanhash, oprcanmerge)
            FROM pg_operator WHERE oid = d.objid AND d.classid = 'pg_operator'::regclass),
           (SELECT format('%s %s %s', castfunc::regprocedure, castcontext, castmethod)
            FROM pg_cast WHERE oid = d.objid AND d.classid = 'pg_cast'::regclass),
           (SELECT format('%s %s %s %s %s %s %s', typinput, typoutput, typreceive, typsend, typlen, typalign, typstorage)
            FROM pg_type WHERE oid = d.objid AND d.classid = 'pg_type'::regclass),
           '') || coalesce(' -- ' || obj_description(d.objid, d.classid::regclass::text), '') AS line
  FROM pg_depend d
  WHERE d.refclassid = 'pg_extension'::regclass AND d.deptype = 'e'
    AND d.refobjid = (SELECT oid FROM pg_extension WHERE extname = 'varrow')
  UNION ALL
  SELECT format('aggregate %s: %s %s %s %s %s %s %s', aggfnoid::regprocedure, aggtransfn, aggfinalfn, aggcombinefn,
                aggserialfn, aggdeserialfn, aggtranstype::regtype, aggtransspace)
  FROM pg_aggregate a JOIN pg_depend d ON d.objid = a.aggfnoid AND d.classid = 'pg_proc'::regclass AND d.deptype = 'e'
  UNION ALL
  SELECT pg_describe_object('pg_amop'::regclass, o.oid, 0)
  FROM pg_amop o JOIN pg_depend d ON d.objid = o.amopfamily AND d.classid = 'pg_opfamily'::regclass AND d.deptype = 'e'
  UNION ALL
  SELECT pg_describe_object('pg_amproc'::regclass, p.oid, 0)
  FROM pg_amproc p JOIN pg_depend d ON d.objid = p.amprocfamily AND d.classid = 'pg_opfamily'::regclass AND d.deptype = 'e'
) AS m
$members$ AS members_query \gset

CREATE DATABASE varrow_upgraded;
CREATE DATABASE varrow_fresh;
\c varrow_upgraded
CREATE EXTENSION varrow VERSION '1.0';
CREATE TABLE kept AS SELECT varrow_agg(v) AS h FROM generate_series(1, 10) AS v;
ALTER EXTENSION varrow UPDATE;
SELECT extversion FROM pg_extension WHERE extname = 'varrow';
:members_query \gset upgraded_
\echo :upgraded_members
-- The value stored under 1.0 meets the new operators.
SELECT h, h = (SELECT varrow_agg(v) FROM generate_series(1, 10) AS v) AS equal, h - h AS difference FROM kept;

\c varrow_fresh
CREATE EXTENSION varrow;
SELECT extversion FROM pg_extension WHERE extname = 'varrow';
:members_query \gset fresh_
SELECT :'upgraded_members' = :'fresh_members' AS same_objects;

\c varrow_regression
DROP DATABASE varrow_upgraded;
DROP DATABASE varrow_fresh;
