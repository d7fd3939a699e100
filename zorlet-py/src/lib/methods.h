// The method tables of the class, one per method group; each is terminated
// by an entry with a null name. The module joins them at import.
#pragma once

#include <Python.h>

namespace zorlet_py {

extern const PyMethodDef kLifecycleMethods[];  // lifecycle.cpp
extern const PyMethodDef kClaimMethods[];      // claims.cpp: claim writes, lookups, view settings
extern const PyMethodDef kStatusMethods[];     // status.cpp: status changes, purge, aliases
extern const PyMethodDef kEntityMethods[];     // entities.cpp: entity writes, lookups, bulk ingestion
extern const PyMethodDef kAnalyticsMethods[];  // analytics.cpp: analytics, maintenance, merge, registry
extern const PyMethodDef kGraphMethods[];      // graph.cpp: graph queries, prediction, centrality

// Signature helper for method flags.
#define ZORLET_FASTCALL(fn) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(fn))
inline constexpr int kFastKw = METH_FASTCALL | METH_KEYWORDS;

}  // namespace zorlet_py
