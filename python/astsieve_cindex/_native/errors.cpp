#include "errors.h"

#include <exception>
#include <new>
#include <stdexcept>

namespace astsieve_cindex {

void set_python_error() noexcept {
  try {
    throw;
  } catch (const PythonError&) {
  } catch (const std::bad_alloc& error) {
    PyErr_SetString(PyExc_MemoryError, error.what());
  } catch (const std::out_of_range& error) {
    PyErr_SetString(PyExc_IndexError, error.what());
  } catch (const std::overflow_error& error) {
    PyErr_SetString(PyExc_OverflowError, error.what());
  } catch (const std::range_error& error) {
    PyErr_SetString(PyExc_ValueError, error.what());
  } catch (const std::logic_error& error) {  // domain, argument and length errors
    PyErr_SetString(PyExc_ValueError, error.what());
  } catch (const std::exception& error) {
    PyErr_SetString(PyExc_RuntimeError, error.what());
  } catch (...) {
    PyErr_SetString(PyExc_RuntimeError, "unknown C++ exception");
  }
}

}  // namespace astsieve_cindex
