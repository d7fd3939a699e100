"""One writer process and several reader processes on one store for a bounded time:
readers always see whole claims and consistent snapshots, and reader slots come back."""
import subprocess
import sys
import textwrap

from test_crash import child_env

from zorlet_native import NativeStore

READER = """
    import sys, time
    from zorlet_native import NativeStore
    s = NativeStore.open_read_only({path!r}) if {read_only} else NativeStore({path!r})
    deadline = time.time() + {seconds}
    checks = 0
    while time.time() < deadline:
        n = s.count_claims()
        for k in range(0, n // 200 + 1, 3):
            claims = s.claims_by_source_id(f"src{{k}}")
            # A batch commits in one transaction: a snapshot holds all of it or none.
            assert len(claims) in (0, 200), (k, len(claims))
            for c in claims[:3]:
                assert c["subject"]["id"] and c["provenance"]["source_id"] == f"src{{k}}"
                assert s.get_claim(c["claim_id"])["claim_id"] == c["claim_id"]
            checks += 1
    s.close()
    print(checks)
"""

WRITER = """
    import time
    from factory import make_claim
    from zorlet_native import NativeStore
    s = NativeStore({path!r})
    deadline = time.time() + {seconds}
    k = 0
    while time.time() < deadline:
        s.insert_claims_batch([make_claim(f"b{{k}}-{{j}}", f"e{{j % 20}}", "causes", f"e{{j % 7}}",
                                          source_id=f"src{{k}}") for j in range(200)])
        k += 1
    s.close()
    print(k)
"""


def run(code):
    return subprocess.Popen([sys.executable, "-c", textwrap.dedent(code)], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True, env=child_env())


def test_one_writer_many_readers(tmp_path):
    path = str(tmp_path / "s")
    NativeStore(path).close()
    seconds = 3
    writer = run(WRITER.format(path=path, seconds=seconds))
    readers = [run(READER.format(path=path, seconds=seconds, read_only=i % 2 == 0)) for i in range(3)]
    for p in [writer] + readers:
        out, err = p.communicate(timeout=120)
        assert p.returncode == 0, err
        assert int(out.strip()) > 0
    s = NativeStore(path)
    batches = s.count_claims() // 200
    assert s.count_claims() == batches * 200
    # Every process has gone: no slot is left in use once stale ones are pruned.
    s.reader_check()
    used, maximum = s.reader_info()
    assert maximum == 512
    assert used <= 1
    s.close()
