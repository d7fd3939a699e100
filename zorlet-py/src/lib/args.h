// Argument binding and conversion shared by every method wrapper.
//
// Every parameter can be given by position or keyword; parameters after the
// required ones have defaults. A converter leaves its default in place when
// the argument was not supplied (a null slot). A conversion TypeError carries
// the prefix "argument 'NAME': ".
#pragma once

#include <Python.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zorlet_py {

// Binds fast-call arguments to parameter slots; false with TypeError set on a
// missing, surplus, unknown or doubly given argument.
bool bind_args(const char* fname, const char* const* names, int nparams, int nrequired, PyObject* const* args,
               Py_ssize_t nargs, PyObject* kwnames, PyObject** out);
// The same for a (tuple, dict) call, as tp_new receives it.
bool bind_tuple_args(const char* fname, const char* const* names, int nparams, int nrequired, PyObject* args,
                     PyObject* kwargs, PyObject** out);

template <size_t N>
struct Params {
  const char* fname;
  std::array<const char*, N> names;
  int required;

  bool bind(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, std::array<PyObject*, N>& out) const {
    out.fill(nullptr);
    return bind_args(fname, names.data(), static_cast<int>(N), required, args, nargs, kwnames, out.data());
  }
};

// Re-raises a pending TypeError with the argument prefix; other errors pass.
void prefix_type_error(const char* name);
// Raises TypeError "argument 'NAME': {detail}".
bool arg_type_error(const char* name, const char* detail);

namespace conv {

bool text(PyObject* o, const char* name, std::string& out);
bool opt_text(PyObject* o, const char* name, std::optional<std::string>& out);
bool u64(PyObject* o, const char* name, uint64_t& out);
bool i64(PyObject* o, const char* name, int64_t& out);
bool f64(PyObject* o, const char* name, double& out);
bool boolean(PyObject* o, const char* name, bool& out);
bool text_list(PyObject* o, const char* name, std::vector<std::string>& out);
// Requires a dict or dict subclass; `out` is borrowed.
bool dict(PyObject* o, const char* name, PyObject*& out);
// Requires a list or list subclass; `out` is borrowed.
bool list(PyObject* o, const char* name, PyObject*& out);

}  // namespace conv

// str -> UTF-8; false with the Python error set (TypeError for a non-str).
bool utf8_of(PyObject* o, std::string& out);
// UTF-8 -> str (new reference).
PyObject* str_of(std::string_view s);

}  // namespace zorlet_py
