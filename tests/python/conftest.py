"""Paths and helpers for the Python module's tests, run by ctest with
PYTHONPATH naming the build's python/ directory, VORPIX_SOURCE_DIR the
source tree and VORPIX_TOOL the built tool."""
import os
import subprocess
import sys

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
SOURCE = os.environ.get("VORPIX_SOURCE_DIR", os.path.abspath(os.path.join(HERE, "..", "..")))
FIXTURES = os.path.join(SOURCE, "tests", "fixtures")


def esri(name):
    return os.path.join(FIXTURES, "esri", name)


@pytest.fixture(scope="session")
def corpus():
    """The directory of real shapefiles that fetch_corpus.sh fetches from
    Debian's archive; the test is skipped when it cannot be reached."""
    script = os.path.join(FIXTURES, "esri", "fetch_corpus.sh")
    run = subprocess.run(["bash", script], capture_output=True, text=True)
    if run.returncode != 0 or not run.stdout.strip():
        pytest.skip("the shapefile corpus cannot be fetched (no Debian archive reachable)")
    return run.stdout.strip().splitlines()[-1]


@pytest.fixture(scope="session")
def tool():
    path = os.environ.get("VORPIX_TOOL")
    if not path or not os.path.exists(path):
        pytest.skip("VORPIX_TOOL does not name the built tool")
    return path


@pytest.fixture(scope="session")
def hostile_dir(tmp_path_factory):
    """The files of tests/fixtures/hostile/make_hostile.py."""
    out = tmp_path_factory.mktemp("hostile")
    subprocess.run([sys.executable, os.path.join(FIXTURES, "hostile", "make_hostile.py"), str(out)], check=True)
    return str(out)
