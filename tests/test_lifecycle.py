"""The module, its one class, the three ways to make an instance, closing, and the wrapper conventions."""
import os
import subprocess
import sys

import pytest

import zorlet_native
from zorlet_native import NativeStore

CLOSED = "LMDB environment already closed \u2014 check for double-close or use-after-close bugs"


def test_module_exports_only_the_class():
    assert zorlet_native.__doc__ == "Python module definition."
    public = [n for n in dir(zorlet_native) if not n.startswith("__")]
    assert public == ["NativeStore"]
    assert NativeStore.__doc__ is None
    assert NativeStore.__text_signature__ == "(db_path)"


def test_class_cannot_be_subclassed_and_has_no_dict_or_weakrefs(mem_store):
    with pytest.raises(TypeError):
        type("Sub", (NativeStore,), {})
    with pytest.raises(AttributeError):
        mem_store.anything = 1
    import weakref
    with pytest.raises(TypeError):
        weakref.ref(mem_store)


def test_new_store_in_missing_nested_directory(tmp_path):
    path = tmp_path / "a" / "b" / "c"
    s = NativeStore(str(path))
    assert s.schema_version() == 4
    assert s.is_read_only() is False
    assert sorted(os.listdir(path)) == ["data.mdb", "lock.mdb"]
    s.close()
    # Reopening the same directory after close opens the same store.
    again = NativeStore(str(path))
    assert again.schema_version() == 4
    again.close()


@pytest.mark.parametrize("contents", [[], ["notes.txt"]])
def test_existing_directory_without_store_gets_one(tmp_path, contents):
    for name in contents:
        (tmp_path / name).write_text("x")
    s = NativeStore(str(tmp_path))
    assert (tmp_path / "data.mdb").exists()
    s.close()


def test_regular_file_is_refused_and_untouched(tmp_path):
    f = tmp_path / "legacy.db"
    f.write_bytes(b"old bytes")
    with pytest.raises(ValueError) as e:
        NativeStore(str(f))
    assert str(e.value) == (
        f"ProvenanceError: Legacy database format detected at {f}. "
        "Only LMDB databases are supported. Please re-create the database."
    )
    assert f.read_bytes() == b"old bytes"
    # The read-only open does not check for it and fails in the LMDB open instead.
    with pytest.raises(RuntimeError) as e:
        NativeStore.open_read_only(str(f))
    assert str(e.value).startswith("ProvenanceError: open read-only LMDB: ")


def test_uncreatable_directory_reports_create_directory(tmp_path):
    blocker = tmp_path / "file"
    blocker.write_text("x")
    with pytest.raises(ValueError) as e:
        NativeStore(str(blocker / "sub"))
    assert str(e.value).startswith("ProvenanceError: create directory: ")


def test_open_read_only_missing_path(tmp_path):
    missing = str(tmp_path / "nope")
    with pytest.raises(RuntimeError) as e:
        NativeStore.open_read_only(missing)
    assert str(e.value) == f"ProvenanceError: database not found: {missing}"


def test_read_only_instance(tmp_path):
    path = str(tmp_path / "s")
    NativeStore(path).close()
    ro = NativeStore.open_read_only(path)
    assert ro.is_read_only() is True
    assert ro.schema_version() == 4
    ro.close()


def test_in_memory_instance_survives_close():
    m = NativeStore.in_memory()
    assert m.schema_version() == 3
    assert m.is_read_only() is False
    assert m.close() is None
    assert m.schema_version() == 3


def test_context_manager_returns_self_and_closes(tmp_path):
    s = NativeStore(str(tmp_path / "s"))
    with s as bound:
        assert bound is s
    with pytest.raises(BaseException) as e:
        s.schema_version()
    assert not isinstance(e.value, Exception)
    assert str(e.value) == CLOSED


def test_exception_in_with_block_propagates_after_close(tmp_path):
    s = NativeStore(str(tmp_path / "s"))
    with pytest.raises(KeyError):
        with s:
            raise KeyError("boom")
    # Closed: reopening in the same process works because the environment is gone.
    NativeStore(str(tmp_path / "s")).close()


def test_close_twice_and_use_after_close(store):
    assert store.close() is None
    assert store.close() is None
    assert store.is_read_only() is False
    with pytest.raises(BaseException) as e:
        store.schema_version()
    assert type(e.value).__mro__[1] is BaseException
    assert str(e.value) == CLOSED
    # The instance stays usable as a Python object after the fault.
    assert store.is_read_only() is False


def test_exit_arguments(store):
    with pytest.raises(TypeError):
        store.__exit__(None, None)
    assert store.__exit__(None, None, None) is False
    assert store.__exit__(_exc_type=1, _exc_val=2, _exc_tb=3) is False


@pytest.mark.parametrize("call", [
    lambda: NativeStore(42),
    lambda: NativeStore(b"/tmp/x"),
    lambda: NativeStore(db_path=3.5),
    lambda: NativeStore.open_read_only(7),
])
def test_db_path_must_be_str(call):
    with pytest.raises(TypeError) as e:
        call()
    assert str(e.value).startswith("argument 'db_path': ")


@pytest.mark.parametrize("call", [
    lambda: NativeStore(),
    lambda: NativeStore("/tmp/x", "extra"),
    lambda: NativeStore(path="/tmp/x"),
    lambda: NativeStore.in_memory(1),
    lambda: NativeStore.in_memory().close(1),
    lambda: NativeStore.in_memory().schema_version(unknown=1),
])
def test_wrong_arguments_raise_type_error(call):
    with pytest.raises(TypeError):
        call()


def test_docstrings_and_signatures():
    assert NativeStore.in_memory.__doc__ == "Create an in-memory store (no persistence)."
    assert NativeStore.open_read_only.__doc__ == (
        "Open a database in native read-only mode (no WAL recovery, no write lock).\n"
        "Multiple readers can coexist with a single writer.")
    assert NativeStore.is_read_only.__doc__ == "Returns True if this store was opened in read-only mode."
    assert NativeStore.schema_version.__doc__ == "Return the schema version of this database."
    assert NativeStore.close.__text_signature__ == "($self)"
    assert NativeStore.__exit__.__text_signature__ == "($self, _exc_type, _exc_val, _exc_tb)"
    assert NativeStore.open_read_only.__text_signature__ == "(db_path)"


def test_two_instances_on_one_directory_share_the_environment(tmp_path):
    path = str(tmp_path / "s")
    a = NativeStore(path)
    b = NativeStore(path)
    assert b.schema_version() == 4
    # Closing one releases only its share; the other keeps working.
    a.close()
    assert b.schema_version() == 4
    b.close()


def test_writable_and_read_only_open_in_one_process_conflict(tmp_path):
    path = str(tmp_path / "s")
    w = NativeStore(path)
    with pytest.raises(RuntimeError) as e:
        NativeStore.open_read_only(path)
    assert str(e.value) == (
        "ProvenanceError: open read-only LMDB: an environment is already opened with different options")
    w.close()
    ro = NativeStore.open_read_only(path)
    with pytest.raises(ValueError) as e:
        NativeStore(path)
    assert "an environment is already opened with different options" in str(e.value)
    ro.close()


def test_store_in_another_process_opens_alongside(tmp_path):
    path = str(tmp_path / "s")
    s = NativeStore(path)
    code = f"import zorlet_native; s = zorlet_native.NativeStore({path!r}); print(s.schema_version()); s.close()"
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True,
                         env={**os.environ})
    assert out.stdout.strip() == "4"
    s.close()


def test_release_without_close_flushes_nothing_and_reopens(tmp_path):
    path = str(tmp_path / "s")
    s = NativeStore(path)
    del s
    again = NativeStore(path)
    assert again.schema_version() == 4
    again.close()
