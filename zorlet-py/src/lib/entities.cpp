// Entity methods: single writes, lookups and search, and the bulk entry
// points that take plain Python containers instead of claim objects.
//
// Bulk containers:
//   entities   := dict { str entity_id: tuple(str entity_type, str display_name, str ext_ids_json, ...) }
//   claim_rows := list [ row ], row[i] readable by integer index, at least 15 items:
//                 0 subject id, 1 object id, 2 claim id, 3 content id, 4 predicate id,
//                 5 predicate type, 6 confidence (float or int), 7 source type,
//                 8 source id, 14 timestamp (int64); 9-13 and 15 are never read.
// Everything is extracted before the store is touched, so an element error
// leaves the store unchanged.
#include <algorithm>
#include <array>
#include <unordered_map>

#include "args.h"
#include "convert.h"
#include "methods.h"
#include "native_store.h"
#include "py_ref.h"
#include "zorlet_core/json.h"

namespace zorlet_py {

namespace {

using zorlet_core::types::Claim;
using zorlet_core::types::StringMap;
using zorlet_store::backend::EntityRow;

// ---- argument conversion ----

// A dict of str -> str exactly, or None (absent). Anything else is a
// TypeError naming the argument.
bool strict_text_map(PyObject* o, const char* name, std::optional<StringMap>& out) {
  if (!o || o == Py_None) return true;
  if (!PyDict_Check(o)) {
    PyErr_Format(PyExc_TypeError, "argument '%s': expected dict of str to str, got %s", name, Py_TYPE(o)->tp_name);
    return false;
  }
  StringMap map;
  Py_ssize_t pos = 0;
  PyObject *key, *value;
  while (PyDict_Next(o, &pos, &key, &value)) {
    std::string k, v;
    if (!utf8_of(key, k) || !utf8_of(value, v)) {
      prefix_type_error(name);
      return false;
    }
    map.insert_or_assign(std::move(k), std::move(v));
  }
  out = std::move(map);
  return true;
}

// External ids as JSON text, read leniently: "" and "{}" are empty without
// parsing; anything that is not a JSON object of strings gives no ids.
StringMap external_ids_from_json(std::string_view text) {
  StringMap ids;
  if (text.empty() || text == "{}") return ids;
  auto parsed = zorlet_core::json::parse(text);
  if (!parsed || !parsed->is_object()) return ids;
  for (const auto& [key, value] : parsed->items()) {
    if (!value.is_string()) return {};
    ids.insert_or_assign(key, value.get<std::string>());
  }
  return ids;
}

// One str item of a tuple or row; TypeError when it is not a str.
bool item_text(PyObject* item, const char* what, Py_ssize_t index, std::string& out) {
  if (PyUnicode_Check(item)) return utf8_of(item, out);
  PyErr_Format(PyExc_TypeError, "%s item %zd: expected str, got %s", what, index, Py_TYPE(item)->tp_name);
  return false;
}

// Reads the entity table in dict iteration order. The walk only reads str
// and tuple internals, so no Python code runs during it; a size change can
// only come from elsewhere and is treated as the fault it is.
bool read_entity_table(PyObject* dict, std::vector<EntityRow>& rows) {
  const Py_ssize_t size = PyDict_GET_SIZE(dict);
  rows.reserve(static_cast<size_t>(size));
  Py_ssize_t pos = 0;
  PyObject *key, *value;
  while (PyDict_Next(dict, &pos, &key, &value)) {
    if (PyDict_GET_SIZE(dict) != size) throw zorlet_core::errors::InternalFault("dictionary changed size during iteration");
    EntityRow row;
    if (!PyUnicode_Check(key)) {
      PyErr_Format(PyExc_TypeError, "entities: key must be str, got %s", Py_TYPE(key)->tp_name);
      return false;
    }
    if (!utf8_of(key, row.id)) return false;
    if (!PyTuple_Check(value)) {
      PyErr_Format(PyExc_TypeError, "entities['%U']: expected tuple, got %s", key, Py_TYPE(value)->tp_name);
      return false;
    }
    if (PyTuple_GET_SIZE(value) < 3) {
      PyErr_Format(PyExc_IndexError, "entities['%U']: expected a tuple of at least 3 items, got %zd", key,
                   PyTuple_GET_SIZE(value));
      return false;
    }
    std::string ext;
    if (!item_text(PyTuple_GET_ITEM(value, 0), "entity tuple", 0, row.entity_type) ||
        !item_text(PyTuple_GET_ITEM(value, 1), "entity tuple", 1, row.display_name) ||
        !item_text(PyTuple_GET_ITEM(value, 2), "entity tuple", 2, ext))
      return false;
    row.external_ids = external_ids_from_json(ext);
    rows.push_back(std::move(row));
  }
  return true;
}

// row[index]: tuples and lists directly, anything else through __getitem__.
PyRef row_item(PyObject* row, Py_ssize_t index) {
  if (PyTuple_CheckExact(row) || PyList_CheckExact(row)) {
    Py_ssize_t n = PyTuple_CheckExact(row) ? PyTuple_GET_SIZE(row) : PyList_GET_SIZE(row);
    if (index >= n) {
      PyErr_Format(PyExc_IndexError, "claim row has %zd items, position %zd is required", n, index);
      return PyRef();
    }
    return PyRef::borrow(PyTuple_CheckExact(row) ? PyTuple_GET_ITEM(row, index) : PyList_GET_ITEM(row, index));
  }
  PyRef i(PyLong_FromSsize_t(index));
  return i ? PyRef(PyObject_GetItem(row, i.get())) : PyRef();
}

// One claim row as read: strong references to its eight str items (so their
// UTF-8 stays valid without copying it) and its two numbers. About 80 bytes a
// row, where a built claim takes about a kilobyte: claims are built from these
// one write chunk at a time.
struct BulkRow {
  enum Text { kSubject, kObject, kClaimId, kContentId, kPredicate, kPredicateType, kSourceType, kSourceId, kTexts };
  std::array<PyRef, kTexts> text;
  double confidence = 0.0;
  int64_t timestamp = 0;

  std::string_view view(Text t) const {
    Py_ssize_t n = 0;
    const char* s = PyUnicode_AsUTF8AndSize(text[t].get(), &n);  // cached: validated when read
    return {s, static_cast<size_t>(n)};
  }
};

bool row_text(PyObject* row, Py_ssize_t index, PyRef& out) {
  PyRef item = row_item(row, index);
  if (!item) return false;
  if (!PyUnicode_Check(item.get())) {
    PyErr_Format(PyExc_TypeError, "claim row item %zd: expected str, got %s", index, Py_TYPE(item.get())->tp_name);
    return false;
  }
  if (!PyUnicode_AsUTF8AndSize(item.get(), nullptr)) return false;  // lone surrogates
  out = std::move(item);
  return true;
}

// Reads positions 0-8 and 14, in that order.
bool read_bulk_row(PyObject* row, BulkRow& r) {
  for (Py_ssize_t i = 0; i <= 5; ++i)
    if (!row_text(row, i, r.text[i])) return false;
  PyRef conf = row_item(row, 6);
  if (!conf) return false;
  if (PyUnicode_Check(conf.get()) || PyBytes_Check(conf.get())) {
    PyErr_Format(PyExc_TypeError, "claim row item 6: expected float, got %s", Py_TYPE(conf.get())->tp_name);
    return false;
  }
  r.confidence = PyFloat_AsDouble(conf.get());
  if (r.confidence == -1.0 && PyErr_Occurred()) return false;
  if (!row_text(row, 7, r.text[BulkRow::kSourceType]) || !row_text(row, 8, r.text[BulkRow::kSourceId])) return false;
  PyRef ts = row_item(row, 14);
  if (!ts) return false;
  PyRef index(PyNumber_Index(ts.get()));
  if (!index) return false;
  long long v = PyLong_AsLongLong(index.get());
  if (v == -1 && PyErr_Occurred()) return false;
  r.timestamp = v;
  return true;
}

// The list is walked by index up to its current length.
bool read_claim_rows(PyObject* list, std::vector<BulkRow>& rows) {
  rows.reserve(static_cast<size_t>(PyList_GET_SIZE(list)));
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list); ++i) {
    PyRef row = PyRef::borrow(PyList_GET_ITEM(list, i));  // kept alive across __getitem__ calls
    BulkRow r;
    if (!read_bulk_row(row.get(), r)) return false;
    rows.push_back(std::move(r));
  }
  return true;
}

using Names = std::unordered_map<std::string, std::pair<std::string, std::string>>;

// Type and display name of a row's entity: this call's table, else the
// store, else "entity" and the id itself.
void name_entity(zorlet_core::types::EntityRef& ref, const Names& names) {
  if (auto it = names.find(ref.id); it != names.end()) {
    ref.entity_type = it->second.first;
    ref.display_name = it->second.second;
  } else {
    ref.entity_type = "entity";
    ref.display_name = ref.id;
  }
}

// Every other field keeps its default: status active, empty namespace, no
// optional provenance, no payload.
Claim claim_of(const BulkRow& r, const Names& names) {
  Claim c;
  c.subject.id = r.view(BulkRow::kSubject);
  c.object.id = r.view(BulkRow::kObject);
  c.claim_id = r.view(BulkRow::kClaimId);
  c.content_id = r.view(BulkRow::kContentId);
  c.predicate.id = r.view(BulkRow::kPredicate);
  c.predicate.predicate_type = r.view(BulkRow::kPredicateType);
  c.confidence = r.confidence;
  c.provenance.source_type = r.view(BulkRow::kSourceType);
  c.provenance.source_id = r.view(BulkRow::kSourceId);
  c.timestamp = r.timestamp;
  name_entity(c.subject, names);
  name_entity(c.object, names);
  return c;
}

// Claims are handed to the batch writer in runs of its own transaction size,
// so that at most one run of built claims exists at a time. Ids already
// stored by an earlier run are skipped by the writer exactly as a duplicate
// later in one list would be.
constexpr size_t kClaimRun = 100000;

// Ingests extracted rows: entities first (one batch), then names for ids the
// table lacks (one batched lookup of the sorted, distinct ids), then the
// claims.
PyObject* ingest(NativeStore& s, const std::vector<EntityRow>& entity_rows, const std::vector<BulkRow>& rows,
                 int64_t timestamp) {
  Names names;
  names.reserve(entity_rows.size());
  for (const EntityRow& e : entity_rows) names.try_emplace(e.id, e.entity_type, e.display_name);
  if (!entity_rows.empty())
    if (auto r = s.upsert_entities_batch(entity_rows, timestamp); !r) return raise_store_error(PyExc_RuntimeError, r.error());

  std::vector<std::string> missing;
  for (const BulkRow& r : rows) {
    for (auto t : {BulkRow::kSubject, BulkRow::kObject}) {
      std::string_view id = r.view(t);
      if (!names.contains(std::string(id))) missing.emplace_back(id);
    }
  }
  std::sort(missing.begin(), missing.end());
  missing.erase(std::unique(missing.begin(), missing.end()), missing.end());
  if (!missing.empty())
    for (auto& [id, type_and_name] : s.be().get_entities_batch(missing)) names.try_emplace(id, std::move(type_and_name));
  missing = {};

  uint64_t stored = 0;
  size_t begin = 0;
  do {
    const size_t end = std::min(rows.size(), begin + kClaimRun);
    std::vector<Claim> claims;
    claims.reserve(end - begin);
    for (size_t i = begin; i < end; ++i) claims.push_back(claim_of(rows[i], names));
    stored += s.insert_claims_batch(std::move(claims));
    begin = end;
  } while (begin < rows.size());
  return py_u64(stored);
}

// ---- methods ----

PyObject* upsert_entity(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Params<5> kSig{
      "upsert_entity", {"entity_id", "entity_type", "display_name", "external_ids", "timestamp"}, 2};
  std::array<PyObject*, 5> a;
  if (!kSig.bind(args, nargs, kwnames, a)) return nullptr;
  std::string id, type, display;
  std::optional<StringMap> external_ids;
  int64_t timestamp = 0;
  if (!conv::text(a[0], "entity_id", id) || !conv::text(a[1], "entity_type", type) ||
      !conv::text(a[2], "display_name", display) || !strict_text_map(a[3], "external_ids", external_ids) ||
      !conv::i64(a[4], "timestamp", timestamp))
    return nullptr;
  return with_access(self, Access::Exclusive, [&](NativeStore& s) -> PyObject* {
    s.upsert_entity(id, type, display, external_ids, timestamp);
    return none();
  });
}

PyObject* update_display_name(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Params<2> kSig{"update_display_name", {"entity_id", "new_display"}, 2};
  std::array<PyObject*, 2> a;
  if (!kSig.bind(args, nargs, kwnames, a)) return nullptr;
  std::string id, display;
  if (!conv::text(a[0], "entity_id", id) || !conv::text(a[1], "new_display", display)) return nullptr;
  return with_access(self, Access::Exclusive,
                     [&](NativeStore& s) { return py_bool(s.update_display_name(id, display)); });
}

PyObject* get_entity(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Params<1> kSig{"get_entity", {"entity_id"}, 1};
  std::array<PyObject*, 1> a;
  if (!kSig.bind(args, nargs, kwnames, a)) return nullptr;
  std::string id;
  if (!conv::text(a[0], "entity_id", id)) return nullptr;
  return with_access(self, Access::Shared, [&](NativeStore& s) -> PyObject* {
    auto entity = s.be().get_entity(id);
    return entity ? entity_to_dict(*entity) : none();
  });
}

PyObject* list_entities(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Params<4> kSig{"list_entities", {"entity_type", "min_claims", "offset", "limit"}, 0};
  std::array<PyObject*, 4> a;
  if (!kSig.bind(args, nargs, kwnames, a)) return nullptr;
  std::optional<std::string> type;
  uint64_t min_claims = 0, offset = 0, limit = 0;
  if (!conv::opt_text(a[0], "entity_type", type) || !conv::u64(a[1], "min_claims", min_claims) ||
      !conv::u64(a[2], "offset", offset) || !conv::u64(a[3], "limit", limit))
    return nullptr;
  return with_access(self, Access::Shared, [&](NativeStore& s) {
    return entities_to_list(s.be().list_entities(type, min_claims, offset, limit));
  });
}

PyObject* count_entities(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Params<2> kSig{"count_entities", {"entity_type", "min_claims"}, 0};
  std::array<PyObject*, 2> a;
  if (!kSig.bind(args, nargs, kwnames, a)) return nullptr;
  std::optional<std::string> type;
  uint64_t min_claims = 0;
  if (!conv::opt_text(a[0], "entity_type", type) || !conv::u64(a[1], "min_claims", min_claims)) return nullptr;
  return with_access(self, Access::Shared,
                     [&](NativeStore& s) { return py_u64(s.be().count_entities(type, min_claims)); });
}

PyObject* search_entities(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Params<2> kSig{"search_entities", {"query", "top_k"}, 1};
  std::array<PyObject*, 2> a;
  if (!kSig.bind(args, nargs, kwnames, a)) return nullptr;
  std::string query;
  uint64_t top_k = 10;
  if (!conv::text(a[0], "query", query) || !conv::u64(a[1], "top_k", top_k)) return nullptr;
  return with_access(self, Access::Shared,
                     [&](NativeStore& s) { return entities_to_list(s.be().search_entities(query, top_k)); });
}

PyObject* insert_bulk(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Params<3> kSig{"insert_bulk", {"entities", "claim_rows", "timestamp"}, 3};
  std::array<PyObject*, 3> a;
  if (!kSig.bind(args, nargs, kwnames, a)) return nullptr;
  PyObject* entities = nullptr;
  PyObject* claim_rows = nullptr;
  int64_t timestamp = 0;
  if (!conv::dict(a[0], "entities", entities) || !conv::list(a[1], "claim_rows", claim_rows) ||
      !conv::i64(a[2], "timestamp", timestamp))
    return nullptr;
  // The interpreter lock stays held: extraction needs it, and the store calls
  // follow directly.
  return with_access(self, Access::Exclusive, [&](NativeStore& s) -> PyObject* {
    std::vector<EntityRow> entity_rows;
    std::vector<BulkRow> rows;
    if (!read_entity_table(entities, entity_rows) || !read_claim_rows(claim_rows, rows)) return nullptr;
    return ingest(s, entity_rows, rows, timestamp);
  });
}

PyObject* upsert_entities_batch(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Params<2> kSig{"upsert_entities_batch", {"entities", "timestamp"}, 2};
  std::array<PyObject*, 2> a;
  if (!kSig.bind(args, nargs, kwnames, a)) return nullptr;
  PyObject* entities = nullptr;
  int64_t timestamp = 0;
  if (!conv::dict(a[0], "entities", entities) || !conv::i64(a[1], "timestamp", timestamp)) return nullptr;
  return with_access(self, Access::Exclusive, [&](NativeStore& s) -> PyObject* {
    std::vector<EntityRow> rows;
    if (!read_entity_table(entities, rows)) return nullptr;
    if (auto r = s.upsert_entities_batch(rows, timestamp); !r) return raise_store_error(PyExc_RuntimeError, r.error());
    return py_u64(rows.size());
  });
}

}  // namespace

extern const PyMethodDef kEntityMethods[] = {
    {"upsert_entity", ZORLET_FASTCALL(upsert_entity), kFastKw,
     "upsert_entity($self, entity_id, entity_type, display_name=\"\", external_ids=None, timestamp=0)\n--\n\n"},
    {"update_display_name", ZORLET_FASTCALL(update_display_name), kFastKw,
     "update_display_name($self, entity_id, new_display)\n--\n\n"
     "Update display_name for an existing entity. Returns true if updated."},
    {"get_entity", ZORLET_FASTCALL(get_entity), kFastKw, "get_entity($self, entity_id)\n--\n\n"},
    {"list_entities", ZORLET_FASTCALL(list_entities), kFastKw,
     "list_entities($self, entity_type=None, min_claims=0, offset=0, limit=0)\n--\n\n"},
    {"count_entities", ZORLET_FASTCALL(count_entities), kFastKw,
     "count_entities($self, entity_type=None, min_claims=0)\n--\n\n"},
    {"search_entities", ZORLET_FASTCALL(search_entities), kFastKw,
     "search_entities($self, query, top_k=10)\n--\n\n"},
    {"insert_bulk", ZORLET_FASTCALL(insert_bulk), kFastKw,
     "insert_bulk($self, entities, claim_rows, timestamp)\n--\n\n"
     "Batch-insert entities and claims from pre-computed Python data.\n"
     "\n"
     "Accepts the same tuple formats used by `_ingest_append_direct`:\n"
     "- entities: {entity_id: (entity_type, display_name, ext_ids_json)}\n"
     "- claim_rows: list of 16-element tuples matching bulk loader format\n"
     "\n"
     "This avoids constructing Python Claim dataclass objects per row,\n"
     "extracting all data in one pass then inserting without GIL.\n"
     "\n"
     "Returns the number of claims inserted."},
    {"upsert_entities_batch", ZORLET_FASTCALL(upsert_entities_batch), kFastKw,
     "upsert_entities_batch($self, entities, timestamp)\n--\n\n"
     "Register entities in the store without inserting claims.\n"
     "\n"
     "Used as Phase 1 of two-phase bulk loading: register entities first,\n"
     "then call insert_bulk() with an empty entities dict; the native module resolves display names from the "
     "store's own indexes.\n"
     "\n"
     "Accepts the same dict format as insert_bulk:\n"
     "  {entity_id: (entity_type, display_name, ext_ids_json)}"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace zorlet_py
