"""The user guide's Python examples of the recorder and of Dask, run as written
from the source tree, where their example files lie."""
import os
import re
import tempfile

import pytest

GUIDE = os.path.join(os.environ.get("VARROW_SOURCE_DIR", "."), "docs", "USER_GUIDE.md")


def python_blocks():
    with open(GUIDE) as guide:
        return re.findall(r"^```python\n(.*?)^```$", guide.read(), flags=re.S | re.M)


def block_with(text):
    (block,) = [b for b in python_blocks() if text in b]
    return block


@pytest.mark.parametrize("marker", ["varrow.Recorder()", "import varrow.dask"])
def test_guide_example_runs(marker, monkeypatch):
    monkeypatch.chdir(os.path.dirname(os.path.dirname(GUIDE)))
    with tempfile.TemporaryDirectory() as scratch:
        monkeypatch.setenv("DASK_TEMPORARY_DIRECTORY", scratch)  # the Dask workers' scratch space
        exec(compile(block_with(marker), GUIDE, "exec"), {"__name__": "guide"})
