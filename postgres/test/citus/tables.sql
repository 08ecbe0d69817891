-- The cluster test's tables: raw values distributed by id in 8 shards, and
-- per-minute histograms of them distributed by another column; a local copy
-- of each on the coordinator is the one-node reference.  The values hold
-- NULL, NaN, zero, negative and extreme values; counts hold 0 and NULL.
SET citus.shard_count = 8;
CREATE EXTENSION varrow;

CREATE TABLE raw_values (id bigint, minute int, v double precision, n bigint);
SELECT create_distributed_table('raw_values', 'id');
INSERT INTO raw_values
  SELECT i, i % 60,
         CASE WHEN i % 997 = 0 THEN NULL
              WHEN i % 991 = 0 THEN 'NaN'
              WHEN i % 983 = 0 THEN 0
              WHEN i % 977 = 0 THEN -exp(((i * 7919) % 1009) / 100.0)
              WHEN i % 971 = 0 THEN ('{1e300, -1e300, 5e-324, -5e-324, 1e-300, Infinity, -Infinity, 1.7976931348623157e308}'::float8[])[1 + i % 8]
              ELSE exp(((i * 7919) % 100003) / 12000.0 - 4)
         END,
         CASE WHEN i % 89 = 0 THEN NULL ELSE i % 4 END
  FROM generate_series(1, 200000) AS i;

CREATE TABLE per_minute (source int, minute int, h varrow);
SELECT create_distributed_table('per_minute', 'source');
INSERT INTO per_minute SELECT id % 7, minute, varrow_agg(v) FROM raw_values GROUP BY id % 7, minute;
INSERT INTO per_minute VALUES (1, 0, NULL);

CREATE TABLE raw_local AS SELECT * FROM raw_values;
CREATE TABLE per_minute_local AS SELECT * FROM per_minute;
