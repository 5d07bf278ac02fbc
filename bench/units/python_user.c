/* A C unit of a small extension module: the whole CPython API it includes
   is part of its tree. */
#include <Python.h>

static PyObject* add_one(PyObject* self, PyObject* arg) {
  (void)self;
  long value = PyLong_AsLong(arg);
  if (value == -1 && PyErr_Occurred()) {
    return NULL;
  }
  return PyLong_FromLong(value + 1);
}

static PyMethodDef methods[] = {
    {"add_one", add_one, METH_O, NULL},
    {NULL, NULL, 0, NULL},
};

static struct PyModuleDef module = {PyModuleDef_HEAD_INIT, "user", NULL, -1, methods};

PyMODINIT_FUNC PyInit_user(void) { return PyModule_Create(&module); }
