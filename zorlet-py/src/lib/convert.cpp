// Claims and entities across the Python boundary.
//
// Claim objects are read attribute by attribute in a fixed order; the first
// failure stops the conversion and is the one the caller sees. Required
// fields pass Python's own AttributeError and TypeError through unchanged;
// lenient fields fall back to their defaults. Attribute names and dict keys
// are interned once per process, so the per-claim cost is lookups, not
// string building.
#include "convert.h"

#include <string>

#include "args.h"
#include "native_store.h"
#include "py_ref.h"
#include "zorlet_core/json.h"

namespace zorlet_py {

using zorlet_core::types::Claim;
using zorlet_core::types::ClaimStatus;
using zorlet_core::types::EntityRef;
using zorlet_core::types::EntitySummary;
using zorlet_core::types::Payload;
using zorlet_core::types::Provenance;
using zorlet_core::types::StringMap;

namespace {

// Interned names, used both as attribute names and as dict keys.
struct Names {
  PyObject *claim_id, *content_id, *confidence, *timestamp, *subject, *predicate, *object, *provenance, *payload,
      *status, *value, *namespace_, *expires_at;
  PyObject *id, *entity_type, *display_name, *external_ids, *predicate_type;
  PyObject *source_type, *source_id, *method, *chain, *model_version, *organization, *project, *agent_id,
      *source_version, *labels;
  PyObject *schema_ref, *data, *data_json;
  PyObject *name, *claim_count;
};

PyObject* intern(const char* s) {
  PyObject* o = PyUnicode_InternFromString(s);
  if (!o) Py_FatalError("zorlet_native: cannot intern a name");
  return o;  // kept for the life of the process
}

const Names& names() {
  static const Names n = {
      intern("claim_id"),      intern("content_id"),   intern("confidence"),   intern("timestamp"),
      intern("subject"),       intern("predicate"),    intern("object"),       intern("provenance"),
      intern("payload"),       intern("status"),       intern("value"),        intern("namespace"),
      intern("expires_at"),    intern("id"),           intern("entity_type"),  intern("display_name"),
      intern("external_ids"),  intern("predicate_type"), intern("source_type"), intern("source_id"),
      intern("method"),        intern("chain"),        intern("model_version"), intern("organization"),
      intern("project"),       intern("agent_id"),     intern("source_version"), intern("labels"),
      intern("schema_ref"),    intern("data"),         intern("data_json"),    intern("name"),
      intern("claim_count"),
  };
  return n;
}

// ---- Reading claim objects ----

PyRef attr(PyObject* obj, PyObject* name) { return PyRef(PyObject_GetAttr(obj, name)); }

bool required_str(PyObject* obj, PyObject* name, std::string& out) {
  PyRef v = attr(obj, name);
  return v && utf8_of(v.get(), out);
}

// The attribute must exist; a str gives its text, anything else `fallback`.
bool str_or(PyObject* obj, PyObject* name, std::string& out, std::string_view fallback) {
  PyRef v = attr(obj, name);
  if (!v) return false;
  if (PyUnicode_Check(v.get())) return utf8_of(v.get(), out);
  out.assign(fallback);
  return true;
}

// The attribute must exist; a str gives its text, anything else is absent.
bool optional_str(PyObject* obj, PyObject* name, std::optional<std::string>& out) {
  PyRef v = attr(obj, name);
  if (!v) return false;
  out.reset();
  if (!PyUnicode_Check(v.get())) return true;
  std::string s;
  if (!utf8_of(v.get(), s)) return false;
  out = std::move(s);
  return true;
}

// Lenient fields: any failure of the read or the conversion is the default.
PyRef lenient_attr(PyObject* obj, PyObject* name) {
  PyRef v = attr(obj, name);
  if (!v) PyErr_Clear();
  return v;
}

// A sequence of str, all or nothing.
std::vector<std::string> str_sequence(PyObject* v) {
  std::vector<std::string> out;
  if (PyUnicode_Check(v) || !PySequence_Check(v)) return out;
  PyRef fast(PySequence_Fast(v, "chain"));
  if (!fast) {
    PyErr_Clear();
    return out;
  }
  Py_ssize_t n = PySequence_Fast_GET_SIZE(fast.get());
  PyObject** items = PySequence_Fast_ITEMS(fast.get());
  out.reserve(static_cast<size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    std::string s;
    if (!PyUnicode_Check(items[i]) || !utf8_of(items[i], s)) {
      PyErr_Clear();
      return {};
    }
    out.push_back(std::move(s));
  }
  return out;
}

// A dict whose keys and values are all str, all or nothing.
StringMap strict_str_dict(PyObject* v) {
  StringMap out;
  if (!v || !PyDict_Check(v)) return out;
  Py_ssize_t pos = 0;
  PyObject *k, *val;
  while (PyDict_Next(v, &pos, &k, &val)) {
    std::string ks, vs;
    if (!PyUnicode_Check(k) || !PyUnicode_Check(val) || !utf8_of(k, ks) || !utf8_of(val, vs)) {
      PyErr_Clear();
      return {};
    }
    out[std::move(ks)] = std::move(vs);
  }
  return out;
}

bool read_entity(PyObject* obj, EntityRef& out) {
  const Names& n = names();
  if (!required_str(obj, n.id, out.id)) return false;
  if (!required_str(obj, n.entity_type, out.entity_type)) return false;
  if (!str_or(obj, n.display_name, out.display_name, "")) return false;
  PyRef ext = attr(obj, n.external_ids);
  return ext && lenient_text_map(ext.get(), out.external_ids);
}

bool read_entity_attr(PyObject* claim, PyObject* name, EntityRef& out) {
  PyRef obj = attr(claim, name);
  return obj && read_entity(obj.get(), out);
}

bool read_predicate(PyObject* claim, Claim& out) {
  const Names& n = names();
  PyRef obj = attr(claim, n.predicate);
  return obj && required_str(obj.get(), n.id, out.predicate.id) &&
         required_str(obj.get(), n.predicate_type, out.predicate.predicate_type);
}

bool read_provenance(PyObject* claim, Provenance& out) {
  const Names& n = names();
  PyRef obj = attr(claim, n.provenance);
  if (!obj) return false;
  PyObject* p = obj.get();
  if (!required_str(p, n.source_type, out.source_type) || !required_str(p, n.source_id, out.source_id) ||
      !optional_str(p, n.method, out.method))
    return false;
  PyRef chain = attr(p, n.chain);
  if (!chain) return false;
  out.chain = str_sequence(chain.get());
  if (!optional_str(p, n.model_version, out.model_version) || !optional_str(p, n.organization, out.organization) ||
      !optional_str(p, n.project, out.project) || !optional_str(p, n.agent_id, out.agent_id) ||
      !optional_str(p, n.source_version, out.source_version))
    return false;
  PyRef labels = lenient_attr(p, n.labels);
  out.labels = strict_str_dict(labels.get());
  return true;
}

bool read_payload(PyObject* claim, std::optional<Payload>& out) {
  const Names& n = names();
  PyRef obj = attr(claim, n.payload);
  if (!obj) return false;
  out.reset();
  if (obj.get() == Py_None) return true;
  Payload p;
  if (!required_str(obj.get(), n.schema_ref, p.schema_ref)) return false;
  PyRef data = attr(obj.get(), n.data);
  if (!data) return false;
  std::string text;
  if (!value_to_json_text(data.get(), text)) return false;
  auto parsed = zorlet_core::json::parse(text);
  if (!parsed) {
    PyErr_Format(PyExc_ValueError, "invalid payload JSON: %s", parsed.error().c_str());
    return false;
  }
  p.data = std::move(*parsed);
  out = std::move(p);
  return true;
}

bool read_status(PyObject* claim, ClaimStatus& out) {
  const Names& n = names();
  PyRef obj = attr(claim, n.status);
  if (!obj) return false;
  std::string name;
  if (!required_str(obj.get(), n.value, name)) return false;
  auto parsed = zorlet_core::types::parse_status(name);
  if (!parsed) {
    PyErr_Format(PyExc_ValueError, "invalid claim status: %s", parsed.error().c_str());
    return false;
  }
  out = *parsed;
  return true;
}

bool read_f64(PyObject* obj, PyObject* name, double& out) {
  PyRef v = attr(obj, name);
  if (!v) return false;
  out = PyFloat_AsDouble(v.get());
  return !(out == -1.0 && PyErr_Occurred());
}

bool read_i64(PyObject* obj, PyObject* name, int64_t& out) {
  PyRef v = attr(obj, name);
  if (!v) return false;
  long long x = PyLong_AsLongLong(v.get());
  if (x == -1 && PyErr_Occurred()) return false;
  out = x;
  return true;
}

// ---- Building dicts ----

// Owns a dict under construction; every setter steals the value it is given
// and fails when that value could not be built.
// Sized for its keys up front: a dict grown key by key is rebuilt twice on
// the way to twelve entries.
class DictBuilder {
 public:
  explicit DictBuilder(Py_ssize_t keys) : d_(_PyDict_NewPresized(keys)) {}
  bool set(PyObject* key, PyObject* value) {
    if (!d_ || !value) {
      Py_XDECREF(value);
      ok_ = false;
      return false;
    }
    if (PyDict_SetItem(d_.get(), key, value) < 0) ok_ = false;
    Py_DECREF(value);
    return ok_;
  }
  PyObject* release() { return ok_ && d_ ? d_.release() : nullptr; }

 private:
  PyRef d_;
  bool ok_ = true;
};

PyObject* opt_str(const std::optional<std::string>& s) { return s ? str_of(*s) : Py_NewRef(Py_None); }

PyObject* str_list(const std::vector<std::string>& items) {
  PyRef list(PyList_New(static_cast<Py_ssize_t>(items.size())));
  if (!list) return nullptr;
  for (size_t i = 0; i < items.size(); ++i) {
    PyObject* s = str_of(items[i]);
    if (!s) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), s);
  }
  return list.release();
}

PyObject* entity_ref_dict(const EntityRef& e) {
  const Names& n = names();
  DictBuilder d(4);
  d.set(n.id, str_of(e.id)) && d.set(n.entity_type, str_of(e.entity_type)) &&
      d.set(n.display_name, str_of(e.display_name)) && d.set(n.external_ids, string_map_to_dict(e.external_ids));
  return d.release();
}

PyObject* predicate_dict(const zorlet_core::types::PredicateRef& p) {
  const Names& n = names();
  DictBuilder d(2);
  d.set(n.id, str_of(p.id)) && d.set(n.predicate_type, str_of(p.predicate_type));
  return d.release();
}

PyObject* provenance_dict(const Provenance& p) {
  const Names& n = names();
  DictBuilder d(10);
  d.set(n.source_type, str_of(p.source_type)) && d.set(n.source_id, str_of(p.source_id)) &&
      d.set(n.method, opt_str(p.method)) && d.set(n.chain, str_list(p.chain)) &&
      d.set(n.model_version, opt_str(p.model_version)) && d.set(n.organization, opt_str(p.organization)) &&
      d.set(n.project, opt_str(p.project)) && d.set(n.agent_id, opt_str(p.agent_id)) &&
      d.set(n.source_version, opt_str(p.source_version)) && d.set(n.labels, string_map_to_dict(p.labels));
  return d.release();
}

PyObject* payload_dict(const std::optional<Payload>& p) {
  if (!p) return Py_NewRef(Py_None);
  std::string text;
  try {
    text = zorlet_core::json::to_text(p->data);
  } catch (const std::exception& e) {
    PyErr_Format(PyExc_ValueError, "payload serialization error: %s", e.what());
    return nullptr;
  }
  const Names& n = names();
  DictBuilder d(2);
  d.set(n.schema_ref, str_of(p->schema_ref)) && d.set(n.data_json, str_of(text));
  return d.release();
}

}  // namespace

bool claim_from_object(PyObject* obj, Claim& out) {
  const Names& n = names();
  Claim c;
  if (!required_str(obj, n.claim_id, c.claim_id) || !required_str(obj, n.content_id, c.content_id) ||
      !read_f64(obj, n.confidence, c.confidence) || !read_i64(obj, n.timestamp, c.timestamp) ||
      !read_entity_attr(obj, n.subject, c.subject) || !read_predicate(obj, c) ||
      !read_entity_attr(obj, n.object, c.object) || !read_provenance(obj, c.provenance) ||
      !read_payload(obj, c.payload) || !read_status(obj, c.status))
    return false;

  if (PyRef ns = lenient_attr(obj, n.namespace_); ns && PyUnicode_Check(ns.get()) && !utf8_of(ns.get(), c.ns)) {
    PyErr_Clear();
    c.ns.clear();
  }
  if (PyRef exp = lenient_attr(obj, n.expires_at); exp && (PyLong_Check(exp.get()) || PyIndex_Check(exp.get()))) {
    long long x = PyLong_AsLongLong(exp.get());
    if (x == -1 && PyErr_Occurred()) {
      PyErr_Clear();
      x = 0;
    }
    c.expires_at = x;
  }
  out = std::move(c);
  return true;
}

PyObject* claim_to_dict(const Claim& c) {
  const Names& n = names();
  DictBuilder d(12);
  d.set(n.claim_id, str_of(c.claim_id)) && d.set(n.content_id, str_of(c.content_id)) &&
      d.set(n.subject, entity_ref_dict(c.subject)) && d.set(n.predicate, predicate_dict(c.predicate)) &&
      d.set(n.object, entity_ref_dict(c.object)) && d.set(n.confidence, PyFloat_FromDouble(c.confidence)) &&
      d.set(n.provenance, provenance_dict(c.provenance)) && d.set(n.payload, payload_dict(c.payload)) &&
      d.set(n.timestamp, PyLong_FromLongLong(c.timestamp)) &&
      d.set(n.status, str_of(zorlet_core::types::status_name(c.status))) && d.set(n.namespace_, str_of(c.ns)) &&
      d.set(n.expires_at, PyLong_FromLongLong(c.expires_at));
  return d.release();
}

PyObject* claims_to_list(const std::vector<Claim>& claims) {
  GcPause pause;
  PyRef list(PyList_New(static_cast<Py_ssize_t>(claims.size())));
  if (!list) return nullptr;
  for (size_t i = 0; i < claims.size(); ++i) {
    PyObject* d = claim_to_dict(claims[i]);
    if (!d) return nullptr;  // the partial list goes with `list`
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), d);
  }
  return list.release();
}

PyObject* entity_to_dict(const EntitySummary& e) {
  const Names& n = names();
  DictBuilder d(5);
  d.set(n.id, str_of(e.id)) && d.set(n.name, str_of(e.name)) && d.set(n.entity_type, str_of(e.entity_type)) &&
      d.set(n.external_ids, string_map_to_dict(e.external_ids)) && d.set(n.claim_count, py_u64(e.claim_count));
  return d.release();
}

PyObject* entities_to_list(const std::vector<EntitySummary>& entities) {
  GcPause pause;
  PyRef list(PyList_New(static_cast<Py_ssize_t>(entities.size())));
  if (!list) return nullptr;
  for (size_t i = 0; i < entities.size(); ++i) {
    PyObject* d = entity_to_dict(entities[i]);
    if (!d) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), d);
  }
  return list.release();
}

PyObject* string_map_to_dict(const StringMap& map) {
  PyRef d(PyDict_New());
  if (!d) return nullptr;
  for (const auto& [k, v] : map) {
    PyRef key(str_of(k)), value(str_of(v));
    if (!key || !value || PyDict_SetItem(d.get(), key.get(), value.get()) < 0) return nullptr;
  }
  return d.release();
}

// The walk mirrors Python's own dict iteration, because str() of a value runs
// Python code that may change the dict under it: a change of size is noticed
// at the next step, and finding more entries than the dict held at the start
// means its keys were replaced.
bool lenient_text_map(PyObject* obj, StringMap& out) {
  out.clear();
  if (obj == Py_None || !PyDict_Check(obj)) return true;
  const Py_ssize_t size = PyDict_GET_SIZE(obj);
  Py_ssize_t remaining = size;
  Py_ssize_t pos = 0;
  PyObject *k, *v;
  while (true) {
    if (PyDict_GET_SIZE(obj) != size) {
      PyErr_SetString(internal_fault_type(), "dictionary changed size during iteration");
      return false;
    }
    if (!PyDict_Next(obj, &pos, &k, &v)) break;
    if (remaining-- == 0) {
      PyErr_SetString(internal_fault_type(), "dictionary keys changed during iteration");
      return false;
    }
    std::string key, value;
    if (!PyUnicode_Check(k) || !utf8_of(k, key)) {
      PyErr_Clear();
      continue;
    }
    if (PyUnicode_Check(v)) {
      if (utf8_of(v, value)) out[std::move(key)] = std::move(value);
      else PyErr_Clear();
      continue;
    }
    PyRef held = PyRef::borrow(v);  // the dict may drop it while str() runs
    PyRef text(PyObject_Str(held.get()));
    if (!text || !utf8_of(text.get(), value)) {
      PyErr_Clear();
      continue;
    }
    out[std::move(key)] = std::move(value);
  }
  return true;
}

bool value_to_json_text(PyObject* value, std::string& out) {
  static PyObject* dumps = nullptr;  // json.dumps, imported on first use and kept
  if (!dumps) {
    PyRef json(PyImport_ImportModule("json"));
    if (!json) return false;
    dumps = PyObject_GetAttrString(json.get(), "dumps");
    if (!dumps) return false;
  }
  PyRef text(PyObject_CallOneArg(dumps, value));
  if (!text) return false;
  if (!PyUnicode_Check(text.get())) {
    PyErr_Format(PyExc_TypeError, "json.dumps returned %s, not str", Py_TYPE(text.get())->tp_name);
    return false;
  }
  return utf8_of(text.get(), out);
}

}  // namespace zorlet_py
