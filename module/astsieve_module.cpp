// The extension module: the three engine queries, registered as plain
// function pointers. Argument and result conversions and the translation of
// engine exceptions into Python exceptions are pybind11's own.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "walk/grouping.h"

PYBIND11_MODULE(astsieve, m) {
  m.def("get_path_to_lineno_to_nodes", &astsieve::get_path_to_lineno_to_nodes);
  m.def("update_path_lineno", &astsieve::update_path_lineno);
  m.def("get_path_to_nodes", &astsieve::get_path_to_nodes);
}
