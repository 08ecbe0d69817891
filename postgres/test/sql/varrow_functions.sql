-- Counts, moments, quantiles, buckets and arithmetic on stored values.

CREATE TABLE cases (name text, h varrow);
INSERT INTO cases VALUES
  ('empty', 'AAA='),
  ('one 1.0', 'AAEKAAAB'),                               -- {1.0: 1}
  ('1,2,2,3,3,3,-1,0,NaN', 'AAb/AAAB9gAAAQAAAAEKAAABFAAAAh4AAAM='),
  ('1.0 x3', 'AAEKAAAD'),
  ('1.0 x2, 2.0 x2', 'AAIKAAACFAAAAg=='),
  ('2^64 - 1 at 1.0', 'AAEKAAf//////////w=='),
  ('null', NULL);

SELECT name, varrow_count(h) AS count, varrow_mean(h) AS mean, varrow_stddev(h) AS stddev
FROM cases ORDER BY name;

SELECT name, varrow_count_below(h, 2.05) AS below_2_05, varrow_count_above(h, 2.05) AS above_2_05,
       varrow_count_below(h, 'Infinity') AS below_inf, varrow_count_above(h, 'Infinity') AS above_inf,
       varrow_count_below(h, -0.5) AS below_minus_0_5
FROM cases ORDER BY name;

SELECT name, varrow_quantile(h, 0) AS q0, varrow_quantile(h, 0.4) AS q40, varrow_quantile(h, 0.5) AS q50,
       varrow_quantile(h, 0.75) AS q75, varrow_quantile(h, 1) AS q100
FROM cases ORDER BY name;

SELECT name, varrow_quantiles(h, '{0, 0.4, 0.5, 0.75, 1}') AS quantiles,
       varrow_quantiles(h, '{0.5, 0.5}') AS equal_neighbours, varrow_quantiles(h, '{}') AS none
FROM cases ORDER BY name;

SELECT name, varrow_inverse_quantile(h, 0.5) AS below_0_5, varrow_inverse_quantile(h, 1.05) AS below_1_05,
       varrow_inverse_quantile(h, 1.5) AS below_1_5, varrow_inverse_quantile(h, 5) AS below_5
FROM cases ORDER BY name;

-- Buckets in bucket order: NaN first, then negative, zero, positive.
SELECT name, b.position, b.value, b.count
FROM cases, varrow_buckets(h) WITH ORDINALITY AS b(value, count, position) ORDER BY name, b.position;

-- Arithmetic: + is the union of counts (saturating), varrow_subtract stops
-- each count at 0 and adds no bucket.
SELECT a.name AS a, b.name AS b, a.h + b.h AS sum, varrow_subtract(a.h, b.h) AS difference
FROM cases a, cases b
WHERE a.name IN ('1.0 x3', '1.0 x2, 2.0 x2', '2^64 - 1 at 1.0', 'null')
  AND b.name IN ('one 1.0', '1.0 x2, 2.0 x2', '2^64 - 1 at 1.0', 'empty')
ORDER BY a, b;
SELECT varrow_count('AAEKAAf//////////w=='::varrow + 'AAEKAAAB') AS saturated;

-- NULL arguments give NULL.
SELECT varrow_quantile(h, NULL) AS q, varrow_quantiles(h, NULL) AS qs, varrow_inverse_quantile(h, NULL) AS iq,
       varrow_count_below(h, NULL) AS below, varrow_count_above(h, NULL) AS above,
       varrow_subtract(h, NULL) AS difference, h + NULL AS sum
FROM cases WHERE name = 'one 1.0';
SELECT count(*) AS bucket_rows FROM varrow_buckets(NULL);

-- Probabilities outside 0..1 (NaN included), lists out of order and NULL
-- probabilities are errors, also before any sample is looked at.
SELECT statement, error_of(statement) AS error
FROM (VALUES ($$SELECT varrow_quantile('AAEKAAAD', -0.1)$$),
             ($$SELECT varrow_quantile('AAEKAAAD', 1.5)$$),
             ($$SELECT varrow_quantile('AAEKAAAD', 'NaN')$$),
             ($$SELECT varrow_quantile('AAA=', 2)$$),
             ($$SELECT varrow_quantiles('AAEKAAAD', '{0.1, 1.01}')$$),
             ($$SELECT varrow_quantiles('AAEKAAAD', '{0.9, 0.5}')$$),
             ($$SELECT varrow_quantiles('AAA=', '{0.9, 0.5}')$$),
             ($$SELECT varrow_quantiles('AAEKAAAD', '{0.5, NULL}')$$)
     ) AS cases(statement);

DROP TABLE cases;

-- The project's version, as the programs report it.
\set project_version `cat version.txt`
SELECT varrow_version() = :'project_version' AS same_as_programs, varrow_version() ~ '^\d+\.\d+\.\d+$' AS dotted;
