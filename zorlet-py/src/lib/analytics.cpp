// Analytics, statistics, maintenance, merging and the registry.
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "args.h"
#include "convert.h"
#include "methods.h"
#include "native_store.h"
#include "py_ref.h"
#include "zorlet_core/json.h"

namespace zorlet_py {

namespace {

using zorlet_store::backend::Contradiction;
using zorlet_store::backend::Gap;
using zorlet_store::backend::PredicateCount;
using zorlet_store::backend::SourceCount;
using zorlet_core::errors::Result;

// ---- Result builders (each returns a new reference or nullptr) ----

template <class Map>
PyObject* count_dict(const Map& counts) {
  PyRef dict(PyDict_New());
  if (!dict) return nullptr;
  for (const auto& [key, count] : counts) {
    PyRef k(str_of(key));
    PyRef v(py_u64(count));
    if (!k || !v || PyDict_SetItem(dict.get(), k.get(), v.get()) != 0) return nullptr;
  }
  return dict.release();
}

// A list built from `items`, one new reference per item from `make`.
template <class T, class Make>
PyObject* list_of(const std::vector<T>& items, Make&& make) {
  PyRef list(PyList_New(static_cast<Py_ssize_t>(items.size())));
  if (!list) return nullptr;
  for (size_t i = 0; i < items.size(); ++i) {
    PyObject* item = make(items[i]);
    if (!item) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
  }
  return list.release();
}

PyObject* text_list_of(const std::vector<std::string>& texts) {
  return list_of(texts, [](const std::string& s) { return str_of(s); });
}

PyObject* run_no_args(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, const char* name,
                      Access access, PyObject* (*body)(NativeStore&)) {
  const Params<0> sig{name, {}, 0};
  std::array<PyObject*, 0> a{};
  if (!sig.bind(args, nargs, kwnames, a)) return nullptr;
  return with_access(self, access, body);
}

// ---- Analytics ----

PyObject* predicate_counts(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_no_args(self, args, nargs, kwnames, "predicate_counts", Access::Shared,
                     [](NativeStore& s) { return count_dict(s.be().predicate_counts()); });
}

PyObject* source_id_counts(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_no_args(self, args, nargs, kwnames, "source_id_counts", Access::Shared,
                     [](NativeStore& s) { return count_dict(s.be().source_id_counts()); });
}

PyObject* entity_predicate_counts(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Params<1> kSig{"entity_predicate_counts", {"entity_id"}, 1};
  std::array<PyObject*, 1> a;
  if (!kSig.bind(args, nargs, kwnames, a)) return nullptr;
  std::string entity_id;
  if (!conv::text(a[0], "entity_id", entity_id)) return nullptr;
  return with_access(self, Access::Shared, [&](NativeStore& s) {
    return list_of(s.be().entity_predicate_counts(entity_id), [](const PredicateCount& p) {
      return Py_BuildValue("(NN)", str_of(p.predicate_id), py_u64(p.count));
    });
  });
}

PyObject* entity_source_counts(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Params<1> kSig{"entity_source_counts", {"entity_id"}, 1};
  std::array<PyObject*, 1> a;
  if (!kSig.bind(args, nargs, kwnames, a)) return nullptr;
  std::string entity_id;
  if (!conv::text(a[0], "entity_id", entity_id)) return nullptr;
  return with_access(self, Access::Shared, [&](NativeStore& s) {
    return list_of(s.be().entity_source_counts(entity_id), [](const SourceCount& c) {
      return Py_BuildValue("(NNd)", str_of(c.source_id), py_u64(c.count), c.avg_confidence);
    });
  });
}

PyObject* find_contradictions(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Params<2> kSig{"find_contradictions", {"pred_a", "pred_b"}, 2};
  std::array<PyObject*, 2> a;
  if (!kSig.bind(args, nargs, kwnames, a)) return nullptr;
  std::string pred_a, pred_b;
  if (!conv::text(a[0], "pred_a", pred_a) || !conv::text(a[1], "pred_b", pred_b)) return nullptr;
  return with_access(self, Access::Shared, [&](NativeStore& s) {
    return list_of(s.be().find_contradictions(pred_a, pred_b), [](const Contradiction& c) {
      return Py_BuildValue("(NNNNdd)", str_of(c.subject_id), str_of(c.object_id), py_u64(c.count_a),
                           py_u64(c.count_b), c.avg_confidence_a, c.avg_confidence_b);
    });
  });
}

PyObject* find_single_source_entities(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Params<1> kSig{"find_single_source_entities", {"min_claims"}, 0};
  std::array<PyObject*, 1> a;
  if (!kSig.bind(args, nargs, kwnames, a)) return nullptr;
  uint64_t min_claims = 5;
  if (!conv::u64(a[0], "min_claims", min_claims)) return nullptr;
  return with_access(self, Access::Shared,
                     [&](NativeStore& s) { return text_list_of(s.be().find_single_source_entities(min_claims)); });
}

PyObject* gap_analysis(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Params<3> kSig{"gap_analysis", {"entity_type", "expected_predicates", "limit"}, 2};
  std::array<PyObject*, 3> a;
  if (!kSig.bind(args, nargs, kwnames, a)) return nullptr;
  std::string entity_type;
  std::vector<std::string> expected;
  uint64_t limit = 0;
  if (!conv::text(a[0], "entity_type", entity_type) || !conv::text_list(a[1], "expected_predicates", expected) ||
      !conv::u64(a[2], "limit", limit))
    return nullptr;
  return with_access(self, Access::Shared, [&](NativeStore& s) {
    return list_of(s.be().gap_analysis(entity_type, expected, limit), [](const Gap& g) {
      return Py_BuildValue("(NN)", str_of(g.entity_id), text_list_of(g.missing));
    });
  });
}

PyObject* stats(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_no_args(self, args, nargs, kwnames, "stats", Access::Shared, [](NativeStore& s) -> PyObject* {
    auto st = s.stats();
    auto [used, max] = s.reader_info();
    PyRef dict(PyDict_New());
    if (!dict) return nullptr;
    const std::pair<const char*, PyObject*> entries[] = {
        {"total_claims", py_u64(st.total_claims)},
        {"entity_count", py_u64(st.entity_count)},
        {"entity_types", count_dict(st.entity_types)},
        {"predicate_types", count_dict(st.predicate_types)},
        {"source_types", count_dict(st.source_types)},
        {"reader_slots_used", PyLong_FromUnsignedLong(used)},
        {"reader_slots_max", PyLong_FromUnsignedLong(max)},
    };
    bool ok = true;
    for (const auto& [key, value] : entries) {
      PyRef owned(value);  // every value is released, also after a failure
      if (ok) ok = owned && PyDict_SetItemString(dict.get(), key, owned.get()) == 0;
    }
    return ok ? dict.release() : nullptr;
  });
}

// ---- Maintenance ----

PyObject* compact(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_no_args(self, args, nargs, kwnames, "compact", Access::Exclusive, [](NativeStore& s) -> PyObject* {
    auto r = s.compact();
    if (!r) return raise_store_error(PyExc_RuntimeError, r.error());
    return py_bool(*r);
  });
}

PyObject* reader_check(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_no_args(self, args, nargs, kwnames, "reader_check", Access::Shared, [](NativeStore& s) -> PyObject* {
    auto r = s.reader_check();
    if (!r) {
      PyErr_Format(PyExc_ValueError, "reader_check failed: %s", r.error().display().c_str());
      return nullptr;
    }
    return py_u64(*r);
  });
}

PyObject* reader_info(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_no_args(self, args, nargs, kwnames, "reader_info", Access::Shared, [](NativeStore& s) -> PyObject* {
    auto [used, max] = s.reader_info();
    return Py_BuildValue("(NN)", PyLong_FromUnsignedLong(used), PyLong_FromUnsignedLong(max));
  });
}

PyObject* rebuild_counters(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_no_args(self, args, nargs, kwnames, "rebuild_counters", Access::Exclusive,
                     [](NativeStore& s) -> PyObject* {
                       auto r = s.rebuild_counters();
                       if (!r) return raise_store_error(PyExc_RuntimeError, r.error());
                       return none();
                     });
}

// The counter maintenance operations that answer a count.
template <Result<uint64_t> (NativeStore::*Op)()>
PyObject* count_op(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, const char* name) {
  return run_no_args(self, args, nargs, kwnames, name, Access::Exclusive, [](NativeStore& s) -> PyObject* {
    auto r = (s.*Op)();
    if (!r) return raise_store_error(PyExc_RuntimeError, r.error());
    return py_u64(*r);
  });
}

PyObject* rebuild_causal_adj(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return count_op<&NativeStore::rebuild_causal_adj>(self, args, nargs, kwnames, "rebuild_causal_adj");
}
PyObject* backfill_pred_id_counts(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return count_op<&NativeStore::backfill_pred_id_counts>(self, args, nargs, kwnames, "backfill_pred_id_counts");
}
PyObject* backfill_claim_summaries(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return count_op<&NativeStore::backfill_claim_summaries>(self, args, nargs, kwnames, "backfill_claim_summaries");
}
PyObject* backfill_analytics_counters(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return count_op<&NativeStore::backfill_analytics_counters>(self, args, nargs, kwnames,
                                                             "backfill_analytics_counters");
}

PyObject* merge_from(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Params<1> kSig{"merge_from", {"source_path"}, 1};
  std::array<PyObject*, 1> a;
  if (!kSig.bind(args, nargs, kwnames, a)) return nullptr;
  std::string source_path;
  if (!conv::text(a[0], "source_path", source_path)) return nullptr;
  return with_access(self, Access::Exclusive, [&](NativeStore& s) -> PyObject* {
    auto r = s.merge_from(source_path);
    if (!r) return raise_store_error(PyExc_RuntimeError, r.error());
    return py_u64(*r);
  });
}

// ---- Registry ----

// A vocabulary given as {str: [str, ...]}; anything that does not convert
// gives an empty map, without an error.
std::map<std::string, std::vector<std::string>> lenient_vocabulary_map(PyObject* vocab) {
  std::map<std::string, std::vector<std::string>> out;
  if (!PyDict_Check(vocab)) return out;
  Py_ssize_t pos = 0;
  PyObject *key, *value;
  while (PyDict_Next(vocab, &pos, &key, &value)) {
    std::string k;
    std::vector<std::string> items;
    if (!PyUnicode_Check(key) || !utf8_of(key, k) || !conv::text_list(value, "vocab", items)) {
      PyErr_Clear();
      return {};
    }
    out.insert_or_assign(std::move(k), std::move(items));
  }
  return out;
}

PyObject* register_vocabulary(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Params<2> kSig{"register_vocabulary", {"namespace", "vocab"}, 2};
  std::array<PyObject*, 2> a;
  if (!kSig.bind(args, nargs, kwnames, a)) return nullptr;
  std::string ns;
  if (!conv::text(a[0], "namespace", ns)) return nullptr;
  return with_access(self, Access::Exclusive, [&](NativeStore& s) -> PyObject* {
    // Converted under access: a dict subclass may run Python code.
    auto map = lenient_vocabulary_map(a[1]);
    zorlet_store::metadata::Vocabulary vocabulary;
    auto take = [&](const char* name, std::vector<std::string>& into) {
      if (auto it = map.find(name); it != map.end()) into = std::move(it->second);
    };
    take("entity_types", vocabulary.entity_types);
    take("predicate_types", vocabulary.predicate_types);
    take("source_types", vocabulary.source_types);
    s.register_vocabulary(std::move(ns), std::move(vocabulary));
    return none();
  });
}

// json.dumps, then the store's JSON reader; its message alone on failure
// (NaN and the infinities, which json.dumps writes but JSON does not allow).
bool json_value_of(PyObject* value, zorlet_core::json::Json& out) {
  std::string text;
  if (!value_to_json_text(value, text)) return false;
  auto parsed = zorlet_core::json::parse(text);
  if (!parsed) {
    PyErr_SetString(PyExc_ValueError, parsed.error().c_str());
    return false;
  }
  out = std::move(*parsed);
  return true;
}

template <void (NativeStore::*Register)(std::string, const zorlet_core::json::Json&)>
PyObject* register_document(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                            const Params<2>& sig) {
  std::array<PyObject*, 2> a;
  if (!sig.bind(args, nargs, kwnames, a)) return nullptr;
  std::string id;
  if (!conv::text(a[0], sig.names[0], id)) return nullptr;
  return with_access(self, Access::Exclusive, [&](NativeStore& s) -> PyObject* {
    zorlet_core::json::Json value;
    if (!json_value_of(a[1], value)) return nullptr;
    (s.*Register)(std::move(id), value);
    return none();
  });
}

PyObject* register_predicate(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Params<2> kSig{"register_predicate", {"predicate_id", "constraints"}, 2};
  return register_document<&NativeStore::register_predicate>(self, args, nargs, kwnames, kSig);
}

PyObject* register_payload_schema(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Params<2> kSig{"register_payload_schema", {"schema_id", "schema"}, 2};
  return register_document<&NativeStore::register_payload_schema>(self, args, nargs, kwnames, kSig);
}

PyObject* get_registered_vocabularies(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_no_args(self, args, nargs, kwnames, "get_registered_vocabularies", Access::Shared,
                     [](NativeStore& s) -> PyObject* {
                       PyRef dict(PyDict_New());
                       if (!dict) return nullptr;
                       for (const auto& [ns, v] : s.get_registered_vocabularies()) {
                         PyRef entry(PyDict_New());
                         if (!entry) return nullptr;
                         const std::pair<const char*, const std::vector<std::string>*> parts[] = {
                             {"entity_types", &v.entity_types},
                             {"predicate_types", &v.predicate_types},
                             {"source_types", &v.source_types},
                         };
                         for (const auto& [name, list] : parts) {
                           PyRef items(text_list_of(*list));
                           if (!items || PyDict_SetItemString(entry.get(), name, items.get()) != 0) return nullptr;
                         }
                         PyRef key(str_of(ns));
                         if (!key || PyDict_SetItem(dict.get(), key.get(), entry.get()) != 0) return nullptr;
                       }
                       return dict.release();
                     });
}

// {id: json.loads(stored text)}; a fresh object per call.
PyObject* documents_dict(const std::map<std::string, std::string>& docs) {
  PyRef json(PyImport_ImportModule("json"));
  if (!json) return nullptr;
  PyRef loads(PyObject_GetAttrString(json.get(), "loads"));
  if (!loads) return nullptr;
  PyRef dict(PyDict_New());
  if (!dict) return nullptr;
  for (const auto& [id, text] : docs) {
    // Stored documents are compact JSON text already; writing them again
    // would give the same text.
    PyRef arg(str_of(text));
    if (!arg) return nullptr;
    PyRef value(PyObject_CallOneArg(loads.get(), arg.get()));
    PyRef key(str_of(id));
    if (!value || !key || PyDict_SetItem(dict.get(), key.get(), value.get()) != 0) return nullptr;
  }
  return dict.release();
}

PyObject* get_predicate_constraints(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_no_args(self, args, nargs, kwnames, "get_predicate_constraints", Access::Shared,
                     [](NativeStore& s) { return documents_dict(s.get_predicate_constraints()); });
}

PyObject* get_payload_schemas(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_no_args(self, args, nargs, kwnames, "get_payload_schemas", Access::Shared,
                     [](NativeStore& s) { return documents_dict(s.get_payload_schemas()); });
}

// ---- Compatibility stubs ----

PyObject* warm_caches(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_no_args(self, args, nargs, kwnames, "warm_caches", Access::Shared, [](NativeStore&) { return none(); });
}

PyObject* raw_query(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Params<2> kSig{"raw_query", {"_query", "_params"}, 1};
  std::array<PyObject*, 2> a;
  if (!kSig.bind(args, nargs, kwnames, a)) return nullptr;
  std::string query;
  if (!conv::text(a[0], "_query", query)) return nullptr;
  PyObject* params = nullptr;
  if (a[1] && a[1] != Py_None && !conv::dict(a[1], "_params", params)) return nullptr;
  return with_access(self, Access::Shared, [](NativeStore&) { return PyList_New(0); });
}

}  // namespace

extern const PyMethodDef kAnalyticsMethods[] = {
    {"predicate_counts", ZORLET_FASTCALL(predicate_counts), kFastKw,
     "predicate_counts($self)\n--\n\nCount claims per predicate_id. Returns dict {predicate_id: count}."},
    {"source_id_counts", ZORLET_FASTCALL(source_id_counts), kFastKw,
     "source_id_counts($self)\n--\n\nCount claims per source_id. Returns dict {source_id: count}."},
    {"entity_predicate_counts", ZORLET_FASTCALL(entity_predicate_counts), kFastKw,
     "entity_predicate_counts($self, entity_id)\n--\n\n"
     "Get predicate_id \xe2\x86\x92 count for a single entity.\n"
     "Returns list of (predicate_id, count) sorted by count desc."},
    {"entity_source_counts", ZORLET_FASTCALL(entity_source_counts), kFastKw,
     "entity_source_counts($self, entity_id)\n--\n\n"
     "Get source_id \xe2\x86\x92 (count, avg_confidence) for a single entity.\n"
     "Returns list of (source_id, count, avg_confidence) sorted by count desc."},
    {"find_contradictions", ZORLET_FASTCALL(find_contradictions), kFastKw,
     "find_contradictions($self, pred_a, pred_b)\n--\n\n"
     "Find contradictions: (subject, object) pairs under both pred_a and pred_b.\n"
     "Returns list of (subject_id, object_id, count_a, count_b, avg_conf_a, avg_conf_b)."},
    {"find_single_source_entities", ZORLET_FASTCALL(find_single_source_entities), kFastKw,
     "find_single_source_entities($self, min_claims=5)\n--\n\n"
     "Find entities with exactly one distinct source and >= min_claims total claims.\n"
     "Returns a list of entity ID strings, computed in one native scan with no per-entity call back into "
     "Python."},
    {"gap_analysis", ZORLET_FASTCALL(gap_analysis), kFastKw,
     "gap_analysis($self, entity_type, expected_predicates, limit=0)\n--\n\n"
     "Gap analysis: entities of a type missing expected predicates.\n"
     "Returns list of (entity_id, [missing_pred_ids])."},
    {"stats", ZORLET_FASTCALL(stats), kFastKw, "stats($self)\n--\n\n"},
    {"compact", ZORLET_FASTCALL(compact), kFastKw,
     "compact($self)\n--\n\nCompact the database file, reclaiming free pages.\n"
     "Returns True if compaction freed any space."},
    {"reader_check", ZORLET_FASTCALL(reader_check), kFastKw,
     "reader_check($self)\n--\n\n"
     "Prune LMDB reader slots left behind by dead processes\n"
     "(SIGKILL, OOM, container eviction). Without periodic cleanup\n"
     "the shared reader table eventually fills up and blocks all new\n"
     "opens with MDB_READERS_FULL. Called automatically on every\n"
     "`NativeStore` open; exposed here for operators who want to run\n"
     "it on a background timer in long-lived services.\n"
     "\n"
     "Returns the number of stale slots freed. No-op for in-memory stores."},
    {"reader_info", ZORLET_FASTCALL(reader_info), kFastKw,
     "reader_info($self)\n--\n\n"
     "Current reader-slot occupancy as (used, max). `used` includes\n"
     "live *and* stale slots \xe2\x80\x94 call `reader_check()` first to prune\n"
     "stale entries if you want a live-only count."},
    {"rebuild_counters", ZORLET_FASTCALL(rebuild_counters), kFastKw,
     "rebuild_counters($self)\n--\n\n"
     "Rebuild all analytics counters and claim_summaries from the claims table.\n"
     "Call after bulk loading/merging with bulk_load_mode enabled."},
    {"rebuild_causal_adj", ZORLET_FASTCALL(rebuild_causal_adj), kFastKw,
     "rebuild_causal_adj($self)\n--\n\n"
     "Rebuild the causal_adj index from existing claims.\n"
     "One-time operation for databases created before the index existed."},
    {"backfill_pred_id_counts", ZORLET_FASTCALL(backfill_pred_id_counts), kFastKw,
     "backfill_pred_id_counts($self)\n--\n\n"
     "Backfill pred_id_counts counter table for existing databases.\n"
     "Scans PREDICATE_IDX once and persists counts. Only needed once per DB."},
    {"backfill_claim_summaries", ZORLET_FASTCALL(backfill_claim_summaries), kFastKw,
     "backfill_claim_summaries($self)\n--\n\n"
     "Backfill claim_summaries table for existing databases.\n"
     "Builds lightweight summaries (~200 bytes each) for fast analytics queries.\n"
     "Auto-triggered on schema upgrade, but can be called manually."},
    {"backfill_analytics_counters", ZORLET_FASTCALL(backfill_analytics_counters), kFastKw,
     "backfill_analytics_counters($self)\n--\n\n"
     "Backfill analytics counter tables for sub-second analytics on large databases.\n"
     "Populates entity_pred_counts, entity_src_counts, and pred_pair_counts from claim_summaries.\n"
     "Must be called after backfill_claim_summaries. Returns number of claims processed."},
    {"merge_from", ZORLET_FASTCALL(merge_from), kFastKw,
     "merge_from($self, source_path)\n--\n\n"
     "Merge all claims and entities from another LMDB database into this store.\n"
     "Runs entirely inside the native module for maximum throughput; returns the number of merged claims."},
    {"register_vocabulary", ZORLET_FASTCALL(register_vocabulary), kFastKw,
     "register_vocabulary($self, namespace, vocab)\n--\n\n"},
    {"register_predicate", ZORLET_FASTCALL(register_predicate), kFastKw,
     "register_predicate($self, predicate_id, constraints)\n--\n\n"},
    {"register_payload_schema", ZORLET_FASTCALL(register_payload_schema), kFastKw,
     "register_payload_schema($self, schema_id, schema)\n--\n\n"},
    {"get_registered_vocabularies", ZORLET_FASTCALL(get_registered_vocabularies), kFastKw,
     "get_registered_vocabularies($self)\n--\n\n"},
    {"get_predicate_constraints", ZORLET_FASTCALL(get_predicate_constraints), kFastKw,
     "get_predicate_constraints($self)\n--\n\n"},
    {"get_payload_schemas", ZORLET_FASTCALL(get_payload_schemas), kFastKw, "get_payload_schemas($self)\n--\n\n"},
    {"warm_caches", ZORLET_FASTCALL(warm_caches), kFastKw, "warm_caches($self)\n--\n\n"},
    {"raw_query", ZORLET_FASTCALL(raw_query), kFastKw, "raw_query($self, _query, _params=None)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace zorlet_py
