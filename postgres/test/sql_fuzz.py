#!/usr/bin/env python3
"""Random and mutated values through a real client into every function and
aggregate of the varrow extension, as text, as binary parameters and by
COPY BINARY, in a throw-away cluster of its own.

The server must answer every statement, an error being a fine answer, and
never restart. Beyond that, no statement may run into the statement timeout,
no value the type accepted may read back as corrupted (SQLSTATE XX001), and
every accepted value must survive its text and bytea round trips unchanged.

Usage: sql_fuzz.py BUILD_DIR PG_CONFIG [--statements N] [--seed S]
The extension is installed from BUILD_DIR into the server that PG_CONFIG
names (as the pg_regress run does, under the same lock).
"""

import argparse
import collections
import contextlib
import fcntl
import os
import pwd
import random
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time

try:
    import psycopg
    from psycopg.adapt import Dumper
    from psycopg.pq import Format
except ImportError:
    print("skipped: the SQL fuzz test needs psycopg (Debian: python3-psycopg)")
    sys.exit(0)

INSTALL_LOCK = os.path.join(os.environ.get("TMPDIR", "/tmp"), "varrow-postgres-install.lock")
STATEMENT_TIMEOUT_MS = 20000
# What a crashed or restarting server writes to its log.
CRASH_PATTERN = re.compile(r"terminated by signal|was terminated by|PANIC:|TRAP:|database system was interrupted"
                           r"|all server processes terminated|server process \(PID \d+\) exited")
CORRUPTED = "XX001"
TIMED_OUT = "57014"


class Finding(Exception):
    """A statement the server did not answer as it must."""


# ---- Records: the serialized histogram and its mutations --------------------

def bucket_record(val, exp, count):
    width = max(1, (count.bit_length() + 7) // 8)
    return struct.pack("bbB", val, exp, width - 1) + count.to_bytes(width, "little")


def random_bucket(rng):
    kind = rng.random()
    if kind < 0.8:
        val = rng.choice((1, -1)) * rng.randint(10, 99)
    elif kind < 0.9:
        val = 0
    elif kind < 0.95:
        val = -1  # the NaN bucket with exp 0, an invalid bucket otherwise
    else:
        val = rng.randint(-128, 127)
    exp = rng.choice((0, 0, -1, 1, -3, rng.randint(-128, 127)))
    return val, exp


def random_count(rng):
    return rng.choice((1, 1, 2, 255, 256, 65535, 2**32, 2**63, 2**64 - 1, rng.randint(1, 2**64 - 1)))


def random_record(rng):
    buckets = [random_bucket(rng) for _ in range(rng.choice((0, 1, 2, 3, 5, 10, 40)))]
    if rng.random() < 0.5:
        buckets.sort(key=lambda b: (b[0] < 0, b[0], b[1]))
    body = b"".join(bucket_record(val, exp, random_count(rng)) for val, exp in buckets)
    return struct.pack(">H", len(buckets)) + body


INTERESTING_BYTES = (0x00, 0x01, 0x07, 0x08, 0x0a, 0x63, 0x7f, 0x80, 0x9d, 0xff)


def mutate(rng, data):
    data = bytearray(data)
    for _ in range(rng.randint(1, 4)):
        choice = rng.random()
        position = rng.randrange(len(data) + 1)
        if choice < 0.25 and data:
            data[position % len(data)] ^= 1 << rng.randrange(8)
        elif choice < 0.45 and data:
            data[position % len(data)] = rng.choice(INTERESTING_BYTES)
        elif choice < 0.6:
            del data[position:position + rng.randint(1, 4)]
        elif choice < 0.75:
            data[position:position] = bytes(rng.randrange(256) for _ in range(rng.randint(1, 4)))
        elif choice < 0.85 and len(data) >= 2:
            data[0:2] = struct.pack(">H", rng.choice((0, 1, len(data) // 4, 65535, rng.randrange(65536))))
        elif choice < 0.95:
            data += data[2:][: rng.randint(0, 22)]
        else:
            del data[position:]
    return bytes(data)


def fuzzed_record(rng):
    record = random_record(rng)
    return mutate(rng, record) if rng.random() < 0.6 else record


BASE64_ALPHABET = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="


def fuzzed_text(rng):
    import base64

    choice = rng.random()
    if choice < 0.6:
        return base64.b64encode(fuzzed_record(rng)).decode()
    if choice < 0.75:
        text = base64.b64encode(random_record(rng)).decode()
        position = rng.randrange(len(text) + 1)
        return text[:position] + rng.choice(("", " ", "\n", "=", "==", "!", "\t", "A", "\u00e9")) + text[position:]
    if choice < 0.9:
        return "".join(rng.choice(BASE64_ALPHABET) for _ in range(rng.choice((0, 1, 3, 4, 8, 64, 9000))))
    return rng.choice(("", "AAA=", "AAA", "A", "====", " AAA= ", "AAA=!", "null", "\\x0000", "A" * 12000))


# ---- SQL values of every argument type --------------------------------------

def quote(text):
    return "'" + text.replace("'", "''") + "'"


def float_literal(rng):
    return rng.choice(("0", "-0", "'NaN'", "'Infinity'", "'-Infinity'", "1e-300", "5e-324", "1.7976931348623157e308",
                       "1e128", "-1e-128", "0.5", "1", "2.05", repr(rng.uniform(-10, 10)),
                       repr(10 ** rng.uniform(-140, 140))))


def bigint_literal(rng):
    return rng.choice(("0", "1", "-1", "2", "9223372036854775807", "(-9223372036854775807 - 1)",
                       str(rng.randint(-2**63, 2**63 - 1)), str(rng.randint(0, 1000))))


def integer_literal(rng):
    return rng.choice(("0", "1", "-1", "-10", "-11", "20", "21", "2147483647", "(-2147483647 - 1)",
                       str(rng.randint(-12, 22)), str(rng.randint(-2**31, 2**31 - 1)), str(rng.randint(-64, 64))))


def interval_literal(rng):
    return quote(rng.choice(("0", "1 microsecond", "1.5 ms", "-3 s", "1 day", "1 mon", "-1 year", "178000000 years",
                             "-178000000 years", "2147483647 days", "00:00:01.25",
                             "%d microseconds" % rng.randint(-2**40, 2**40)))) + "::interval"


def array_literal(rng, element):
    shape = rng.random()
    count = rng.choice((0, 1, 2, 3, 5, 20))
    elements = [element(rng) for _ in range(count)]
    if rng.random() < 0.1 and elements:
        elements[rng.randrange(len(elements))] = "NULL"
    if shape < 0.1 and count:
        return "ARRAY[ARRAY[%s]]" % ", ".join(elements)
    if shape < 0.13 and count:
        return "ARRAY[ARRAY[ARRAY[%s]]]" % ", ".join(elements)
    return "ARRAY[%s]" % ", ".join(elements)


def bytea_literal(rng):
    return "'\\x%s'::bytea" % fuzzed_record(rng).hex()


class Values:
    """SQL expressions for every argument type; binary varrow values go as
    parameters."""

    def __init__(self, rng, varrow_oid):
        self.rng = rng
        self.parameters = []

        class BinaryVarrow(bytes):
            pass

        class BinaryVarrowDumper(Dumper):
            format = Format.BINARY
            oid = varrow_oid

            def dump(self, obj):
                return bytes(obj)

        self.binary_varrow = BinaryVarrow
        self.dumper = BinaryVarrowDumper

    def varrow(self):
        rng = self.rng
        choice = rng.random()
        if choice < 0.5:
            return quote(fuzzed_text(rng)) + "::varrow"
        if choice < 0.7:
            return bytea_literal(rng) + "::varrow"
        if choice < 0.95:
            self.parameters.append(self.binary_varrow(fuzzed_record(rng)))
            return "%s"
        return "NULL::varrow"

    def of_type(self, type_name):
        rng = self.rng
        if rng.random() < 0.04:
            return "NULL::" + type_name
        generators = {
            "varrow": self.varrow,
            "double precision": lambda: float_literal(rng) + "::float8",
            "bigint": lambda: bigint_literal(rng) + "::int8",
            "integer": lambda: integer_literal(rng) + "::int4",
            "interval": lambda: interval_literal(rng),
            "double precision[]": lambda: array_literal(rng, float_literal) + "::float8[]",
            "bigint[]": lambda: array_literal(rng, bigint_literal) + "::int8[]",
            "bytea": lambda: bytea_literal(rng),
            "cstring": lambda: quote(fuzzed_text(rng)) + "::cstring",
            "text": lambda: quote(fuzzed_text(rng)),
            "internal": lambda: "NULL::internal",
        }
        if type_name not in generators:
            raise SystemExit("sql_fuzz.py: no generator for argument type %s; add one" % type_name)
        return generators[type_name]()


# ---- Statements ---------------------------------------------------------------

def function_call(values, function):
    return "%s(%s)" % (function["name"], ", ".join(values.of_type(t) for t in function["arguments"]))


def aggregate_query(values, function):
    rng = values.rng
    rows = rng.choice((0, 1, 2, 5, 30))
    columns = ["c%d" % i for i in range(len(function["arguments"]))]
    tuples = ["(%s)" % ", ".join(values.of_type(t) for t in function["arguments"]) for _ in range(rows)]
    source = "(VALUES %s) AS t(%s)" % (", ".join(tuples), ", ".join(columns)) if rows else \
        "(SELECT %s WHERE false) AS t(%s)" % (", ".join("NULL::%s" % t for t in function["arguments"]),
                                               ", ".join(columns))
    call = "%s(%s)" % (function["name"], ", ".join(columns))
    form = rng.random()
    if form < 0.2:
        return "SELECT %s OVER (ORDER BY c0) FROM %s" % (call, source)
    if form < 0.35 and len(columns) == 1:
        return "SELECT %s(DISTINCT c0) FROM %s" % (function["name"], source)
    if form < 0.45:
        return "SELECT c0::text, %s FROM %s GROUP BY c0" % (call, source)
    return "SELECT %s FROM %s" % (call, source)


def copy_binary_stream(rows):
    out = bytearray(b"PGCOPY\n\xff\r\n\x00" + struct.pack(">ii", 0, 0))
    for record in rows:
        out += struct.pack(">h", 1)
        out += struct.pack(">i", -1) if record is None else struct.pack(">i", len(record)) + record
    out += struct.pack(">h", -1)
    return bytes(out)


class Fuzzer:
    def __init__(self, connection, rng, log_path):
        self.connection = connection
        self.rng = rng
        self.log_path = log_path
        self.statements = 0
        self.errors = collections.Counter()
        self.accepted_values = 0
        with connection.cursor() as cursor:
            cursor.execute("SELECT 'varrow'::regtype::oid, pg_postmaster_start_time()")
            self.varrow_oid, self.start_time = cursor.fetchone()
            cursor.execute("""
                SELECT p.proname, p.prokind, coalesce(array_agg(format_type(a.type, NULL) ORDER BY a.position)
                                                      FILTER (WHERE a.type IS NOT NULL), '{}')
                FROM pg_proc p
                JOIN pg_depend d ON d.classid = 'pg_proc'::regclass AND d.objid = p.oid AND d.deptype = 'e'
                JOIN pg_extension e ON e.oid = d.refobjid AND e.extname = 'varrow'
                LEFT JOIN LATERAL unnest(p.proargtypes) WITH ORDINALITY AS a(type, position) ON true
                GROUP BY p.oid, p.proname, p.prokind ORDER BY p.proname, p.oid""")
            self.functions = [{"name": name, "kind": kind, "arguments": list(arguments)}
                              for name, kind, arguments in cursor.fetchall()]
        self.values = Values(rng, self.varrow_oid)
        connection.adapters.register_dumper(self.values.binary_varrow, self.values.dumper)
        self.cursor = connection.cursor()
        self.cursor.execute("CREATE TABLE copied (h varrow)")
        # Values that COPY let in, with values of the other aggregated types,
        # for the aggregates' parallel plans (partial states in workers).
        self.cursor.execute("CREATE TABLE pool (h varrow, v double precision, i interval, n bigint)")
        self.cursor.execute("SET parallel_setup_cost = 0; SET parallel_tuple_cost = 0; "
                            "SET min_parallel_table_scan_size = 0")

    def run(self, sql, parameters=(), binary=False):
        """One statement: an error is a fine answer, a lost connection, a
        timeout or a corrupted value is a finding."""
        self.statements += 1
        try:
            self.cursor.execute(sql, parameters or None, binary=binary)
            return self.cursor.fetchall() if self.cursor.description else []
        except psycopg.Error as error:
            self.judge(error, "%s\nparameters: %r" % (sql[:4000], [bytes(p).hex() for p in parameters]))
            return None

    def judge(self, error, what):
        if self.connection.broken:
            raise Finding("the server did not answer (connection lost): %s\nfor: %s" % (error, what))
        if error.sqlstate in (CORRUPTED, TIMED_OUT):
            raise Finding("SQLSTATE %s (%s)\nfor: %s" % (error.sqlstate, error, what))
        self.errors[error.sqlstate] += 1

    def statement(self):
        rng = self.rng
        self.values.parameters = []
        choice = rng.random()
        if choice < 0.02:
            # Parallel workers run the functions and ship their results.
            self.run("SET force_parallel_mode = %s" % rng.choice(("on", "off")))
            return None
        if choice < 0.1:
            return self.copy_binary()
        if choice < 0.2:
            return self.round_trip()
        if choice < 0.23:
            return self.pool_aggregates()
        function = rng.choice(self.functions)
        if function["kind"] == "a":
            sql = aggregate_query(self.values, function)
        else:
            sql = "SELECT " + function_call(self.values, function)
            if function["name"] == "varrow_buckets" and rng.random() < 0.5:
                sql = "SELECT * FROM " + sql[len("SELECT "):]
        self.run(sql, self.values.parameters, binary=rng.random() < 0.3)

    def copy_binary(self):
        rng = self.rng
        rows = [None if rng.random() < 0.05 else fuzzed_record(rng) for _ in range(rng.choice((1, 2, 10)))]
        self.statements += 1
        try:
            with self.cursor.copy("COPY copied (h) FROM STDIN (FORMAT BINARY)") as copy:
                copy.write(copy_binary_stream(rows))
        except psycopg.Error as error:
            self.judge(error, "COPY BINARY of the records %r" % [r.hex() if r else None for r in rows])
        self.check_copied()

    def check_copied(self):
        """Everything COPY let in reads back as itself, through text and bytea."""
        result = self.run("SELECT count(h), count(h) FILTER (WHERE h::text::varrow = h AND h::bytea::varrow = h "
                          "AND varrow_count(h + 'AAA=') = varrow_count(h)) FROM copied")
        if result is None:
            raise Finding("values accepted by COPY BINARY do not read back")
        total, sound = result[0]
        if total != sound:
            raise Finding("%d of %d values accepted by COPY BINARY change in a round trip" % (total - sound, total))
        self.accepted_values += total
        count = self.rng.choice(("0", "1", "3", "4611686018427387904"))
        self.run("INSERT INTO pool SELECT h, %s, %s, %s FROM copied"
                 % (float_literal(self.rng), interval_literal(self.rng), count))
        self.run("TRUNCATE copied")

    POOL_AGGREGATES = ("SELECT varrow_merge(h)::text, varrow_agg(v)::text, varrow_agg(v, n)::text, "
                       "varrow_agg(i)::text, varrow_agg(i, n)::text FROM pool")
    POOL_GROUPS = ("SELECT count(DISTINCT h), (SELECT count(*) FROM (SELECT h FROM pool WHERE h IS NOT NULL "
                   "GROUP BY h) AS g), count(DISTINCT h::text) FROM pool")

    def pool_aggregates(self):
        """The aggregates over the pool give the same histograms serially and
        with partial states in parallel workers, and grouping by value agrees
        with grouping by text (the text form is canonical)."""
        self.run("SET max_parallel_workers_per_gather = 0")
        serial = self.run(self.POOL_AGGREGATES)
        self.run("SET max_parallel_workers_per_gather = 2")
        parallel = self.run(self.POOL_AGGREGATES)
        groups = self.run(self.POOL_GROUPS)
        if serial is not None and parallel is not None and serial != parallel:
            raise Finding("the aggregates differ serially and in parallel:\n%r\n%r" % (serial, parallel))
        if groups is not None and len(set(groups[0])) != 1:
            raise Finding("values grouped by content (count(DISTINCT): %d, GROUP BY: %d) and by text (%d) disagree"
                          % groups[0])
        if self.rng.random() < 0.1:
            self.run("TRUNCATE pool")

    def round_trip(self):
        """A value the type accepts (as text or as a binary parameter) is the
        same after its text and bytea round trips."""
        value = self.values.varrow()
        result = self.run("SELECT v::text::varrow = v AND v::bytea::varrow = v AND varrow(varrow_send(v)) = v "
                          "FROM (SELECT %s AS v) AS t WHERE v IS NOT NULL" % value, self.values.parameters)
        if result and result[0][0] is not True:
            raise Finding("a value changes in its round trip: %s %r" % (value, self.values.parameters))
        if result:
            self.accepted_values += 1

    def check_server(self):
        with self.connection.cursor() as cursor:
            cursor.execute("SELECT pg_postmaster_start_time()")
            if cursor.fetchone()[0] != self.start_time:
                raise Finding("the server restarted")
        with open(self.log_path, errors="replace") as log:
            crashes = [line for line in log if CRASH_PATTERN.search(line)]
        if crashes:
            raise Finding("the server log reports a crash:\n" + "".join(crashes[:20]))


# ---- The throw-away cluster ---------------------------------------------------

def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Cluster:
    """initdb in a temporary directory; the server listens on 127.0.0.1 only,
    at a free port, and is stopped and removed on exit, pass or fail. As root,
    the server runs as the postgres user (it refuses to run as root)."""

    def __init__(self, bindir):
        self.bindir = bindir
        self.directory = tempfile.mkdtemp(prefix="varrow-sql-fuzz-")
        self.data = os.path.join(self.directory, "data")
        self.log = os.path.join(self.directory, "server.log")
        self.user = None
        self.started = False
        if os.geteuid() == 0:
            self.user = pwd.getpwnam("postgres")
            os.chown(self.directory, self.user.pw_uid, self.user.pw_gid)

    def command(self, *arguments, check=True):
        return subprocess.run([os.path.join(self.bindir, arguments[0])] + list(arguments[1:]), check=check,
                              user=self.user.pw_uid if self.user else None,
                              group=self.user.pw_gid if self.user else None, extra_groups=[] if self.user else None,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, cwd=self.directory)

    def start(self):
        self.command("initdb", "--no-sync", "-A", "trust", "-U", "postgres", "-E", "UTF8", "-D", self.data)
        for attempt in range(5):
            self.port = free_port()
            options = ("-c listen_addresses=127.0.0.1 -c port=%d -c unix_socket_directories='%s' -c fsync=off "
                       "-c restart_after_crash=off -c max_connections=8 -c shared_buffers=16MB "
                       "-c statement_timeout=%d -c log_min_messages=log"
                       % (self.port, self.directory, STATEMENT_TIMEOUT_MS))
            result = self.command("pg_ctl", "-D", self.data, "-l", self.log, "-o", options, "-w", "-t", "60",
                                  "start", check=False)
            if result.returncode == 0:
                self.started = True
                return
            time.sleep(0.2)
        raise SystemExit("could not start the server:\n%s\n%s" % (result.stdout, self.log_text()))

    def log_text(self):
        with contextlib.suppress(OSError), open(self.log, errors="replace") as log:
            return log.read()
        return ""

    def close(self):
        if self.started:
            self.command("pg_ctl", "-D", self.data, "-m", "immediate", "-w", "stop", check=False)
        shutil.rmtree(self.directory, ignore_errors=True)


# ---- Main -----------------------------------------------------------------------

def install_extension(build_dir):
    result = subprocess.run(["cmake", "--install", build_dir, "--component", "postgres"], stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, text=True)
    if result.returncode != 0:
        raise SystemExit("could not install the extension:\n" + result.stdout)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build_dir")
    parser.add_argument("pg_config")
    parser.add_argument("--statements", type=int, default=2000)
    parser.add_argument("--seed", type=int, default=1)
    arguments = parser.parse_args()
    # A terminated run (a CTest timeout) still stops and removes its cluster.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("terminated"))
    bindir = subprocess.run([arguments.pg_config, "--bindir"], check=True, stdout=subprocess.PIPE,
                            text=True).stdout.strip()
    rng = random.Random(arguments.seed)
    with open(INSTALL_LOCK, "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        install_extension(arguments.build_dir)
        cluster = Cluster(bindir)
        try:
            cluster.start()
            with psycopg.connect(host="127.0.0.1", port=cluster.port, user="postgres", dbname="postgres",
                                 autocommit=True) as connection:
                connection.execute("CREATE EXTENSION varrow")
                fuzzer = Fuzzer(connection, rng, cluster.log)
                try:
                    for _ in range(arguments.statements):
                        fuzzer.statement()
                    fuzzer.check_server()
                except Finding as finding:
                    print("FINDING (seed %d, statement %d): %s" % (arguments.seed, fuzzer.statements, finding))
                    print("end of the server log:\n" + "\n".join(line[:300] for line in
                                                                  cluster.log_text().splitlines()[-40:]))
                    return 1
                print("%d statements (%d errors, %d accepted values checked) over %d functions and aggregates, "
                      "seed %d: the server answered every one and never restarted"
                      % (fuzzer.statements, sum(fuzzer.errors.values()), fuzzer.accepted_values,
                         len(fuzzer.functions), arguments.seed))
                print("errors by SQLSTATE: " + ", ".join("%s %d" % item for item in fuzzer.errors.most_common()))
        finally:
            cluster.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
