"""Shared by the Python suites: the built tool, the test data, and support.py's servers as
fixtures."""
import os
import subprocess

import pytest

import support

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "..", "data")
TOOL = os.environ.get("VARNEL_TOOL", os.path.join(HERE, "..", "..", "build", "tools", "varnel"))


def run_tool(*args):
    return subprocess.run([TOOL, *map(str, args)], capture_output=True, text=True, check=True)


@pytest.fixture(scope="session")
def postgis():
    """A libpq connection string to a fresh database with PostGIS; skipped without them."""
    try:
        with support.postgis_server() as dsn:
            yield dsn
    except support.Missing as missing:
        pytest.skip(str(missing))


@pytest.fixture
def cluster(tmp_path):
    """A client of a scheduler and two worker processes on loopback, and the workers."""
    try:
        with support.dask_cluster(str(tmp_path), 2) as running:
            yield running
    except support.Missing as missing:
        pytest.skip(str(missing))
