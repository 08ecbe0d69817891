-- A database made with version 1.0 (transition state internal) keeps its
-- stored values and its aggregates' results across ALTER EXTENSION UPDATE,
-- and its 1.0 aggregates still work, serially and in parallel, with the new
-- module before the update.

DROP EXTENSION varrow;
CREATE EXTENSION varrow VERSION '1.0';
SELECT extversion FROM pg_extension WHERE extname = 'varrow';

CREATE TABLE samples AS
  SELECT i % 10 AS g,
         CASE WHEN i % 1000 = 0 THEN NULL WHEN i % 777 = 0 THEN 'NaN' WHEN i % 99 = 0 THEN -(i % 7)
              ELSE exp((i % 1009) / 100.0 - 5) END AS v,
         i % 3 AS n
  FROM generate_series(1, 200000) AS i;
ANALYZE samples;
CREATE TABLE stored AS SELECT g, varrow_agg(v) AS h FROM samples GROUP BY g;

\set results 'SELECT (SELECT varrow_agg(v)::text FROM samples) AS total, (SELECT varrow_agg(v, n)::text FROM samples) AS counted, (SELECT string_agg(h::text, \',\' ORDER BY g) FROM (SELECT g, varrow_agg(v) AS h FROM samples GROUP BY g) AS per_g) AS grouped, (SELECT varrow_merge(h)::text FROM stored) AS merged'

SET max_parallel_workers_per_gather = 0;
:results \gset v10_serial_
SET parallel_setup_cost = 0;
SET parallel_tuple_cost = 0;
SET min_parallel_table_scan_size = 0;
SET max_parallel_workers_per_gather = 2;
SET force_parallel_mode = on;
EXPLAIN (COSTS OFF) SELECT varrow_agg(v) FROM samples;
:results \gset v10_parallel_
RESET ALL;

ALTER EXTENSION varrow UPDATE;
SELECT extversion FROM pg_extension WHERE extname = 'varrow';
SELECT p.proname, t.typname AS state_type, a.aggserialfn <> 0 AS has_serialfn
FROM pg_aggregate a JOIN pg_proc p ON p.oid = a.aggfnoid JOIN pg_type t ON t.oid = a.aggtranstype
WHERE p.proname LIKE 'varrow%' ORDER BY p.proname, p.pronargs;
:results \gset v11_

SELECT :'v10_serial_total' = :'v11_total' AND :'v10_parallel_total' = :'v11_total' AS total_equal,
       :'v10_serial_counted' = :'v11_counted' AND :'v10_parallel_counted' = :'v11_counted' AS counted_equal,
       :'v10_serial_grouped' = :'v11_grouped' AND :'v10_parallel_grouped' = :'v11_grouped' AS grouped_equal,
       :'v10_serial_merged' = :'v11_merged' AND :'v10_parallel_merged' = :'v11_merged' AS merged_equal,
       :'v11_merged' = :'v11_total' AS merge_equals_aggregate;
-- Values stored under 1.0 read back unchanged.
SELECT count(*) AS stored, string_agg(h::text, ',' ORDER BY g) = :'v11_grouped' AS unchanged FROM stored;

DROP TABLE samples, stored;
