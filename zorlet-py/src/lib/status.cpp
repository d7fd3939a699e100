// Status methods: retraction, status changes by name (single and batch),
// purge, alias reset, and the alias-group lookups.
//
// Every write here takes the instance exclusively and keeps the interpreter
// lock; a store failure is RuntimeError with the error's display text. The
// batch form refuses unknown status names itself, with ValueError, before
// the store is touched.
#include "args.h"
#include "methods.h"
#include "native_store.h"
#include "py_ref.h"
#include "zorlet_core/normalization.h"

namespace zorlet_py {

namespace {

using zorlet_core::types::ClaimStatus;
using StatusUpdates = std::vector<std::pair<std::string, ClaimStatus>>;

// The names the batch form accepts, after full lower-casing: narrower than
// the single form's, which also takes verified, failed and disputed.
std::optional<ClaimStatus> batch_status(std::string_view lowered) {
  if (lowered == "active") return ClaimStatus::Active;
  if (lowered == "archived") return ClaimStatus::Archived;
  if (lowered == "tombstoned" || lowered == "retracted") return ClaimStatus::Tombstoned;
  if (lowered == "provenance_degraded" || lowered == "degraded") return ClaimStatus::ProvenanceDegraded;
  return std::nullopt;
}

// One (claim id, status name) pair: a tuple of exactly two str.
bool read_update(PyObject* item, const char* name, std::pair<std::string, std::string>& out) {
  if (!PyTuple_Check(item)) {
    PyErr_Format(PyExc_TypeError, "argument '%s': expected tuple, got %s", name, Py_TYPE(item)->tp_name);
    return false;
  }
  if (PyTuple_GET_SIZE(item) != 2) {
    PyErr_Format(PyExc_ValueError, "expected tuple of length 2, but got tuple of length %zd", PyTuple_GET_SIZE(item));
    return false;
  }
  if (!utf8_of(PyTuple_GET_ITEM(item, 0), out.first) || !utf8_of(PyTuple_GET_ITEM(item, 1), out.second)) {
    prefix_type_error(name);
    return false;
  }
  return true;
}

// A sequence (not a str) of pairs, with every name translated; the first
// bad element or unknown name raises and nothing reaches the store.
bool status_updates(PyObject* o, const char* name, StatusUpdates& out) {
  if (PyUnicode_Check(o)) return arg_type_error(name, "Can't extract `str` to `Vec`");
  if (!PySequence_Check(o)) {
    PyErr_Format(PyExc_TypeError, "argument '%s': expected a sequence of tuples, got %s", name, Py_TYPE(o)->tp_name);
    return false;
  }
  Py_ssize_t n = PySequence_Size(o);
  if (n < 0) {
    prefix_type_error(name);
    return false;
  }
  std::vector<std::pair<std::string, std::string>> pairs;
  pairs.reserve(static_cast<size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyRef item(PySequence_GetItem(o, i));
    if (!item) {
      prefix_type_error(name);
      return false;
    }
    std::pair<std::string, std::string> pair;
    if (!read_update(item.get(), name, pair)) return false;
    pairs.push_back(std::move(pair));
  }
  out.reserve(pairs.size());
  for (auto& [claim_id, status_name] : pairs) {
    std::string lowered = zorlet_core::normalization::to_lower_full(status_name);
    auto status = batch_status(lowered);
    if (!status) {
      PyRef message(str_of("Unknown claim status: " + lowered));
      if (message) PyErr_SetObject(PyExc_ValueError, message.get());
      return false;
    }
    out.emplace_back(std::move(claim_id), *status);
  }
  return true;
}

PyObject* set_of(const zorlet_store::backend::StringSet& ids) {
  PyRef set(PySet_New(nullptr));
  if (!set) return nullptr;
  for (const std::string& id : ids) {
    PyRef item(str_of(id));
    if (!item || PySet_Add(set.get(), item.get()) < 0) return nullptr;
  }
  return set.release();
}

PyObject* text_list(const std::vector<std::string>& items) {
  PyRef list(PyList_New(static_cast<Py_ssize_t>(items.size())));
  if (!list) return nullptr;
  for (size_t i = 0; i < items.size(); ++i) {
    PyObject* item = str_of(items[i]);
    if (!item) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
  }
  return list.release();
}

// Methods with one text parameter share their binding.
bool one_text(const char* fname, const char* pname, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
              std::string& out) {
  const char* const names[] = {pname};
  PyObject* slot[1] = {nullptr};
  return bind_args(fname, names, 1, 1, args, nargs, kwnames, slot) && conv::text(slot[0], pname, out);
}

// ---- methods ----

PyObject* retract_claim(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  std::string id;
  if (!one_text("retract_claim", "claim_id", args, nargs, kwnames, id)) return nullptr;
  return with_access(self, Access::Exclusive, [&](NativeStore& s) -> PyObject* {
    auto r = s.retract_claim(id);
    return r ? py_bool(*r) : raise_store_error(PyExc_RuntimeError, r.error());
  });
}

PyObject* retract_source(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  std::string source_id;
  if (!one_text("retract_source", "source_id", args, nargs, kwnames, source_id)) return nullptr;
  return with_access(self, Access::Exclusive, [&](NativeStore& s) -> PyObject* {
    auto r = s.retract_source(source_id);
    return r ? text_list(*r) : raise_store_error(PyExc_RuntimeError, r.error());
  });
}

PyObject* update_claim_status(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Params<2> kSig{"update_claim_status", {"claim_id", "status"}, 2};
  std::array<PyObject*, 2> a;
  if (!kSig.bind(args, nargs, kwnames, a)) return nullptr;
  std::string id, status;
  if (!conv::text(a[0], "claim_id", id) || !conv::text(a[1], "status", status)) return nullptr;
  return with_access(self, Access::Exclusive, [&](NativeStore& s) -> PyObject* {
    auto r = s.update_claim_status(id, status);
    return r ? py_bool(*r) : raise_store_error(PyExc_RuntimeError, r.error());
  });
}

PyObject* update_claim_status_batch(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Params<1> kSig{"update_claim_status_batch", {"updates"}, 1};
  std::array<PyObject*, 1> a;
  if (!kSig.bind(args, nargs, kwnames, a)) return nullptr;
  StatusUpdates updates;
  if (!status_updates(a[0], "updates", updates)) return nullptr;
  return with_access(self, Access::Exclusive, [&](NativeStore& s) -> PyObject* {
    auto r = s.update_claim_status_batch(std::move(updates));
    return r ? py_u64(*r) : raise_store_error(PyExc_RuntimeError, r.error());
  });
}

PyObject* purge_source(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  std::string source_id;
  if (!one_text("purge_source", "source_id", args, nargs, kwnames, source_id)) return nullptr;
  return with_access(self, Access::Exclusive, [&](NativeStore& s) -> PyObject* {
    auto r = s.purge_source(source_id);
    return r ? py_u64(*r) : raise_store_error(PyExc_RuntimeError, r.error());
  });
}

PyObject* clear_aliases(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Params<0> kSig{"clear_aliases", {}, 0};
  std::array<PyObject*, 0> a{};
  if (!kSig.bind(args, nargs, kwnames, a)) return nullptr;
  return with_access(self, Access::Exclusive, [&](NativeStore& s) -> PyObject* {
    auto r = s.clear_aliases();
    return r ? none() : raise_store_error(PyExc_RuntimeError, r.error());
  });
}

// `resolve` and `get_alias_group` shorten alias paths as they walk them, so
// they need the instance exclusively; the read-only forms share it.
PyObject* resolve(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  std::string id;
  if (!one_text("resolve", "entity_id", args, nargs, kwnames, id)) return nullptr;
  return with_access(self, Access::Exclusive, [&](NativeStore& s) { return str_of(s.resolve(id)); });
}

PyObject* resolve_readonly(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  std::string id;
  if (!one_text("resolve_readonly", "entity_id", args, nargs, kwnames, id)) return nullptr;
  return with_access(self, Access::Shared, [&](NativeStore& s) { return str_of(s.resolve_readonly(id)); });
}

PyObject* get_alias_group(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  std::string id;
  if (!one_text("get_alias_group", "entity_id", args, nargs, kwnames, id)) return nullptr;
  return with_access(self, Access::Exclusive, [&](NativeStore& s) { return set_of(s.get_alias_group(id)); });
}

PyObject* get_alias_group_readonly(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  std::string id;
  if (!one_text("get_alias_group_readonly", "entity_id", args, nargs, kwnames, id)) return nullptr;
  return with_access(self, Access::Shared, [&](NativeStore& s) { return set_of(s.get_alias_group_readonly(id)); });
}

}  // namespace

extern const PyMethodDef kStatusMethods[] = {
    {"retract_claim", ZORLET_FASTCALL(retract_claim), kFastKw,
     "retract_claim($self, claim_id)\n--\n\n"
     "Retract a claim by ID (set status to Tombstoned).\n"
     "Returns True if the claim existed, False otherwise."},
    {"retract_source", ZORLET_FASTCALL(retract_source), kFastKw,
     "retract_source($self, source_id)\n--\n\n"
     "Retract all claims from a source. Returns list of retracted claim IDs."},
    {"update_claim_status", ZORLET_FASTCALL(update_claim_status), kFastKw,
     "update_claim_status($self, claim_id, status)\n--\n\n"
     "Update the status of a claim by string name.\n"
     "Accepted values: \"active\", \"archived\", \"tombstoned\"/\"retracted\", "
     "\"provenance_degraded\"/\"degraded\"."},
    {"update_claim_status_batch", ZORLET_FASTCALL(update_claim_status_batch), kFastKw,
     "update_claim_status_batch($self, updates)\n--\n\n"
     "Batch-update claim statuses. Each element is (claim_id, status_string).\n"
     "Returns the number of claims actually updated."},
    {"purge_source", ZORLET_FASTCALL(purge_source), kFastKw,
     "purge_source($self, source_id)\n--\n\n"
     "Physically delete all claims from a source_id from all indexes.\n"
     "Unlike retract_source() which tombstones (preserving append-only),\n"
     "this removes data permanently. Returns the number of claims deleted.\n"
     "Call compact() afterwards to reclaim disk space."},
    {"clear_aliases", ZORLET_FASTCALL(clear_aliases), kFastKw,
     "clear_aliases($self)\n--\n\n"
     "Reset the union-find alias table and rebuild from remaining same_as claims.\n"
     "Call after purge_source() when same_as claims were purged."},
    {"resolve", ZORLET_FASTCALL(resolve), kFastKw, "resolve($self, entity_id)\n--\n\n"},
    {"resolve_readonly", ZORLET_FASTCALL(resolve_readonly), kFastKw,
     "resolve_readonly($self, entity_id)\n--\n\n"
     "Read-only resolve \xe2\x80\x94 no path compression, safe for concurrent reads."},
    {"get_alias_group", ZORLET_FASTCALL(get_alias_group), kFastKw, "get_alias_group($self, entity_id)\n--\n\n"},
    {"get_alias_group_readonly", ZORLET_FASTCALL(get_alias_group_readonly), kFastKw,
     "get_alias_group_readonly($self, entity_id)\n--\n\n"
     "Read-only equivalent of `get_alias_group`."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace zorlet_py
