"""Shared fixtures of the Python module's tests.

ctest sets MERVOX_TEST_DATA (tests/data), MERVOX_CLI (the mervox command of
the same build) and PYTHONPATH (the module in the build tree).
"""

import os
import pathlib
import subprocess

import numpy as np
import pytest

DATA = pathlib.Path(os.environ.get("MERVOX_TEST_DATA", pathlib.Path(__file__).parents[1] / "data"))
CORPUS = DATA / "corpus"


def fnv1a64(samples):
    """The corpus digest: FNV-1a 64 of the samples as s16le bytes."""
    h = 0xCBF29CE484222325
    for byte in np.asarray(samples, dtype="<i2").tobytes():
        h = ((h ^ byte) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return "%016x" % h


def expected_digests():
    """name -> (frames, digest) from the corpus's expected-digests.txt."""
    table = {}
    for line in (CORPUS / "expected-digests.txt").read_text().splitlines():
        if line and not line.startswith("#"):
            name, frames, digest = line.split()
            table[name] = (int(frames), digest)
    return table


@pytest.fixture(scope="session")
def corpus():
    return CORPUS


@pytest.fixture(scope="session")
def cli():
    """Runs the mervox command: cli(*args) -> CompletedProcess (bytes)."""
    path = os.environ.get("MERVOX_CLI")
    if not path:
        pytest.fail("MERVOX_CLI is not set (run the tests through ctest)")

    def run(*args, check=True):
        result = subprocess.run([path, *map(str, args)], capture_output=True)
        if check and result.returncode != 0:
            raise AssertionError(f"mervox {args} failed: {result.stderr.decode()}")
        return result

    return run


def command_message(result, kind="error"):
    """The text after 'mervox: error: ' (or warning) on the command's stderr."""
    prefix = f"mervox: {kind}: "
    lines = [l for l in result.stderr.decode().splitlines() if l.startswith(prefix)]
    assert len(lines) == 1, result.stderr
    return lines[0][len(prefix):]
