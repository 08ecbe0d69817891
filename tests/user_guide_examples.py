#!/usr/bin/env python3
"""Runs the examples of docs/USER_GUIDE.md as written, on the example data.

    user_guide_examples.py <build-dir> <source-dir>

How the guide's code blocks are read (write new sections to these rules and
they are run too):

- A fence whose info string starts with `sh`, `python` or `sql` is run; any
  other (`c`, `cpp`, `output`, none) is not.  A second word `norun` keeps a
  block from running: installation as root, a Citus cluster.
- Every block runs in a scratch folder that looks like the top of a built
  source tree: `examples/` is the source tree's example data, and
  `build/release` is the build under test.  What a block writes is removed
  at the end.
- `sh` blocks: each one by `bash -e -o pipefail`, the built programs first on
  PATH, then the interpreter running this script as `python3`, and the
  built Python module on PYTHONPATH.
- `python` blocks: one interpreter for all of them, in the guide's order,
  as a notebook runs its cells (a block sees the names that earlier ones
  defined), one top-level statement at a time.  A statement whose comment
  starts with an exception's name and a colon (`# DistfnError: ...`) must
  raise that exception; every other statement must not raise.
- `sql` blocks: one psql session (stopping at the first error) for all of
  them, in the guide's order, in a throw-away cluster on 127.0.0.1 that is
  stopped and removed at the end, with the built extension installed (the
  server of the build's VARROW_PG_CONFIG).  Skipped, with a message, when
  the build leaves the extension out.
- An `output` fence after a block that runs (before the next block that
  runs) holds output that block must print: its lines, trailing spaces
  aside, must appear together and in order in what the block wrote.
"""
import ast
import contextlib
import fcntl
import io
import os
import re
import subprocess
import sys
import tempfile
import time

FENCE = re.compile(r"^```([^\n`]*)\n(.*?)^```[ \t]*$", re.S | re.M)
RUN_LANGUAGES = ("sh", "python", "sql")
EXPECTED_EXCEPTION = re.compile(r"#\s*([A-Za-z_][A-Za-z0-9_]*(?:Error|Exception)):")


class Block:
    def __init__(self, language, text, line):
        self.language = language
        self.text = text
        self.line = line  # of the opening fence
        self.expected = []  # the output fences that follow it

    def where(self):
        return "USER_GUIDE.md:%d (%s)" % (self.line, self.language)


def read_blocks(guide_text):
    """The blocks to run, in order, each with the output fences after it."""
    blocks = []
    last = None
    for match in FENCE.finditer(guide_text):
        words = match.group(1).split()
        language = words[0] if words else ""
        line = guide_text.count("\n", 0, match.start()) + 1
        if language == "output":
            if last is not None:
                last.expected.append(match.group(2))
        elif language in RUN_LANGUAGES and "norun" not in words[1:]:
            last = Block(language, match.group(2), line)
            blocks.append(last)
        else:
            last = None
    return blocks


def lines_of(text):
    return [line.rstrip() for line in text.strip("\n").splitlines()]


def check_output(block, printed):
    """Every output fence of the block appears, line by line, in what it printed."""
    actual = lines_of(printed)
    for expected in block.expected:
        want = lines_of(expected)
        if not any(actual[i:i + len(want)] == want for i in range(len(actual) - len(want) + 1)):
            raise AssertionError("%s: the output shown is not printed.\nshown:\n%s\nprinted:\n%s"
                                 % (block.where(), "\n".join(want), "\n".join(actual)))


# ---- sh ---------------------------------------------------------------------

def run_sh(block, environment, folder):
    result = subprocess.run(["bash", "-e", "-o", "pipefail", "-c", block.text], cwd=folder, env=environment,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=300)
    if result.returncode != 0:
        raise AssertionError("%s: exit status %d\n%s\n%s" % (block.where(), result.returncode, block.text,
                                                            result.stdout))
    check_output(block, result.stdout)


# ---- python -------------------------------------------------------------------

def expected_exception(statement, source_lines):
    """The exception name a statement's comment announces, or None."""
    for line in source_lines[statement.lineno - 1:statement.end_lineno]:
        found = EXPECTED_EXCEPTION.search(line)
        if found:
            return found.group(1)
    return None


def raised_as(error, name):
    return any(cls.__name__ == name for cls in type(error).__mro__)


def run_python(block, namespace):
    tree = ast.parse(block.text, filename=block.where())
    source_lines = block.text.splitlines()
    printed = io.StringIO()
    for statement in tree.body:
        code = compile(ast.Module([statement], type_ignores=[]), block.where(), "exec")
        wanted = expected_exception(statement, source_lines)
        where = "%s, line %d of the block" % (block.where(), statement.lineno)
        try:
            with contextlib.redirect_stdout(printed):
                exec(code, namespace)
        except Exception as error:  # noqa: BLE001 - any failure of the example is the finding
            if wanted and raised_as(error, wanted):
                continue
            raise AssertionError("%s raised %s: %s" % (where, type(error).__name__, error)) from error
        if wanted:
            raise AssertionError("%s did not raise %s" % (where, wanted))
    check_output(block, printed.getvalue())


# ---- sql ------------------------------------------------------------------------

def run_sql(blocks, build_dir, source_dir, pg_config, folder):
    sys.path.insert(0, os.path.join(source_dir, "postgres", "test"))
    from sql_fuzz import INSTALL_LOCK, Cluster, install_extension  # the suite's throw-away cluster

    bindir = subprocess.run([pg_config, "--bindir"], check=True, stdout=subprocess.PIPE,
                            text=True).stdout.strip()
    with open(INSTALL_LOCK, "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        install_extension(build_dir)
        cluster = Cluster(bindir)
        try:
            cluster.start()
            run_sql_session(blocks, os.path.join(bindir, "psql"), cluster.port, folder)
        finally:
            cluster.close()


def run_sql_session(blocks, psql, port, folder):
    """All blocks in one session; each block's output is told apart by a
    marker line echoed after it."""
    marker = "-- end of guide block %d"
    script = "".join("%s\n\\echo '%s'\n" % (block.text, marker % i) for i, block in enumerate(blocks))
    result = subprocess.run([psql, "-X", "-q", "-v", "ON_ERROR_STOP=1", "-h", "127.0.0.1", "-p", str(port),
                             "-U", "postgres", "-d", "postgres"], input=script, cwd=folder,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=600)
    printed = result.stdout
    for i, block in enumerate(blocks):
        end = printed.find(marker % i)
        if end < 0:
            raise AssertionError("%s failed (psql exit status %d):\n%s\n%s"
                                 % (block.where(), result.returncode, block.text, printed))
        check_output(block, printed[:end])
        printed = printed[end + len(marker % i):]
    if result.returncode != 0:
        raise AssertionError("psql exit status %d:\n%s" % (result.returncode, result.stdout))


# ---- main -------------------------------------------------------------------------

def build_setting(build_dir, name):
    """A variable of the build's CMake cache, or "" when it is not set."""
    with open(os.path.join(build_dir, "CMakeCache.txt")) as cache:
        for line in cache:
            if line.startswith(name + ":"):
                return line.split("=", 1)[1].strip()
    return ""


def scratch_tree(folder, build_dir, source_dir):
    os.symlink(os.path.join(source_dir, "examples"), os.path.join(folder, "examples"))
    os.mkdir(os.path.join(folder, "build"))
    os.symlink(build_dir, os.path.join(folder, "build", "release"))


def main():
    build_dir, source_dir = os.path.realpath(sys.argv[1]), os.path.realpath(sys.argv[2])
    with open(os.path.join(source_dir, "docs", "USER_GUIDE.md")) as guide:
        blocks = read_blocks(guide.read())
    python_dir = os.path.join(build_dir, "python")
    # The programs, then the interpreter the module is built for (this one) as python3.
    path = os.pathsep.join([os.path.join(build_dir, "analyzer"), os.path.dirname(sys.executable), os.environ["PATH"]])
    environment = dict(os.environ, PATH=path,
                       PYTHONPATH=python_dir, PYTHONDONTWRITEBYTECODE="1", MPLBACKEND="Agg")
    with tempfile.TemporaryDirectory(prefix="varrow-guide-") as folder:
        scratch_tree(folder, build_dir, source_dir)
        environment["DASK_TEMPORARY_DIRECTORY"] = folder
        os.environ.update(MPLBACKEND="Agg", DASK_TEMPORARY_DIRECTORY=folder)
        sys.path.insert(0, python_dir)
        os.chdir(folder)
        namespace = {"__name__": "guide"}
        counts = {language: 0 for language in RUN_LANGUAGES}
        for block in blocks:
            started = time.monotonic()
            if block.language == "sh":
                run_sh(block, environment, folder)
            elif block.language == "python":
                run_python(block, namespace)
            else:
                continue
            counts[block.language] += 1
            print("ok   %s in %.1f s" % (block.where(), time.monotonic() - started))
        sql_blocks = [block for block in blocks if block.language == "sql"]
        if build_setting(build_dir, "VARROW_BUILD_POSTGRES") == "ON":
            started = time.monotonic()
            run_sql(sql_blocks, build_dir, source_dir, build_setting(build_dir, "VARROW_PG_CONFIG"), folder)
            counts["sql"] = len(sql_blocks)
            print("ok   the sql blocks in %.1f s" % (time.monotonic() - started))
        else:
            print("sql blocks skipped: the build leaves the PostgreSQL extension out")
        os.chdir(source_dir)
    print("ran %(sh)d sh, %(python)d python and %(sql)d sql blocks of the user guide" % counts)


if __name__ == "__main__":
    main()
