-- Histograms from other systems' bucket layouts.

-- OpenTelemetry exponential buckets.  At scale 0 the base is 2: the counts
-- of offset 0 hold (1, 2], (2, 4], (4, 8]; powers of two from 0.25 to 64 are
-- bucket edges of both schemes, so the counts below them stay exact.
SELECT name, h, varrow_count(h) AS total, varrow_count_below(h, 1.99) AS up_to_2, varrow_count_below(h, 3.99) AS up_to_4,
       varrow_count_below(h, -0.001) AS negative, varrow_count_below(h, 0) - varrow_count_below(h, -1e-100) AS zero
FROM (VALUES
  ('scale 0', varrow_from_exponential(0, 0, 0, '{1, 2, 3}')),
  ('zero count and both sides', varrow_from_exponential(0, 5, 0, '{1, 2, 3}', 1, '{4}')),
  ('named arguments', varrow_from_exponential(scale => 0, zero_count => 5, positive_offset => 0,
                                              positive_counts => '{1, 2, 3}', negative_offset => 1,
                                              negative_counts => '{4}')),
  ('scale 3, offset -8', varrow_from_exponential(3, 0, -8, '{10, 0, 0, 0, 0, 0, 0, 0, 20}')),
  ('scale -10', varrow_from_exponential(-10, 0, 0, '{7}')),
  ('scale 20', varrow_from_exponential(20, 0, 1048576, '{7}')),   -- (2, 2 x 2^(2^-20)]
  ('empty', varrow_from_exponential(0, 0, 0, '{}')),
  ('zero only', varrow_from_exponential(0, 3, 0, '{}'))
) AS t(name, h) ORDER BY name;
SELECT b.value, b.count FROM varrow_buckets(varrow_from_exponential(0, 5, 0, '{1, 2, 3}', 1, '{4}')) AS b;
SELECT varrow_from_exponential(0, 0, 0, NULL) AS null_counts;

SELECT statement, error_of(statement) AS error
FROM (VALUES ($$SELECT varrow_from_exponential(21, 0, 0, '{1}')$$),
             ($$SELECT varrow_from_exponential(-11, 0, 0, '{1}')$$),
             ($$SELECT varrow_from_exponential(0, -1, 0, '{1}')$$),
             ($$SELECT varrow_from_exponential(0, 0, 0, '{1, -2}')$$),
             ($$SELECT varrow_from_exponential(0, 0, 0, '{1}', 0, '{-1}')$$),
             ($$SELECT varrow_from_exponential(0, 0, 0, '{1, NULL}')$$),
             ($$SELECT varrow_from_exponential(0, 0, 0, '{{1, 2}}')$$),
             ($$SELECT varrow_from_exponential(0, 0, 2147483647, '{1, 1}')$$),
             ($$SELECT varrow_from_exponential(0, 9223372036854775807, 0, '{9223372036854775807, 2}')$$)
     ) AS t(statement);
SELECT varrow_from_exponential(0, 0, 0, '{1}', 0, '{1, -2}');

-- Explicit bounds, as a Prometheus histogram's le bounds and per-bin counts:
-- every bin's samples stay inside the bin, so the count below each bound
-- that is a bucket edge is exact.
SELECT h, varrow_count(h) AS total,
       array(SELECT varrow_count_below(h, b * 0.999) FROM unnest('{0.005, 0.01, 0.025, 0.05, 0.1}'::float8[]) AS b)
         AS below_each_bound
FROM (SELECT varrow_from_explicit_bounds('{0.005, 0.01, 0.025, 0.05, 0.1}', '{1, 2, 3, 4, 5, 6}') AS h) AS t;
SELECT bounds, counts, varrow_from_explicit_bounds(bounds::float8[], counts::bigint[]) AS h
FROM (VALUES ('{}', '{4}'), ('{0}', '{1, 2}'), ('{-1, 1}', '{1, 2, 3}'), ('{2.5}', '{0, 0}')) AS t(bounds, counts);

SELECT statement, error_of(statement) AS error
FROM (VALUES ($$SELECT varrow_from_explicit_bounds('{1, 2}', '{1, 2}')$$),
             ($$SELECT varrow_from_explicit_bounds('{2, 1}', '{1, 2, 3}')$$),
             ($$SELECT varrow_from_explicit_bounds('{1, 1}', '{1, 2, 3}')$$),
             ($$SELECT varrow_from_explicit_bounds('{1, Infinity}', '{1, 2, 3}')$$),
             ($$SELECT varrow_from_explicit_bounds('{NaN}', '{1, 2}')$$),
             ($$SELECT varrow_from_explicit_bounds('{1}', '{1, -2}')$$),
             ($$SELECT varrow_from_explicit_bounds('{1, NULL}', '{1, 2, 3}')$$),
             ($$SELECT varrow_from_explicit_bounds('{{1}}', '{1, 2}')$$),
             ($$SELECT varrow_from_explicit_bounds('{1}', '{{1, 2}}')$$),
             ($$SELECT varrow_from_explicit_bounds('{1}', '{9223372036854775807, 9223372036854775807}')$$),
             ($$SELECT varrow_from_explicit_bounds('{1, 2}', '{9223372036854775807, 9223372036854775807, 2}')$$)
     ) AS t(statement);
SELECT varrow_from_explicit_bounds('{1, 2}', '{1, 2}');

-- And back.  Explicit bounds: what came in through the same bounds comes
-- out bin for bin; a bound inside a bucket shares its samples.
SELECT varrow_to_explicit_bounds(varrow_from_explicit_bounds(b, c), b) = c::numeric[] AS same_counts
FROM (VALUES ('{0.005, 0.01, 0.025, 0.05, 0.1}'::float8[], '{1, 2, 3, 4, 5, 6}'::int8[]),
             ('{-1, 0, 1}', '{7, 0, 9, 1}'), ('{}', '{5}')) AS t(b, c);
SELECT varrow_to_explicit_bounds('AAEKAAAK', '{1.05}') AS split_bucket,               -- 1.0 x10 over [1.0, 1.1)
       varrow_to_explicit_bounds('AAEKAAf//////////w==', '{2}') AS saturated_count,
       varrow_to_explicit_bounds('AAb/AAAB9gAAAQAAAAEKAAABFAAAAh4AAAM=', '{-0.5, 0.5, 2.5}') AS with_nan,
       varrow_to_explicit_bounds('AAA=', '{1, 2}') AS empty;
SELECT bounds, error_of(format('SELECT varrow_to_explicit_bounds(%L, %L)', 'AAEKAAAK', bounds)) AS error
FROM (VALUES ('{2, 1}'), ('{1, 1}'), ('{NaN}'), ('{-Infinity}'), ('{1, NULL}'), ('{{1}}')) AS t(bounds);

-- Exponential: the finest scale within max_buckets counts a side; the
-- total stays exact, also through a round trip.
SELECT e.scale, e.zero_count, e.positive_offset, cardinality(e.positive_counts) AS positive_length,
       (SELECT sum(c) FROM unnest(e.positive_counts) AS c) AS positive_total, e.negative_offset, e.negative_counts,
       varrow_count(varrow_from_exponential(e.scale, e.zero_count::bigint, e.positive_offset,
                                                 e.positive_counts::bigint[], e.negative_offset,
                                                 e.negative_counts::bigint[])) AS round_trip_total
FROM (VALUES ('AAb/AAAB9gAAAQAAAAEKAAABFAAAAh4AAAM='::varrow, 160), ('AAA=', 160),
             ('AAIKAAAKFAAAFA==', 4), ('AAIKAAAKFAAAFA==', 1)) AS t(h, n), varrow_to_exponential(h, n) AS e;
-- 1.0 x10 and 2.0 x20 at the default 160 counts: scale 7, each bucket's
-- samples spread over the indices it overlaps.
SELECT scale, positive_offset, positive_counts[1:17] AS first_counts, positive_counts[129:] AS last_counts
FROM varrow_to_exponential('AAIKAAAKFAAAFA==');
SELECT n, error_of(format('SELECT varrow_to_exponential(%L, %s)', 'AAEKAAAK', n)) AS error
FROM (VALUES (0), (-1), (1048577), (2147483647)) AS t(n);
-- The widest histogram, 1e-128 to 9.9e127, at the most counts a side.
SELECT scale, cardinality(positive_counts) AS counts FROM varrow_to_exponential('AAIKgAABY38AAQ==', 1048576);
