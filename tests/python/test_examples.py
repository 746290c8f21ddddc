"""Every example runs to completion."""

import pathlib
import subprocess
import sys

import pytest

EXAMPLES = sorted((pathlib.Path(__file__).parents[2] / "examples").glob("*.py"))


@pytest.mark.subprocess
@pytest.mark.parametrize("path", EXAMPLES, ids=[p.name for p in EXAMPLES])
def test_example_runs(path):
    for library in ("pandas", "dask"):  # the optional libraries an example imports
        if f"import {library}" in path.read_text():
            pytest.importorskip(library, reason=f"{path.name} needs {library}")
    r = subprocess.run([sys.executable, str(path)], capture_output=True, text=True, timeout=300)
    assert r.returncode == 0, r.stderr
    assert r.stdout.strip()


def test_there_are_examples():
    assert {p.name for p in EXAMPLES} >= {"quickstart.py", "clock_table.py", "round_trip.py", "dask_chunks.py"}
