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
