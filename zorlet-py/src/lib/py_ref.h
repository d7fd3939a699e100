// An owning Python reference: released on every path, so an early return
// never leaks.
#pragma once

#include <Python.h>

#include <utility>

namespace zorlet_py {

class PyRef {
 public:
  PyRef() = default;
  explicit PyRef(PyObject* owned) : p_(owned) {}
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  PyRef(PyRef&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  PyRef& operator=(PyRef&& o) noexcept {
    if (this != &o) {
      Py_XDECREF(p_);
      p_ = std::exchange(o.p_, nullptr);
    }
    return *this;
  }
  ~PyRef() { Py_XDECREF(p_); }

  static PyRef borrow(PyObject* o) {
    Py_XINCREF(o);
    return PyRef(o);
  }
  PyObject* get() const { return p_; }
  PyObject* release() { return std::exchange(p_, nullptr); }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  PyObject* p_ = nullptr;
};

}  // namespace zorlet_py
