#include "args.h"

#include <cstring>
#include <string>

namespace zorlet_py {

bool bind_args(const char* fname, const char* const* names, int nparams, int nrequired, PyObject* const* args,
               Py_ssize_t nargs, PyObject* kwnames, PyObject** out) {
  if (nargs > nparams) {
    PyErr_Format(PyExc_TypeError, "%s() takes at most %d positional argument%s (%zd given)", fname, nparams,
                 nparams == 1 ? "" : "s", nargs);
    return false;
  }
  for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
  Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
  for (Py_ssize_t k = 0; k < nkw; ++k) {
    PyObject* key = PyTuple_GET_ITEM(kwnames, k);
    const char* kname = PyUnicode_AsUTF8(key);
    if (!kname) return false;
    int slot = -1;
    for (int i = 0; i < nparams; ++i)
      if (std::strcmp(names[i], kname) == 0) slot = i;
    if (slot < 0) {
      PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%s'", fname, kname);
      return false;
    }
    if (out[slot]) {
      PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", fname, kname);
      return false;
    }
    out[slot] = args[nargs + k];
  }
  for (int i = 0; i < nrequired; ++i) {
    if (!out[i]) {
      PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s'", fname, names[i]);
      return false;
    }
  }
  return true;
}

bool bind_tuple_args(const char* fname, const char* const* names, int nparams, int nrequired, PyObject* args,
                     PyObject* kwargs, PyObject** out) {
  Py_ssize_t nargs = PyTuple_GET_SIZE(args);
  Py_ssize_t nkw = kwargs ? PyDict_GET_SIZE(kwargs) : 0;
  std::vector<PyObject*> flat(static_cast<size_t>(nargs + nkw));
  for (Py_ssize_t i = 0; i < nargs; ++i) flat[i] = PyTuple_GET_ITEM(args, i);
  PyObject* kwnames = nullptr;
  if (nkw) {
    kwnames = PyTuple_New(nkw);
    if (!kwnames) return false;
    Py_ssize_t pos = 0, k = 0;
    PyObject *key, *value;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      Py_INCREF(key);
      PyTuple_SET_ITEM(kwnames, k, key);
      flat[nargs + k] = value;
      ++k;
    }
  }
  bool ok = bind_args(fname, names, nparams, nrequired, flat.data(), nargs, kwnames, out);
  Py_XDECREF(kwnames);
  return ok;
}

void prefix_type_error(const char* name) {
  if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
  PyObject *type, *value, *tb;
  PyErr_Fetch(&type, &value, &tb);
  PyErr_NormalizeException(&type, &value, &tb);
  PyObject* text = value ? PyObject_Str(value) : nullptr;
  const char* detail = text ? PyUnicode_AsUTF8(text) : nullptr;
  if (!detail) PyErr_Clear();
  PyErr_Format(PyExc_TypeError, "argument '%s': %s", name, detail ? detail : "invalid value");
  Py_XDECREF(text);
  Py_XDECREF(type);
  Py_XDECREF(value);
  Py_XDECREF(tb);
}

bool arg_type_error(const char* name, const char* detail) {
  PyErr_Format(PyExc_TypeError, "argument '%s': %s", name, detail);
  return false;
}

bool utf8_of(PyObject* o, std::string& out) {
  if (!PyUnicode_Check(o)) {
    PyErr_Format(PyExc_TypeError, "expected str, got %s", Py_TYPE(o)->tp_name);
    return false;
  }
  Py_ssize_t n = 0;
  const char* s = PyUnicode_AsUTF8AndSize(o, &n);
  if (!s) return false;
  out.assign(s, static_cast<size_t>(n));
  return true;
}

PyObject* str_of(std::string_view s) {
  return PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "replace");
}

namespace conv {

bool text(PyObject* o, const char* name, std::string& out) {
  if (!o) return true;
  if (utf8_of(o, out)) return true;
  prefix_type_error(name);
  return false;
}

bool opt_text(PyObject* o, const char* name, std::optional<std::string>& out) {
  if (!o) return true;
  if (o == Py_None) {
    out.reset();
    return true;
  }
  std::string s;
  if (!text(o, name, s)) return false;
  out = std::move(s);
  return true;
}

bool u64(PyObject* o, const char* name, uint64_t& out) {
  if (!o) return true;
  PyObject* index = PyNumber_Index(o);
  if (!index) {
    prefix_type_error(name);
    return false;
  }
  unsigned long long v = PyLong_AsUnsignedLongLong(index);
  Py_DECREF(index);
  if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    prefix_type_error(name);
    return false;
  }
  out = v;
  return true;
}

bool i64(PyObject* o, const char* name, int64_t& out) {
  if (!o) return true;
  PyObject* index = PyNumber_Index(o);
  if (!index) {
    prefix_type_error(name);
    return false;
  }
  long long v = PyLong_AsLongLong(index);
  Py_DECREF(index);
  if (v == -1 && PyErr_Occurred()) {
    prefix_type_error(name);
    return false;
  }
  out = v;
  return true;
}

bool f64(PyObject* o, const char* name, double& out) {
  if (!o) return true;
  double v = PyFloat_AsDouble(o);
  if (v == -1.0 && PyErr_Occurred()) {
    prefix_type_error(name);
    return false;
  }
  out = v;
  return true;
}

bool boolean(PyObject* o, const char* name, bool& out) {
  if (!o) return true;
  if (PyBool_Check(o)) {
    out = (o == Py_True);
    return true;
  }
  // A NumPy boolean scalar counts by its truth value; 0 and 1 do not.
  const char* tname = Py_TYPE(o)->tp_name;
  if (std::strcmp(tname, "numpy.bool_") == 0 || std::strcmp(tname, "numpy.bool") == 0) {
    int truth = PyObject_IsTrue(o);
    if (truth < 0) return false;
    out = truth != 0;
    return true;
  }
  PyErr_Format(PyExc_TypeError, "argument '%s': expected bool, got %s", name, tname);
  return false;
}

bool text_list(PyObject* o, const char* name, std::vector<std::string>& out) {
  if (!o) return true;
  if (PyUnicode_Check(o)) return arg_type_error(name, "Can't extract `str` to `Vec`");
  if (!PySequence_Check(o)) {
    PyErr_Format(PyExc_TypeError, "argument '%s': expected a sequence of str, got %s", name, Py_TYPE(o)->tp_name);
    return false;
  }
  Py_ssize_t n = PySequence_Size(o);
  if (n < 0) {
    prefix_type_error(name);
    return false;
  }
  std::vector<std::string> items;
  items.reserve(static_cast<size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* item = PySequence_GetItem(o, i);
    if (!item) {
      prefix_type_error(name);
      return false;
    }
    std::string s;
    bool ok = utf8_of(item, s);
    Py_DECREF(item);
    if (!ok) {
      prefix_type_error(name);
      return false;
    }
    items.push_back(std::move(s));
  }
  out = std::move(items);
  return true;
}

bool dict(PyObject* o, const char* name, PyObject*& out) {
  if (!o) return true;
  if (!PyDict_Check(o)) {
    PyErr_Format(PyExc_TypeError, "argument '%s': expected dict, got %s", name, Py_TYPE(o)->tp_name);
    return false;
  }
  out = o;
  return true;
}

bool list(PyObject* o, const char* name, PyObject*& out) {
  if (!o) return true;
  if (!PyList_Check(o)) {
    PyErr_Format(PyExc_TypeError, "argument '%s': expected list, got %s", name, Py_TYPE(o)->tp_name);
    return false;
  }
  out = o;
  return true;
}

}  // namespace conv

}  // namespace zorlet_py
