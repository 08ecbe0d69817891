-- varrow_agg and varrow_merge without parallel workers.

CREATE TABLE readings (service text, v double precision, n bigint);
INSERT INTO readings VALUES
  ('api', 0.012, 1), ('api', 0.015, 3), ('api', 0.0153, 1), ('api', 0.031, 2), ('api', 0.2, 1),
  ('api', NULL, 5), ('api', 0.5, NULL), ('api', 0.7, 0),
  ('web', 'NaN', 1), ('web', 'Infinity', 1), ('web', 0, 2), ('web', -1.25, 1), ('web', 1e-200, 1),
  ('idle', NULL, 1);

-- NULL values (and NULL counts) are skipped; a zero count adds nothing;
-- NaN and infinity go to the NaN bucket; a group of only NULLs gives NULL.
SELECT service, varrow_agg(v) AS each_once, varrow_agg(v, n) AS counted,
       varrow_count(varrow_agg(v)) AS count_once, varrow_count(varrow_agg(v, n)) AS count_counted
FROM readings GROUP BY service ORDER BY service;

-- No rows at all: NULL.
SELECT varrow_agg(v) AS agg, varrow_agg(v, n) AS counted, varrow_merge(NULL::varrow) AS merged
FROM readings WHERE false;

-- A negative count is an error.
SELECT error_of('SELECT varrow_agg(v, -1) FROM readings') AS error;

-- Merging stored histograms gives what aggregating their values gives.
CREATE TABLE per_service AS
  SELECT service, varrow_agg(v, n) AS h FROM readings GROUP BY service;
INSERT INTO per_service VALUES ('none', NULL), ('empty', 'AAA=');
SELECT varrow_merge(h) AS merged, varrow_merge(h)::text = varrow_agg_all AS same_as_values
FROM per_service, (SELECT varrow_agg(v, n)::text AS varrow_agg_all FROM readings) AS direct
GROUP BY varrow_agg_all;

-- Counts beyond bigint are kept (numeric) and saturate at 2^64 - 1.
SELECT varrow_count(varrow_agg(1.0, 9223372036854775807)) AS count
FROM generate_series(1, 2);
SELECT varrow_count(varrow_merge(h)) AS saturated, varrow_merge(h) AS merged
FROM (VALUES ('AAEKAAf//////////w=='::varrow), ('AAEKAAAB')) AS t(h);

-- Hash and sorted grouping give the same histograms.
CREATE TABLE many AS
  SELECT i % 7 AS g, exp((i % 1000) / 100.0) AS v FROM generate_series(1, 70000) AS i;
SET enable_hashagg = off;
CREATE TABLE sorted_groups AS SELECT g, varrow_agg(v)::text AS h FROM many GROUP BY g;
SET enable_hashagg = on;
SET enable_sort = off;
CREATE TABLE hashed_groups AS SELECT g, varrow_agg(v)::text AS h FROM many GROUP BY g;
RESET enable_sort;
SELECT count(*) AS groups, count(*) FILTER (WHERE s.h = h.h) AS equal
FROM sorted_groups s JOIN hashed_groups h USING (g);

-- Many small groups, hashed under a work_mem so small that the hash table
-- spills to disk, give what sorted grouping gives; some groups pass the
-- size at which a state moves into a fast histogram.
CREATE TABLE small_groups AS
  SELECT i % 5000 AS g, exp((i * 7919 % 997) / 50.0 - 10) AS v
  FROM generate_series(1, 100000) AS i
  UNION ALL SELECT 7, exp(i / 20.0) FROM generate_series(1, 2000) AS i;
SET work_mem = '64kB';
SET enable_sort = off;
CREATE TABLE hashed_small AS SELECT g, varrow_agg(v)::text AS h FROM small_groups GROUP BY g;
RESET enable_sort;
SET enable_hashagg = off;
CREATE TABLE sorted_small AS SELECT g, varrow_agg(v)::text AS h FROM small_groups GROUP BY g;
RESET enable_hashagg;
RESET work_mem;
SELECT count(*) AS groups, count(*) FILTER (WHERE s.h = h.h) AS equal,
       max(varrow_count(s.h::varrow)) AS largest
FROM sorted_small s JOIN hashed_small h USING (g);

-- Grouping sets keep the states of each set in an aggregate context of its
-- own; sorted and hashed, each set's histograms equal its own GROUP BY's.
CREATE FUNCTION grouping_sets_equal() RETURNS TABLE (rows bigint, equal bigint) LANGUAGE sql AS $$
  SELECT count(*), count(*) FILTER (WHERE s.h = (
           SELECT varrow_agg(v)::text FROM many m
           WHERE (s.g IS NULL OR m.g = s.g) AND (s.parity IS NULL OR m.g % 2 = s.parity)))
  FROM (SELECT g, g % 2 AS parity, varrow_agg(v)::text AS h FROM many GROUP BY GROUPING SETS ((g), (g % 2), ())) AS s
$$;
SET enable_hashagg = off;
SELECT * FROM grouping_sets_equal();
RESET enable_hashagg;
SET enable_sort = off;
SELECT * FROM grouping_sets_equal();
RESET enable_sort;
DROP FUNCTION grouping_sets_equal();

-- Aggregates as window functions.
SELECT g, varrow_count(varrow_agg(v) OVER (ORDER BY g)) AS running
FROM (SELECT DISTINCT g, g::double precision AS v FROM many) AS d ORDER BY g;

DROP TABLE readings, per_service, many, sorted_groups, hashed_groups, small_groups, hashed_small, sorted_small;
