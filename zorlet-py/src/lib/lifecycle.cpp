// Lifecycle methods: the static makers, close and the context manager, and
// the two questions every store answers.
#include "args.h"
#include "methods.h"
#include "native_store.h"

namespace zorlet_py {

namespace {

PyObject* in_memory(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Params<0> kSig{"in_memory", {}, 0};
  std::array<PyObject*, 0> a{};
  if (!kSig.bind(args, nargs, kwnames, a)) return nullptr;
  return wrap_store(native_store_type(), NativeStore::in_memory());
}

PyObject* open_read_only(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Params<1> kSig{"open_read_only", {"db_path"}, 1};
  std::array<PyObject*, 1> a;
  if (!kSig.bind(args, nargs, kwnames, a)) return nullptr;
  std::string path;
  if (!conv::text(a[0], "db_path", path)) return nullptr;
  try {
    auto store = NativeStore::open_read_only(path);
    if (!store) return raise_store_error(PyExc_RuntimeError, store.error());
    return wrap_store(native_store_type(), std::move(*store));
  } catch (const zorlet_core::errors::InternalFault& e) {
    PyErr_SetString(internal_fault_type(), e.what());
    return nullptr;
  }
}

PyObject* close_store(PyObject* self, PyObject* returned) {
  return with_access(self, Access::Exclusive, [&](NativeStore& s) -> PyObject* {
    auto r = without_gil([&] { return s.close(); });
    if (!r) return raise_store_error(PyExc_ValueError, r.error());
    return Py_NewRef(returned);
  });
}

PyObject* close(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Params<0> kSig{"close", {}, 0};
  std::array<PyObject*, 0> a{};
  if (!kSig.bind(args, nargs, kwnames, a)) return nullptr;
  return close_store(self, Py_None);
}

PyObject* enter(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Params<0> kSig{"__enter__", {}, 0};
  std::array<PyObject*, 0> a{};
  if (!kSig.bind(args, nargs, kwnames, a)) return nullptr;
  return Py_NewRef(self);
}

PyObject* exit(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Params<3> kSig{"__exit__", {"_exc_type", "_exc_val", "_exc_tb"}, 3};
  std::array<PyObject*, 3> a;
  if (!kSig.bind(args, nargs, kwnames, a)) return nullptr;
  return close_store(self, Py_False);
}

PyObject* is_read_only(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Params<0> kSig{"is_read_only", {}, 0};
  std::array<PyObject*, 0> a{};
  if (!kSig.bind(args, nargs, kwnames, a)) return nullptr;
  return with_access(self, Access::Shared, [](NativeStore& s) { return py_bool(s.is_read_only()); });
}

PyObject* schema_version(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Params<0> kSig{"schema_version", {}, 0};
  std::array<PyObject*, 0> a{};
  if (!kSig.bind(args, nargs, kwnames, a)) return nullptr;
  return with_access(self, Access::Shared,
                     [](NativeStore& s) { return PyLong_FromUnsignedLong(s.schema_version()); });
}

PyObject* checkpoint(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Params<0> kSig{"checkpoint", {}, 0};
  std::array<PyObject*, 0> a{};
  if (!kSig.bind(args, nargs, kwnames, a)) return nullptr;
  return with_access(self, Access::Exclusive, [](NativeStore& s) -> PyObject* {
    auto r = without_gil([&] { return s.checkpoint(); });
    if (!r) return raise_store_error(PyExc_ValueError, r.error());
    return none();
  });
}

}  // namespace

extern const PyMethodDef kLifecycleMethods[] = {
    {"in_memory", ZORLET_FASTCALL(in_memory), kFastKw | METH_STATIC,
     "in_memory()\n--\n\nCreate an in-memory store (no persistence)."},
    {"open_read_only", ZORLET_FASTCALL(open_read_only), kFastKw | METH_STATIC,
     "open_read_only(db_path)\n--\n\nOpen a database in native read-only mode (no WAL recovery, no write lock).\n"
     "Multiple readers can coexist with a single writer."},
    {"close", ZORLET_FASTCALL(close), kFastKw, "close($self)\n--\n\n"},
    {"__enter__", ZORLET_FASTCALL(enter), kFastKw, "__enter__($self)\n--\n\n"},
    {"__exit__", ZORLET_FASTCALL(exit), kFastKw, "__exit__($self, _exc_type, _exc_val, _exc_tb)\n--\n\n"},
    {"is_read_only", ZORLET_FASTCALL(is_read_only), kFastKw,
     "is_read_only($self)\n--\n\nReturns True if this store was opened in read-only mode."},
    {"schema_version", ZORLET_FASTCALL(schema_version), kFastKw,
     "schema_version($self)\n--\n\nReturn the schema version of this database."},
    {"checkpoint", ZORLET_FASTCALL(checkpoint), kFastKw,
     "checkpoint($self)\n--\n\nWrite a full checkpoint without closing. Flushes WAL to .zorlet file."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace zorlet_py
