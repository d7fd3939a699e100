// Claims and entities across the Python boundary.
#pragma once

#include <Python.h>

#include <vector>

#include "zorlet_core/types.h"

namespace zorlet_py {

// Pauses Python's cycle collector while a result is built. Every object made
// here is a fresh dict, list or str that cannot be part of a cycle, yet each
// allocation counts towards the collector's thresholds: a list of 100000
// claims would otherwise trigger full collections over an ever larger heap,
// which costs more than building the dicts.
class GcPause {
 public:
  GcPause() : was_enabled_(PyGC_Disable()) {}
  ~GcPause() {
    if (was_enabled_) PyGC_Enable();
  }
  GcPause(const GcPause&) = delete;
  GcPause& operator=(const GcPause&) = delete;

 private:
  int was_enabled_;
};

// Reads a Python claim object attribute by attribute; false with the Python
// error set on the first failure.
bool claim_from_object(PyObject* obj, zorlet_core::types::Claim& out);

// The claim dict (fixed key order); nullptr with an error set on failure.
PyObject* claim_to_dict(const zorlet_core::types::Claim& claim);
// A list of claim dicts; a failure abandons the whole list.
PyObject* claims_to_list(const std::vector<zorlet_core::types::Claim>& claims);
// The entity dict: id, name, entity_type, external_ids, claim_count.
PyObject* entity_to_dict(const zorlet_core::types::EntitySummary& entity);
PyObject* entities_to_list(const std::vector<zorlet_core::types::EntitySummary>& entities);
// dict of str -> str from a text map.
PyObject* string_map_to_dict(const zorlet_core::types::StringMap& map);

// None -> empty; a dict of str -> str as is; other dicts entry by entry with
// str() of the values (entries that fail are skipped); anything else -> empty.
bool lenient_text_map(PyObject* obj, zorlet_core::types::StringMap& out);

// json.dumps(value); false with its exception set.
bool value_to_json_text(PyObject* value, std::string& out);

}  // namespace zorlet_py
