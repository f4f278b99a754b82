"""The README's Python example runs as written."""

import os
import pathlib
import re
import subprocess
import sys

README = pathlib.Path(__file__).parents[2] / "README.md"


def test_readme_example_runs():
    text = README.read_text()
    section = text.split("\n## Python\n", 1)[1].split("\n## ", 1)[0]
    example = re.search(r"```python\n(.*?)```", section, re.S).group(1)
    assert len(example.strip().splitlines()) == 5
    # From the top of the source tree, where the example's paths are.
    result = subprocess.run([sys.executable, "-c", example], cwd=README.parent, capture_output=True, text=True,
                            env=dict(os.environ, PYTHONWARNINGS="error"))
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip(), "the example prints what it decoded"
