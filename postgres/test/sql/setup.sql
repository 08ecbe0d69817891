-- Runs first: the extension, and a helper that reports a statement's error
-- as its SQLSTATE and message, so that tables of bad inputs show each one.
CREATE EXTENSION varrow;
CREATE FUNCTION error_of(statement text) RETURNS text LANGUAGE plpgsql AS $$
BEGIN
  EXECUTE statement;
  RETURN 'no error';
EXCEPTION WHEN others THEN
  RETURN SQLSTATE || ': ' || SQLERRM;
END $$;
