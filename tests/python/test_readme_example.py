"""The Python examples of the README and of doc/python.md run as written."""

import os
import pathlib
import re
import subprocess
import sys

import pytest

TOP = pathlib.Path(__file__).parents[2]


def python_blocks(text):
    return re.findall(r"```python\n(.*?)```", text, re.S)


def readme_examples():
    text = (TOP / "README.md").read_text()
    section = text.split("\n### Python\n", 1)[1].split("\n## ", 1)[0].split("\n### ", 1)[0]
    return python_blocks(section)


def page_examples():
    return python_blocks((TOP / "doc" / "python.md").read_text())


def test_the_readme_shows_one_five_line_example():
    examples = readme_examples()
    assert len(examples) == 1
    assert len(examples[0].strip().splitlines()) == 5


@pytest.mark.parametrize("where,example", [("README.md", e) for e in readme_examples()] +
                         [("doc/python.md", e) for e in page_examples()])
def test_example_runs(where, example):
    # From the top of the source tree, where the examples' paths are.
    result = subprocess.run([sys.executable, "-c", example], cwd=TOP, capture_output=True, text=True,
                            env=dict(os.environ, PYTHONWARNINGS="error"))
    assert result.returncode == 0, where + ":\n" + result.stderr
    if "print(" in example:
        assert result.stdout.strip(), where + ": the example prints what it decoded"


def test_the_page_has_examples():
    assert len(page_examples()) >= 2
