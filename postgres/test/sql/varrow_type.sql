-- The type varrow: base64 text in and out, the serialized record in binary.

-- Text round trips, as histstat reads and hist_serialize_b64 writes them.
SELECT text, text::varrow AS value, text::varrow::text = text AS same
FROM (VALUES ('AAA='),                                    -- empty
             ('AAIKAAABGQABLAE='),                        -- 1.0 once, 2.5 300 times
             ('AAb/AAAB9gAAAQAAAAEKAAABFAAAAh4AAAM='),    -- NaN, -1, 0, 1, 2 x 2, 3 x 3
             ('AAEKAAf//////////w==')                     -- a count of 2^64 - 1
     ) AS cases(text);

-- The reader is lenient about layout (white space, text after a non-base64
-- character) and puts unordered or repeated buckets in order.
SELECT text, text::varrow AS value
FROM (VALUES (E' AAIKAAABGQABLAE=\n'),
             ('AAA=!xyz'),
             ('AAIZAAEsAQoAAAE='),    -- 2.5 before 1.0
             ('AAIKAAABCgAAAQ==')     -- 1.0 twice
     ) AS cases(text);

-- NULL stays NULL.
SELECT NULL::varrow AS value, varrow_count(NULL) AS count;

-- Invalid text: each is an error with SQLSTATE 22P02, never a crash.
SELECT left(text, 16) AS text, length(text), left(error_of(format('SELECT %L::varrow', text)), 72) AS error
FROM (VALUES (''), ('AA'), ('AAA'), ('not a histogram'), ('!!!!'),
             ('AAEKAAg='),            -- count width byte 8
             ('AAEKAAABCgAAAQ=='),    -- one bucket announced, two follow
             ('AAIKAAABGQABLAE'),     -- padding missing: the record is cut short
             ('AAIKAAABGQAB'),        -- the second bucket cut short
             (repeat('A', 10000))     -- a long text: 7,500 zero bytes, a record of 0 buckets and more
     ) AS cases(text);
-- As the server reports it.
SELECT 'AAIKAAABGQAB'::varrow;

-- Binary: the record itself.
SELECT varrow_send('AAIKAAABGQABLAE=') AS record;
CREATE TABLE binary_values (v varrow);
\copy (SELECT 'AAIKAAABGQABLAE='::varrow UNION ALL SELECT 'AAA=') TO 'binary_values.copy' WITH (FORMAT binary)
\copy binary_values FROM 'binary_values.copy' WITH (FORMAT binary)
-- A bytea column travels as raw bytes, so it can carry hand-made records.
\copy (SELECT '\x00020a0000011900012c01'::bytea UNION ALL SELECT '\x00021900012c010a000001') TO 'binary_records.copy' WITH (FORMAT binary)
\copy binary_values FROM 'binary_records.copy' WITH (FORMAT binary)
SELECT v FROM binary_values;
\copy (SELECT '\x00010a0008'::bytea) TO 'binary_invalid.copy' WITH (FORMAT binary)
\copy binary_values FROM 'binary_invalid.copy' WITH (FORMAT binary)
\copy (SELECT '\x00010a00000100'::bytea) TO 'binary_trailing.copy' WITH (FORMAT binary)
\copy binary_values FROM 'binary_trailing.copy' WITH (FORMAT binary)
DROP TABLE binary_values;

-- Values keep their text through a table.
CREATE TABLE stored (id int, h varrow);
INSERT INTO stored VALUES (1, 'AAIKAAABGQABLAE='), (2, NULL), (3, 'AAA=');
SELECT id, h FROM stored ORDER BY id;
DROP TABLE stored;
