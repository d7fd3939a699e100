"""The benchmark command keeps working: a reduced run completes and prints its table.
No figure is checked here; timings belong to bench/ alone."""
import os
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent


def test_quick_benchmark_prints_its_table(tmp_path):
    import zorlet_native
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join([str(Path(zorlet_native.__file__).parent), env.get("PYTHONPATH", "")])
    out = subprocess.run(
        [sys.executable, str(ROOT / "bench" / "run.py"), "--quick", "--repeat", "1", "--claims", "5000",
         "--search-entities", "5000", "--no-install", "--workdir", str(tmp_path)],
        capture_output=True, text=True, timeout=110, env=env)
    assert out.returncode == 0, out.stderr[-3000:]
    header = out.stdout.splitlines()
    assert any(line.split()[:3] == ["scenario", "unit", "zorlet"] for line in header), out.stdout
    assert "ingest: insert_bulk, normal mode" in out.stdout
    assert "worker failed" not in out.stdout, out.stdout
