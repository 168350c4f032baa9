"""The tests run against a build: VELLIX_LIBRARY names its libvellix.so and
VELLIX_TOOL its vellix tool (the test command sets both)."""
import os
import subprocess
import sys

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))  # the package as it is in the tree
sys.path.insert(0, HERE)

SOURCE_DIR = os.path.dirname(os.path.dirname(HERE))
SAMPLE = os.path.join(SOURCE_DIR, "samples", "sample.pdf")


def _required(name):
    value = os.environ.get(name)
    if not value or not os.path.exists(value):
        pytest.fail(f"{name} must name the build's file (got {value!r})", pytrace=False)
    return value


@pytest.fixture(scope="session")
def library():
    return _required("VELLIX_LIBRARY")


@pytest.fixture(scope="session")
def tool():
    path = _required("VELLIX_TOOL")

    def run(*args, input=None):
        return subprocess.run([path, *args], input=input, capture_output=True)
    run.path = path
    return run
