-- Histograms written by histmake, loaded with COPY and merged in SQL, equal
-- byte for byte what hist_accumulate makes of the same inputs.

CREATE TABLE per_minute (minute serial, h varrow);
\copy per_minute (h) FROM 'per_minute.b64'
\set accumulated `cat per_minute_merged.b64`
SELECT count(*) AS minutes, count(*) FILTER (WHERE varrow_count(h) = 0) AS empty_minutes FROM per_minute;
SELECT varrow_merge(h)::text = :'accumulated' AS merge_equals_accumulate,
       sum(varrow_count(h)) = varrow_count(varrow_merge(h)) AS counts_add_up
FROM per_minute;
-- Every stored text is the text histmake wrote.
CREATE TABLE per_minute_text (minute serial, t text);
\copy per_minute_text (t) FROM 'per_minute.b64'
SELECT count(*) AS rows, count(*) FILTER (WHERE h::text = t) AS unchanged
FROM per_minute JOIN per_minute_text USING (minute);
DROP TABLE per_minute, per_minute_text;
