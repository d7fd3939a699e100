// Graph methods: neighbours, breadth-first claim collection, path tests,
// causal edges and closure, causal prediction and betweenness centrality.
//
// The four walks that can run long (bfs_claims, path_exists,
// transitive_closure, compute_betweenness_centrality) release the
// interpreter lock around the store call; results become Python objects only
// after it is taken back.
#include "args.h"
#include "convert.h"
#include "methods.h"
#include "native_store.h"
#include "py_ref.h"

namespace zorlet_py {

namespace {

using zorlet_store::backend::StringSet;

bool predicate_set(PyObject* o, const char* name, StringSet& out) {
  std::vector<std::string> items;
  if (!conv::text_list(o, name, items)) return false;
  out = StringSet(std::make_move_iterator(items.begin()), std::make_move_iterator(items.end()));
  return true;
}

// A str key or value of a mapping argument; TypeError with the prefix otherwise.
bool mapping_text(PyObject* o, const char* name, const char* what, std::string& out) {
  if (PyUnicode_Check(o)) return utf8_of(o, out);
  PyErr_Format(PyExc_TypeError, "argument '%s': %s must be str, got %s", name, what, Py_TYPE(o)->tp_name);
  return false;
}

// {(first-leg predicate, second-leg predicate): composed predicate}
bool composition_map(PyObject* o, zorlet_store::predict::CompositionMap& out) {
  constexpr const char* kName = "composition";
  PyObject* d = nullptr;
  if (!conv::dict(o, kName, d)) return false;
  Py_ssize_t pos = 0;
  PyObject *key, *value;
  while (PyDict_Next(d, &pos, &key, &value)) {
    if (!PyTuple_Check(key) || PyTuple_GET_SIZE(key) != 2) {
      PyErr_Format(PyExc_TypeError, "argument '%s': keys must be 2-tuples of str, got %s", kName,
                   Py_TYPE(key)->tp_name);
      return false;
    }
    std::string first, second, composed;
    if (!mapping_text(PyTuple_GET_ITEM(key, 0), kName, "key items", first) ||
        !mapping_text(PyTuple_GET_ITEM(key, 1), kName, "key items", second) ||
        !mapping_text(value, kName, "values", composed))
      return false;
    out.insert_or_assign({std::move(first), std::move(second)}, std::move(composed));
  }
  return true;
}

bool opposites_map(PyObject* o, zorlet_store::predict::OppositesMap& out) {
  constexpr const char* kName = "opposites";
  PyObject* d = nullptr;
  if (!conv::dict(o, kName, d)) return false;
  Py_ssize_t pos = 0;
  PyObject *key, *value;
  while (PyDict_Next(d, &pos, &key, &value)) {
    std::string k, v;
    if (!mapping_text(key, kName, "keys", k) || !mapping_text(value, kName, "values", v)) return false;
    out.insert_or_assign(std::move(k), std::move(v));
  }
  return true;
}

// Builds a tuple from new references; nullptr (all released) if any is null.
template <class... Items>
PyObject* tuple_of(Items*... items) {
  PyRef refs[] = {PyRef(items)...};
  for (const auto& r : refs)
    if (!r) return nullptr;
  PyObject* t = PyTuple_New(sizeof...(Items));
  if (!t) return nullptr;
  for (Py_ssize_t i = 0; i < static_cast<Py_ssize_t>(sizeof...(Items)); ++i) PyTuple_SET_ITEM(t, i, refs[i].release());
  return t;
}

// A list built by `item(element)` (a new reference or nullptr) for each element.
template <class Range, class Item>
PyObject* list_of(const Range& range, Item&& item) {
  PyRef list(PyList_New(static_cast<Py_ssize_t>(std::size(range))));
  if (!list) return nullptr;
  Py_ssize_t i = 0;
  for (const auto& element : range) {
    PyObject* o = item(element);
    if (!o) return nullptr;
    PyList_SET_ITEM(list.get(), i++, o);
  }
  return list.release();
}

PyObject* neighbors(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Params<1> kSig{"neighbors", {"entity_id"}, 1};
  std::array<PyObject*, 1> a;
  if (!kSig.bind(args, nargs, kwnames, a)) return nullptr;
  std::string entity_id;
  if (!conv::text(a[0], "entity_id", entity_id)) return nullptr;
  return with_access(self, Access::Shared, [&](NativeStore& s) -> PyObject* {
    auto ids = s.be().neighbors(entity_id);
    return list_of(ids, [](const std::string& id) { return str_of(id); });
  });
}

PyObject* bfs_claims(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Params<2> kSig{"bfs_claims", {"entity_id", "max_depth"}, 1};
  std::array<PyObject*, 2> a;
  if (!kSig.bind(args, nargs, kwnames, a)) return nullptr;
  std::string entity_id;
  uint64_t max_depth = 2;
  if (!conv::text(a[0], "entity_id", entity_id) || !conv::u64(a[1], "max_depth", max_depth)) return nullptr;
  return with_access(self, Access::Shared, [&](NativeStore& s) -> PyObject* {
    auto found = without_gil([&] { return s.be().bfs_claims(entity_id, max_depth); });
    GcPause pause;
    return list_of(found, [](const auto& entry) { return tuple_of(claim_to_dict(entry.first), py_u64(entry.second)); });
  });
}

PyObject* path_exists(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Params<3> kSig{"path_exists", {"entity_a", "entity_b", "max_depth"}, 2};
  std::array<PyObject*, 3> a;
  if (!kSig.bind(args, nargs, kwnames, a)) return nullptr;
  std::string entity_a, entity_b;
  uint64_t max_depth = 3;
  if (!conv::text(a[0], "entity_a", entity_a) || !conv::text(a[1], "entity_b", entity_b) ||
      !conv::u64(a[2], "max_depth", max_depth))
    return nullptr;
  return with_access(self, Access::Shared, [&](NativeStore& s) -> PyObject* {
    return py_bool(without_gil([&] { return s.be().path_exists(entity_a, entity_b, max_depth); }));
  });
}

PyObject* get_adjacency_list(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Params<0> kSig{"get_adjacency_list", {}, 0};
  std::array<PyObject*, 0> a{};
  if (!kSig.bind(args, nargs, kwnames, a)) return nullptr;
  return with_access(self, Access::Shared, [&](NativeStore& s) -> PyObject* {
    auto graph = s.be().get_adjacency_list();
    PyRef result(PyDict_New());
    if (!result) return nullptr;
    for (const auto& [id, neighbours] : graph) {
      PyRef key(str_of(id));
      PyRef set(PySet_New(nullptr));
      if (!key || !set) return nullptr;
      for (const auto& n : neighbours) {
        PyRef item(str_of(n));
        if (!item || PySet_Add(set.get(), item.get()) < 0) return nullptr;
      }
      if (PyDict_SetItem(result.get(), key.get(), set.get()) < 0) return nullptr;
    }
    return result.release();
  });
}

PyObject* transitive_closure(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Params<3> kSig{"transitive_closure", {"entity_id", "causal_predicates", "max_depth"}, 3};
  std::array<PyObject*, 3> a;
  if (!kSig.bind(args, nargs, kwnames, a)) return nullptr;
  std::string entity_id;
  StringSet predicates;
  uint64_t max_depth = 0;
  if (!conv::text(a[0], "entity_id", entity_id) || !predicate_set(a[1], "causal_predicates", predicates) ||
      !conv::u64(a[2], "max_depth", max_depth))
    return nullptr;
  return with_access(self, Access::Shared, [&](NativeStore& s) -> PyObject* {
    auto entries = without_gil([&] { return s.be().transitive_closure(entity_id, predicates, max_depth); });
    return list_of(entries, [](const zorlet_store::backend::ClosureEntry& e) {
      return tuple_of(str_of(e.target), str_of(e.predicate), py_u64(e.depth), PyFloat_FromDouble(e.confidence));
    });
  });
}

PyObject* outgoing_causal_edges(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Params<2> kSig{"outgoing_causal_edges", {"entity_id", "causal_predicates"}, 2};
  std::array<PyObject*, 2> a;
  if (!kSig.bind(args, nargs, kwnames, a)) return nullptr;
  std::string entity_id;
  StringSet predicates;
  if (!conv::text(a[0], "entity_id", entity_id) || !predicate_set(a[1], "causal_predicates", predicates))
    return nullptr;
  return with_access(self, Access::Shared, [&](NativeStore& s) -> PyObject* {
    auto edges = s.be().outgoing_causal_edges(entity_id, predicates);
    return list_of(edges, [](const zorlet_store::backend::CausalEdge& e) {
      return tuple_of(str_of(e.target), str_of(e.predicate), PyFloat_FromDouble(e.confidence));
    });
  });
}

PyObject* predict_causal(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Params<7> kSig{"predict_causal",
                              {"entity_id", "causal_predicates", "composition", "opposites", "max_intermediaries",
                               "min_paths", "hub_max_claims"},
                              7};
  std::array<PyObject*, 7> a;
  if (!kSig.bind(args, nargs, kwnames, a)) return nullptr;
  std::string entity_id;
  StringSet predicates;
  zorlet_store::predict::CompositionMap composition;
  zorlet_store::predict::OppositesMap opposites;
  uint64_t max_intermediaries = 0, min_paths = 0, hub_max_claims = 0;
  if (!conv::text(a[0], "entity_id", entity_id) || !predicate_set(a[1], "causal_predicates", predicates) ||
      !composition_map(a[2], composition) || !opposites_map(a[3], opposites) ||
      !conv::u64(a[4], "max_intermediaries", max_intermediaries) || !conv::u64(a[5], "min_paths", min_paths) ||
      !conv::u64(a[6], "hub_max_claims", hub_max_claims))
    return nullptr;
  return with_access(self, Access::Shared, [&](NativeStore& s) -> PyObject* {
    auto predictions = s.predict_causal(entity_id, predicates, composition, opposites, max_intermediaries, min_paths,
                                        hub_max_claims);
    return list_of(predictions, [](const zorlet_store::predict::Prediction& p) {
      return tuple_of(str_of(p.target_id), str_of(p.predicate), py_u64(p.supporting), py_u64(p.opposing),
                      py_bool(p.is_gap), py_u64(p.intermediaries));
    });
  });
}

PyObject* compute_betweenness_centrality(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                         PyObject* kwnames) {
  static const Params<4> kSig{"compute_betweenness_centrality", {"sample_size", "seed", "adaptive", "max_nodes"}, 0};
  std::array<PyObject*, 4> a;
  if (!kSig.bind(args, nargs, kwnames, a)) return nullptr;
  uint64_t sample_size = 200, seed = 42, max_nodes = 10000;
  bool adaptive = true;
  if (!conv::u64(a[0], "sample_size", sample_size) || !conv::u64(a[1], "seed", seed) ||
      !conv::boolean(a[2], "adaptive", adaptive) || !conv::u64(a[3], "max_nodes", max_nodes))
    return nullptr;
  return with_access(self, Access::Shared, [&](NativeStore& s) -> PyObject* {
    auto scores = without_gil([&] { return s.compute_betweenness_centrality(sample_size, seed, adaptive, max_nodes); });
    PyRef result(PyDict_New());
    if (!result) return nullptr;
    for (const auto& [id, score] : scores) {
      PyRef key(str_of(id));
      PyRef value(PyFloat_FromDouble(score));
      if (!key || !value || PyDict_SetItem(result.get(), key.get(), value.get()) < 0) return nullptr;
    }
    return result.release();
  });
}

}  // namespace

extern const PyMethodDef kGraphMethods[] = {
    {"neighbors", ZORLET_FASTCALL(neighbors), kFastKw,
     "neighbors($self, entity_id)\n--\n\n"
     "Get neighbor entity IDs from adjacency index \xe2\x80\x94 no claim materialization."},
    {"bfs_claims", ZORLET_FASTCALL(bfs_claims), kFastKw, "bfs_claims($self, entity_id, max_depth=2)\n--\n\n"},
    {"path_exists", ZORLET_FASTCALL(path_exists), kFastKw,
     "path_exists($self, entity_a, entity_b, max_depth=3)\n--\n\n"},
    {"get_adjacency_list", ZORLET_FASTCALL(get_adjacency_list), kFastKw, "get_adjacency_list($self)\n--\n\n"},
    {"transitive_closure", ZORLET_FASTCALL(transitive_closure), kFastKw,
     "transitive_closure($self, entity_id, causal_predicates, max_depth)\n--\n\n"
     "Compute transitive closure over causal predicates.\n"
     "Returns list of (target_entity_id, composed_predicate, depth, confidence)."},
    {"outgoing_causal_edges", ZORLET_FASTCALL(outgoing_causal_edges), kFastKw,
     "outgoing_causal_edges($self, entity_id, causal_predicates)\n--\n\n"
     "Get outgoing causal edges for an entity \xe2\x80\x94 lightweight, returns\n"
     "list of (target_entity_id, predicate_id, confidence) tuples.\n"
     "Only returns claims where entity_id is the SUBJECT and predicate is causal."},
    {"predict_causal", ZORLET_FASTCALL(predict_causal), kFastKw,
     "predict_causal($self, entity_id, causal_predicates, composition, opposites, max_intermediaries, min_paths, "
     "hub_max_claims)\n--\n\n"
     "Native causal composition prediction: the full 2-hop BFS with predicate composition,\n"
     "hub-skip and contradictory-leg filter runs entirely inside the native module.\n"
     "Returns list of (target_id, predicate, supporting, opposing, is_gap, intermediaries)."},
    {"compute_betweenness_centrality", ZORLET_FASTCALL(compute_betweenness_centrality), kFastKw,
     "compute_betweenness_centrality($self, sample_size=200, seed=42, adaptive=True, max_nodes=10000)\n--\n\n"
     "Compute Brandes betweenness centrality entirely inside the native module."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace zorlet_py
