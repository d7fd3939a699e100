// The Python instance and the guard every method runs under.
//
// Each instance holds one store facade and one access word: 0 free, n > 0
// shared by n calls, -1 held by one exclusive call. Nothing waits: a
// conflicting call fails at once with RuntimeError.
#pragma once

#include <Python.h>

#include <atomic>
#include <exception>
#include <new>
#include <optional>
#include <type_traits>

#include "store.h"
#include "zorlet_core/errors.h"

namespace zorlet_py {

using zorlet_store::store::NativeStore;

struct PyNativeStore {
  PyObject_HEAD
  std::optional<NativeStore> store;
  std::atomic<intptr_t> access;
};

enum class Access { Shared, Exclusive };

// The BaseException-derived type of internal faults (created at import).
PyObject* internal_fault_type();
// The class object (created at import).
PyTypeObject* native_store_type();

bool acquire(PyNativeStore* self, Access access);
void release(PyNativeStore* self, Access access);

// Runs `body(store)` (returning a new reference or nullptr with an error set)
// under the access word, released on every path. An internal fault thrown
// anywhere in the body becomes the fault exception.
template <class Body>
PyObject* with_access(PyObject* self_obj, Access access, Body&& body) {
  auto* self = reinterpret_cast<PyNativeStore*>(self_obj);
  if (!acquire(self, access)) return nullptr;
  PyObject* result = nullptr;
  try {
    result = body(*self->store);
  } catch (const zorlet_core::errors::InternalFault& e) {
    Py_XDECREF(result);
    result = nullptr;
    PyErr_SetString(internal_fault_type(), e.what());
  } catch (const std::bad_alloc&) {
    result = nullptr;
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    result = nullptr;
    PyErr_SetString(internal_fault_type(), e.what());
  }
  release(self, access);
  return result;
}

// Runs `f` with the interpreter lock released; exceptions are carried back
// across and rethrown once the lock is held again.
template <class F>
auto without_gil(F&& f) -> decltype(f()) {
  PyThreadState* ts = PyEval_SaveThread();
  if constexpr (std::is_void_v<decltype(f())>) {
    try {
      f();
    } catch (...) {
      PyEval_RestoreThread(ts);
      throw;
    }
    PyEval_RestoreThread(ts);
  } else {
    try {
      auto r = f();
      PyEval_RestoreThread(ts);
      return r;
    } catch (...) {
      PyEval_RestoreThread(ts);
      throw;
    }
  }
}

// Makes an instance owning `store` (new reference).
PyObject* wrap_store(PyTypeObject* type, NativeStore store);

// Raises `type` with the error's display text; returns nullptr.
PyObject* raise_store_error(PyObject* type, const zorlet_core::errors::ZorletError& error);

inline PyObject* none() { Py_RETURN_NONE; }
inline PyObject* py_bool(bool b) { return PyBool_FromLong(b); }
inline PyObject* py_u64(uint64_t v) { return PyLong_FromUnsignedLongLong(v); }
inline PyObject* py_i64(int64_t v) { return PyLong_FromLongLong(v); }

}  // namespace zorlet_py
