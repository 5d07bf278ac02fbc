// An owned reference to a Python object.
#pragma once

#include <Python.h>

namespace astsieve_cindex {

// Owns a new reference; releases it unless taken with release().
class Ref {
 public:
  explicit Ref(PyObject* object = nullptr) noexcept : object_(object) {}
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& other) noexcept : object_(other.release()) {}
  Ref& operator=(Ref&& other) noexcept {
    PyObject* old = object_;
    object_ = other.release();
    Py_XDECREF(old);
    return *this;
  }
  ~Ref() { Py_XDECREF(object_); }
  PyObject* get() const noexcept { return object_; }
  PyObject* release() noexcept {
    PyObject* object = object_;
    object_ = nullptr;
    return object;
  }

 private:
  PyObject* object_;
};

}  // namespace astsieve_cindex
