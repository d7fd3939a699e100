"""The examples run, and the shipped type information checks against them."""
import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
EXAMPLES = sorted(p for p in (ROOT / "examples").glob("*.py") if p.name != "claims.py")


def _env():
    env = dict(os.environ)
    # Run against the module under test, not an older installed copy.
    import zorlet_native
    env["PYTHONPATH"] = os.pathsep.join([str(Path(zorlet_native.__file__).parent), env.get("PYTHONPATH", "")])
    return env


@pytest.mark.parametrize("script", EXAMPLES, ids=lambda p: p.name)
def test_example_runs(script):
    out = subprocess.run([sys.executable, str(script)], cwd=script.parent, capture_output=True, text=True,
                         timeout=120, env=_env())
    assert out.returncode == 0, out.stderr
    assert out.stdout.strip()


def test_type_information_checks_against_examples():
    pytest.importorskip("mypy")
    env = _env()
    env["MYPYPATH"] = str(ROOT / "zorlet-py")
    out = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--no-incremental", "--ignore-missing-imports",
                          "--cache-dir", os.devnull, *map(str, EXAMPLES), str(ROOT / "examples" / "claims.py")],
                         cwd=ROOT / "examples", capture_output=True, text=True, timeout=300, env=env)
    assert out.returncode == 0, out.stdout + out.stderr


def test_stub_lists_exactly_the_class_methods():
    import ast
    import zorlet_native
    tree = ast.parse((ROOT / "zorlet-py" / "zorlet_native.pyi").read_text())
    cls = next(n for n in tree.body if isinstance(n, ast.ClassDef) and n.name == "NativeStore")
    stubbed = {n.name for n in cls.body if isinstance(n, ast.FunctionDef)} - {"__init__"}
    real = {n for n, v in vars(zorlet_native.NativeStore).items()
            if callable(v) or isinstance(v, staticmethod)} - {"__new__", "__init__"}
    assert stubbed == real
    assert len(real) == 78
