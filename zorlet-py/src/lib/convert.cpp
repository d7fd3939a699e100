// (Being built.)
#include "convert.h"

namespace zorlet_py {

bool claim_from_object(PyObject*, zorlet_core::types::Claim&) {
  PyErr_SetString(PyExc_NotImplementedError, "claim conversion is being built");
  return false;
}
PyObject* claim_to_dict(const zorlet_core::types::Claim&) { return PyDict_New(); }
PyObject* claims_to_list(const std::vector<zorlet_core::types::Claim>&) { return PyList_New(0); }
PyObject* entity_to_dict(const zorlet_core::types::EntitySummary&) { return PyDict_New(); }
PyObject* entities_to_list(const std::vector<zorlet_core::types::EntitySummary>&) { return PyList_New(0); }
PyObject* string_map_to_dict(const zorlet_core::types::StringMap&) { return PyDict_New(); }
bool lenient_text_map(PyObject*, zorlet_core::types::StringMap&) { return true; }
bool value_to_json_text(PyObject*, std::string&) { return true; }

}  // namespace zorlet_py
