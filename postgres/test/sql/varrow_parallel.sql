-- The aggregates give identical results with parallel workers forced on
-- (partial states serialized, shipped and combined) and off, over 1 million rows.

CREATE TABLE samples AS
  SELECT i % 60 AS minute,
         CASE WHEN i % 100000 = 0 THEN NULL
              WHEN i % 77777 = 0 THEN 'NaN'
              WHEN i % 9999 = 0 THEN 0
              WHEN i % 5555 = 0 THEN -((i % 1000) / 10.0)
              ELSE exp(((i::bigint * 7919) % 100003) / 12000.0 - 4)
         END AS v,
         1 + i % 3 AS n
  FROM generate_series(1, 1000000) AS i;
ANALYZE samples;

CREATE TABLE minutes AS SELECT minute, varrow_agg(v) AS h FROM samples GROUP BY minute;

-- The same four queries in each mode; psql keeps their results.
\set total 'SELECT varrow_agg(v)::text AS total FROM samples'
\set counted 'SELECT varrow_agg(v, n)::text AS counted FROM samples'
\set per_minute 'SELECT string_agg(h::text, \',\' ORDER BY minute) AS per_minute FROM (SELECT minute, varrow_agg(v) AS h FROM samples GROUP BY minute) AS g'
\set merged 'SELECT varrow_merge(h)::text AS merged FROM minutes'
\set intervals 'SELECT varrow_agg(v * interval \'1 s\', n)::text AS intervals FROM samples WHERE v <> \'NaN\''

SET max_parallel_workers_per_gather = 0;
:total \gset serial_
:counted \gset serial_
:per_minute \gset serial_
:merged \gset serial_
:intervals \gset serial_

SET force_parallel_mode = on;
SET parallel_setup_cost = 0;
SET parallel_tuple_cost = 0;
SET min_parallel_table_scan_size = 0;
SET max_parallel_workers_per_gather = 2;
EXPLAIN (COSTS OFF) :total;
EXPLAIN (COSTS OFF) :counted;
EXPLAIN (COSTS OFF) :per_minute;
EXPLAIN (COSTS OFF) :merged;
EXPLAIN (COSTS OFF) :intervals;
:total \gset parallel_
:counted \gset parallel_
:per_minute \gset parallel_
:merged \gset parallel_
:intervals \gset parallel_

SELECT :'serial_total' = :'parallel_total' AS total_equal,
       :'serial_counted' = :'parallel_counted' AS counted_equal,
       :'serial_per_minute' = :'parallel_per_minute' AS per_minute_equal,
       :'serial_merged' = :'parallel_merged' AS merged_equal,
       :'serial_merged' = :'serial_total' AS merge_equals_aggregate,
       :'serial_intervals' = :'parallel_intervals' AS intervals_equal;
SELECT varrow_count(:'parallel_total') AS total, varrow_count(:'parallel_counted') AS counted,
       varrow_quantiles(:'parallel_total', '{0.5, 0.99}') AS p50_p99;

RESET ALL;
DROP TABLE samples, minutes;
