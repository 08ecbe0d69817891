-- Comparison and hashing by content, subtraction, casts to and from bytea,
-- varrow_agg over intervals, and array arguments.

-- Values that differ only in how their text was written are equal: the
-- stored record is canonical.
CREATE TABLE vals (name text, h varrow);
INSERT INTO vals VALUES
  ('empty', 'AAA='),
  ('1.0, 2.5 x300', 'AAIKAAABGQABLAE='),
  ('2.5 x300, 1.0', 'AAIZAAEsAQoAAAE='),          -- buckets out of order
  ('1.0 x2', 'AAEKAAAC'),
  ('1.0 + 1.0', 'AAIKAAABCgAAAQ=='),              -- one bucket twice
  ('1.0 x2, wide count', 'AAEKAAECAA=='),         -- count 2 in two bytes
  ('2.0 x2', 'AAEUAAAC'),
  ('null', NULL);

SELECT a.name AS a, b.name AS b, a.h = b.h AS eq, a.h <> b.h AS ne
FROM vals a, vals b
WHERE a.name < b.name AND (a.h = b.h OR a.h IS NULL OR b.h IS NULL OR a.name = 'empty')
ORDER BY a, b;

-- The order is total, fixed and consistent with equality.
SELECT a.name AS a, b.name AS b, sign(varrow_cmp(a.h, b.h)) AS cmp,
       a.h < b.h AS lt, a.h <= b.h AS le, a.h > b.h AS gt, a.h >= b.h AS ge
FROM vals a, vals b
WHERE a.name IN ('1.0 x2', '2.0 x2', 'empty') AND b.name IN ('1.0 x2', '1.0 + 1.0', '2.0 x2', 'empty')
ORDER BY a, b;

-- Equal values hash alike, in both hash functions.
SELECT count(DISTINCT varrow_hash(h)) AS hashes, count(DISTINCT varrow_hash_extended(h, 7)) AS extended_hashes,
       count(DISTINCT h) AS values
FROM vals WHERE name IN ('1.0 x2', '1.0 + 1.0', '1.0 x2, wide count');

-- Grouping, DISTINCT and count(DISTINCT), hashed and sorted alike.
CREATE TABLE grouped AS
  SELECT i, varrow_agg(v) AS h
  FROM generate_series(1, 300) AS i, LATERAL (SELECT generate_series(1, i % 5) * 1.0 AS v) AS s
  GROUP BY i;
\set groups 'SELECT varrow_count(h) AS samples, count(*) AS values FROM grouped GROUP BY h ORDER BY 1'
SET enable_hashagg = off;
EXPLAIN (COSTS OFF) :groups;
:groups;
SET enable_hashagg = on;
SET enable_sort = off;
EXPLAIN (COSTS OFF) :groups;
:groups;
RESET enable_sort;
SELECT count(DISTINCT h) AS distinct_values, (SELECT count(*) FROM (SELECT DISTINCT h FROM grouped) AS d) AS distinct_rows,
       (SELECT count(*) FROM (SELECT h FROM grouped UNION SELECT h FROM grouped) AS u) AS union_rows
FROM grouped;

-- Joins on histograms: hash, merge and nested loop give the same pairs.
\set pairs 'SELECT count(*) FROM grouped a JOIN grouped b ON a.h = b.h'
SET enable_mergejoin = off;
SET enable_nestloop = off;
EXPLAIN (COSTS OFF) :pairs;
:pairs;
SET enable_hashjoin = off;
SET enable_mergejoin = on;
EXPLAIN (COSTS OFF) :pairs;
:pairs;
SET enable_mergejoin = off;
SET enable_nestloop = on;
:pairs;
RESET enable_hashjoin;
RESET enable_mergejoin;
RESET enable_nestloop;
SELECT count(*) AS hashed_in FROM grouped WHERE h IN (SELECT varrow_agg(1.0) UNION ALL SELECT 'AAIUAAABCgAAAQ==');

-- Indexes of both kinds find a value by content.
CREATE INDEX grouped_btree ON grouped (h);
CREATE INDEX grouped_hash ON grouped USING hash (h);
SET enable_seqscan = off;
SELECT count(*) AS found_btree FROM grouped WHERE h = 'AAIKAAABFAAAAQ==';
DROP INDEX grouped_btree;
SELECT count(*) AS found_hash FROM grouped WHERE h = 'AAIUAAABCgAAAQ==';   -- the same value, written backwards
RESET enable_seqscan;
DROP TABLE grouped;

-- Subtraction: as varrow_subtract, each count stops at 0, no bucket is added.
SELECT a, b, a - b AS difference, a - b = varrow_subtract(a, b) AS same_as_function
FROM (VALUES ('AAIKAAADFAAAAg=='::varrow, 'AAEKAAAB'::varrow),  -- {1.0: 3, 2.0: 2} - {1.0: 1}
             ('AAEKAAAB', 'AAEKAAAD'),                           -- stops at 0
             ('AAEKAAAB', 'AAEUAAAF'),                           -- a bucket the first lacks
             ('AAA=', 'AAEKAAAB'),
             ('AAEKAAf//////////w==', 'AAEKAAf//////////w==')) AS t(a, b);
SELECT 'AAEKAAAD'::varrow - NULL AS with_null, ('AAEKAAAD'::varrow + 'AAEKAAAB') - 'AAEKAAAB' AS sum_then_difference;

-- Casts: a value is its record; a bytea becomes a value only when it is one
-- valid record, which is put in canonical form.
SELECT 'AAIKAAABGQABLAE='::varrow::bytea AS record,
       '\x00020a0000011900012c01'::bytea::varrow AS value,
       varrow('\x00021900012c010a000001'::bytea) AS reordered,
       varrow(varrow_send('AAb/AAAB9gAAAQAAAAEKAAABFAAAAh4AAAM=')) = 'AAb/AAAB9gAAAQAAAAEKAAABFAAAAh4AAAM=' AS round_trip;
SELECT record, error_of(format('SELECT %L::bytea::varrow', record)) AS error
FROM (VALUES ('\x'), ('\x00'), ('\x00010a0008'), ('\x00010a00000100'), ('\x000000')) AS t(record);
SELECT '\x00010a0008'::bytea::varrow;
-- As the format allows, a record may end before the buckets it announces.
SELECT '\x0001'::bytea::varrow AS none_of_one, '\x00020a000001'::bytea::varrow AS one_of_two;

-- varrow_agg over intervals counts seconds, as date_part('epoch', ...) does.
CREATE TABLE durations (i interval, n bigint);
INSERT INTO durations VALUES
  ('1.5 ms', 1), ('12 ms', 2), ('12 ms', 1), ('00:00:01.25', 3), ('2 minutes', 1), ('-3 s', 1),
  ('1 day', 1), ('1 mon', 1), ('1 year', 1), ('0', 2), (NULL, 4), ('5 s', NULL), ('7 s', 0);
SELECT varrow_agg(i) AS each_once, varrow_agg(i) = varrow_agg(date_part('epoch', i)) AS seconds_once,
       varrow_agg(i, n) AS counted, varrow_agg(i, n) = varrow_agg(date_part('epoch', i), n) AS seconds_counted
FROM durations;
SELECT b.value, b.count FROM (SELECT varrow_agg(i, n) AS h FROM durations) AS t, varrow_buckets(h) AS b;
SELECT varrow_agg(i) AS agg, varrow_agg(i, n) AS counted FROM durations WHERE false;
SELECT error_of('SELECT varrow_agg(i, -1) FROM durations') AS error;
DROP TABLE durations;

-- Arrays of probabilities: one dimension (any lower bound), or the empty
-- array; more dimensions are an error.
SELECT varrow_quantiles('AAIKAAADFAAAAg==', '[0:2]={0, 0.5, 1}') AS lower_bound_0,
       varrow_quantiles('AAIKAAADFAAAAg==', '{}') AS empty;
SELECT probabilities, error_of(format('SELECT varrow_quantiles(%L, %L)', 'AAIKAAADFAAAAg==', probabilities)) AS error
FROM (VALUES ('{{0.5}}'), ('{{0.1, 0.5}, {0.6, 0.9}}'), ('{{{0.5}}}'), ('{0.5, NULL}')) AS t(probabilities);
SELECT varrow_quantiles('AAIKAAADFAAAAg==', '{{0.1, 0.5}, {0.6, 0.9}}');

DROP TABLE vals;
