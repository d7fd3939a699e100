// Module initialisation: the module, its one class, the internal-fault
// exception and the log forwarding into Python's logging.
// "s#" in the log forwarding needs Py_ssize_t lengths; without this the call
// fails with SystemError and every log line is dropped.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string>
#include <vector>

#include "args.h"
#include "methods.h"
#include "native_store.h"
#include "py_ref.h"
#include "zorlet_core/log.h"

namespace zorlet_py {

namespace {

PyObject* g_internal_fault = nullptr;
PyTypeObject* g_type = nullptr;
std::vector<PyMethodDef>* g_methods = nullptr;

// Forwards diagnostic lines to logging.getLogger(target).log(level, message),
// with "::" in the target turned into ".". Works from threads that released
// the interpreter lock.
void forward_log(zorlet_core::log::Level level, std::string_view target, std::string_view message) {
  if (!Py_IsInitialized()) return;
  PyGILState_STATE gil = PyGILState_Ensure();
  std::string name;
  name.reserve(target.size());
  for (size_t i = 0; i < target.size(); ++i) {
    if (target[i] == ':' && i + 1 < target.size() && target[i + 1] == ':') {
      name.push_back('.');
      ++i;
    } else {
      name.push_back(target[i]);
    }
  }
  PyObject *etype, *evalue, *etb;
  PyErr_Fetch(&etype, &evalue, &etb);  // keep a pending error of the caller intact
  PyRef logging(PyImport_ImportModule("logging"));
  PyRef logger(logging ? PyObject_CallMethod(logging.get(), "getLogger", "s", name.c_str()) : nullptr);
  int lvl = level == zorlet_core::log::Level::Warn ? 30 : 20;
  PyRef result(logger ? PyObject_CallMethod(logger.get(), "log", "is#", lvl, message.data(),
                                            static_cast<Py_ssize_t>(message.size()))
                      : nullptr);
  if (!result) PyErr_Clear();
  PyErr_Restore(etype, evalue, etb);
  PyGILState_Release(gil);
}

PyObject* store_new(PyTypeObject* type, PyObject* args, PyObject* kwargs);

void store_dealloc(PyObject* self) {
  auto* s = reinterpret_cast<PyNativeStore*>(self);
  // Released without close(): nothing is flushed, nothing is printed.
  s->store.~optional();
  s->access.~atomic();
  PyTypeObject* tp = Py_TYPE(self);
  tp->tp_free(self);
  Py_DECREF(tp);
}

}  // namespace

PyObject* internal_fault_type() { return g_internal_fault; }
PyTypeObject* native_store_type() { return g_type; }

bool acquire(PyNativeStore* self, Access access) {
  if (access == Access::Exclusive) {
    intptr_t expected = 0;
    if (self->access.compare_exchange_strong(expected, -1, std::memory_order_acquire)) return true;
    PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
    return false;
  }
  intptr_t cur = self->access.load(std::memory_order_relaxed);
  for (;;) {
    if (cur < 0) {
      PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
      return false;
    }
    if (self->access.compare_exchange_weak(cur, cur + 1, std::memory_order_acquire)) return true;
  }
}

void release(PyNativeStore* self, Access access) {
  if (access == Access::Exclusive) self->access.store(0, std::memory_order_release);
  else self->access.fetch_sub(1, std::memory_order_release);
}

PyObject* raise_store_error(PyObject* type, const zorlet_core::errors::ZorletError& error) {
  std::string text = error.display();
  PyRef message(str_of(text));
  if (message) PyErr_SetObject(type, message.get());
  return nullptr;
}

// Makes an instance owning `store`; used by the constructor and the static makers.
PyObject* wrap_store(PyTypeObject* type, NativeStore store) {
  PyObject* obj = type->tp_alloc(type, 0);
  if (!obj) return nullptr;
  auto* s = reinterpret_cast<PyNativeStore*>(obj);
  new (&s->store) std::optional<NativeStore>(std::move(store));
  new (&s->access) std::atomic<intptr_t>(0);
  return obj;
}

namespace {

PyObject* store_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static const char* const kNames[] = {"db_path"};
  PyObject* slot[1] = {nullptr};
  if (!bind_tuple_args("NativeStore", kNames, 1, 1, args, kwargs, slot)) return nullptr;
  std::string path;
  if (!conv::text(slot[0], "db_path", path)) return nullptr;
  try {
    auto store = NativeStore::open(path);
    if (!store) return raise_store_error(PyExc_ValueError, store.error());
    return wrap_store(type, std::move(*store));
  } catch (const zorlet_core::errors::InternalFault& e) {
    PyErr_SetString(g_internal_fault, e.what());
    return nullptr;
  }
}

void append_methods(std::vector<PyMethodDef>& all, const PyMethodDef* group) {
  for (; group->ml_name; ++group) all.push_back(*group);
}

PyModuleDef g_module = {
    PyModuleDef_HEAD_INIT, "zorlet_native", "Python module definition.", -1, nullptr, nullptr, nullptr, nullptr,
    nullptr,
};

PyTypeObject* make_type() {
  g_methods = new std::vector<PyMethodDef>;  // lives as long as the type
  for (const PyMethodDef* group : {kLifecycleMethods, kClaimMethods, kStatusMethods, kEntityMethods,
                                   kAnalyticsMethods, kGraphMethods})
    append_methods(*g_methods, group);
  g_methods->push_back({nullptr, nullptr, 0, nullptr});

  static PyType_Slot slots[] = {
      {Py_tp_new, reinterpret_cast<void*>(store_new)},
      {Py_tp_dealloc, reinterpret_cast<void*>(store_dealloc)},
      {Py_tp_doc, const_cast<char*>("NativeStore(db_path)\n--\n\n")},
      {Py_tp_methods, nullptr},
      {0, nullptr},
  };
  slots[3].pfunc = g_methods->data();
  static PyType_Spec type_spec = {
      "zorlet_native.NativeStore",
      static_cast<int>(sizeof(PyNativeStore)),
      0,
      Py_TPFLAGS_DEFAULT,  // no BASETYPE: not subclassable; no dict, no weakrefs
      slots,
  };
  return reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&type_spec));
}

}  // namespace

}  // namespace zorlet_py

extern "C" __attribute__((visibility("default"))) PyObject* PyInit_zorlet_native() {
  using namespace zorlet_py;
  PyRef module(PyModule_Create(&g_module));
  if (!module) return nullptr;
  if (!g_type) {
    g_type = make_type();
    if (!g_type) return nullptr;
    // The class has a text signature but no docstring.
    if (PyDict_SetItemString(g_type->tp_dict, "__doc__", Py_None) < 0) return nullptr;
    PyType_Modified(g_type);
    g_internal_fault = PyErr_NewException("zorlet_native.InternalFault", PyExc_BaseException, nullptr);
    if (!g_internal_fault) return nullptr;
    // The package logger gets a NullHandler: nothing is printed unless the host configures logging.
    PyRef logging(PyImport_ImportModule("logging"));
    if (!logging) return nullptr;
    PyRef logger(PyObject_CallMethod(logging.get(), "getLogger", "s", "zorlet_store"));
    PyRef null_handler(logger ? PyObject_CallMethod(logging.get(), "NullHandler", nullptr) : nullptr);
    PyRef added(null_handler ? PyObject_CallMethod(logger.get(), "addHandler", "O", null_handler.get()) : nullptr);
    if (!added) return nullptr;
    zorlet_core::log::set_sink(forward_log);
  }
  Py_INCREF(g_type);
  if (PyModule_AddObject(module.get(), "NativeStore", reinterpret_cast<PyObject*>(g_type)) < 0) {
    Py_DECREF(g_type);
    return nullptr;
  }
  return module.release();
}
