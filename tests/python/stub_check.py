#!/usr/bin/python3
"""The package's type stub (mervox/__init__.pyi, with py.typed) against the
built module, found on PYTHONPATH as ctest sets it:

1. mypy's stubtest (Debian package python3-mypy): every name, class,
   property and constant of the stub exists at run time and the other way
   round, and the stub is valid for mypy.
2. pybind11 functions have no signature stubtest can read, so their
   parameters (names and defaults) are compared with the signature
   pybind11 puts on their docstring's first line.

  stub_check.py ALLOWLIST

Exit status 77: skipped, mypy missing (1 instead under CI=true).
"""
import ast
import importlib.util
import os
import pathlib
import re
import subprocess
import sys
import tempfile

SKIP = 77


def stub_parameters(stub):
    """{"decode": [("data", None), ("loss", "None"), ...], "Decoder.reset": ...}:
    the parameters of the stub's functions and methods (self left out, "*"
    before keyword-only ones), with the repr of their defaults."""
    found = {}

    def scan(body, prefix):
        for node in body:
            if isinstance(node, ast.ClassDef):
                scan(node.body, node.name + ".")
            elif isinstance(node, ast.FunctionDef) and not any(
                isinstance(d, ast.Name) and d.id == "property" for d in node.decorator_list
            ):
                args = node.args.args
                defaults = [None] * (len(args) - len(node.args.defaults)) + [
                    repr(ast.literal_eval(d)) for d in node.args.defaults
                ]
                parameters = [(a.arg, d) for a, d in zip(args, defaults) if a.arg != "self"]
                if node.args.kwonlyargs:  # pybind11's signature shows a bare "*" before them
                    parameters.append(("*", None))
                    parameters += [
                        (a.arg, None if d is None else repr(ast.literal_eval(d)))
                        for a, d in zip(node.args.kwonlyargs, node.args.kw_defaults)
                    ]
                found[prefix + node.name] = parameters

    scan(ast.parse(stub.read_text()).body, "")
    return found


def runtime_parameters(module, name):
    """The parameters of pybind11's signature line "name(a: T, b: T = d) -> R"."""
    target = module
    for part in name.split("."):
        target = getattr(target, part)
    line = target.__doc__.splitlines()[0]
    match = re.fullmatch(r"\w+\((.*)\) -> .*", line)
    if not match:
        raise AssertionError("%s: no pybind11 signature in %r" % (name, line))
    parameters = []
    for parameter in filter(None, (p.strip() for p in match.group(1).split(","))):
        head, _, default = parameter.partition(" = ")
        parameters.append((head.split(":")[0], default or None))
    return [p for p in parameters if p[0] != "self"]


def main(allowlist):
    if importlib.util.find_spec("mypy") is None:
        message = "mypy not found for %s (Debian package python3-mypy)" % sys.executable
        if os.environ.get("CI") == "true":
            print("FAIL: " + message + " (not skipped: CI=true)")
            return 1
        print("SKIPPED: " + message)
        return SKIP

    import mervox

    package = pathlib.Path(mervox.__file__).parent
    for name in ("__init__.pyi", "py.typed"):
        if not (package / name).is_file():
            print("FAIL: %s is not in the built package %s" % (name, package))
            return 1

    # In a folder of its own: mypy writes its cache into the current one.
    with tempfile.TemporaryDirectory() as scratch:
        result = subprocess.run([sys.executable, "-m", "mypy.stubtest", "mervox", "--allowlist", allowlist],
                                cwd=scratch)
    if result.returncode != 0:
        print("FAIL: stubtest found the stub and the module apart")
        return 1

    mismatches = 0
    for name, stub in sorted(stub_parameters(package / "__init__.pyi").items()):
        runtime = runtime_parameters(mervox, name)
        if stub != runtime:
            print("FAIL: %s: the stub has parameters %s, the module %s" % (name, stub, runtime))
            mismatches += 1
        else:
            print("%s(%s)" % (name, ", ".join(p if d is None else p + "=" + d for p, d in stub)))
    return 1 if mismatches else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
