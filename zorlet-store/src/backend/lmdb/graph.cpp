// Graph traversal over the indexes the claim write path maintains:
//
//   adjacency_idx      entity id -> ids linked to it by any claim, both ways (dup-sorted)
//   causal_adj         subject id 0x1F predicate id -> object ids (dup-sorted)
//   entity_claims_idx  entity id -> seq:u64be of every claim naming it (dup-sorted)
//
// The adjacency and causal indexes carry no status, namespace or confidence,
// so walks that read only them ignore the view settings; `bfs_claims` and the
// claim path of `outgoing_causal_edges` read claims and apply them. Every
// operation reads one snapshot, and a failed read is an empty answer.
#include <algorithm>
#include <deque>
#include <unordered_set>

#include "backend/lmdb/lmdb_backend.h"
#include "zorlet_core/vocabulary.h"

namespace zorlet_store::backend::lmdb {

namespace {

// Every causal_adj edge carries this confidence: the index keeps none.
constexpr double kIndexedEdgeConfidence = 0.65;
// Closures stop at this depth whatever the caller asks.
constexpr uint64_t kMaxClosureDepth = 5;


// Calls `visit(value)` for each duplicate under `key`, in ascending byte order.
template <class Visit>
void for_each_value(const Txn& txn, MDB_dbi dbi, std::string_view key, Visit&& visit) {
  Cursor cursor;
  if (Cursor::open(txn, dbi, cursor) != MDB_SUCCESS) return;
  std::string_view k = key, v;
  for (int rc = cursor.get(MDB_SET_KEY, k, v); rc == MDB_SUCCESS; rc = cursor.get(MDB_NEXT_DUP, k, v)) visit(v);
}

StringSet neighbors_in(const Txn& txn, MDB_dbi adjacency, std::string_view id) {
  StringSet out;
  for_each_value(txn, adjacency, id, [&](std::string_view v) {
    if (codec::valid_utf8(v)) out.emplace(v);
  });
  return out;
}

}  // namespace

std::vector<std::string> LmdbBackend::neighbors(const std::string& entity_id) {
  MDB_env* e = env();
  std::string canonical = resolve_id(entity_id);
  Txn txn;
  if (Txn::begin(e, false, txn) != MDB_SUCCESS) return {};
  StringSet found = neighbors_in(txn, dbs().adjacency_idx, canonical);
  return {std::make_move_iterator(found.begin()), std::make_move_iterator(found.end())};
}

AdjacencyMap LmdbBackend::get_adjacency_list() {
  MDB_env* e = env();
  Txn txn;
  if (Txn::begin(e, false, txn) != MDB_SUCCESS) return {};
  Cursor cursor;
  if (Cursor::open(txn, dbs().adjacency_idx, cursor) != MDB_SUCCESS) return {};
  AdjacencyMap graph;
  // Duplicates of one key arrive together: the key is checked and looked up
  // once per run of duplicates, not once per edge.
  std::string_view key, value, current_key;
  StringSet* current = nullptr;
  bool current_valid = false;
  for (int rc = cursor.get(MDB_FIRST, key, value); rc == MDB_SUCCESS; rc = cursor.get(MDB_NEXT, key, value)) {
    if (current_key.data() == nullptr || key != current_key) {
      current_key = key;
      current_valid = codec::valid_utf8(key);
      current = nullptr;
    }
    if (!current_valid || !codec::valid_utf8(value)) continue;
    if (!current) current = &graph[std::string(key)];
    current->emplace(value);
  }
  return graph;
}

std::vector<std::pair<Claim, uint64_t>> LmdbBackend::bfs_claims(const std::string& entity_id, uint64_t max_depth) {
  MDB_env* e = env();
  StringSet group = alias_group_of(entity_id);
  if (max_depth == 0) return {};
  Txn txn;
  if (Txn::begin(e, false, txn) != MDB_SUCCESS) return {};

  std::vector<std::pair<Claim, uint64_t>> result;
  StringSet visited = group;
  StringSet frontier = std::move(group);
  for (uint64_t depth = 1; !frontier.empty(); ++depth) {
    StringSet next;
    std::vector<Claim> level = claims_for_entities(txn, frontier);
    // Grown once per level: a deep search can collect hundreds of thousands
    // of claims, and every regrowth would move all of them.
    result.reserve(result.size() + level.size());
    for (Claim& claim : level) {
      // Hidden claims neither appear nor carry the search further.
      if (!view().visible(claim.claim_id, claim.ns)) continue;
      apply_tombstone_overlay(claim);
      for (const std::string* id : {&claim.subject.id, &claim.object.id})
        if (visited.insert(*id).second) next.insert(*id);
      result.emplace_back(std::move(claim), depth);
    }
    frontier = std::move(next);
    if (depth >= max_depth) break;
  }
  return result;
}

bool LmdbBackend::path_exists(const std::string& a, const std::string& b, uint64_t max_depth) {
  MDB_env* e = env();
  std::string from = resolve_id(a);
  std::string to = resolve_id(b);
  if (from == to) return true;
  Txn txn;
  if (Txn::begin(e, false, txn) != MDB_SUCCESS) return false;

  // Only canonical ids take part: an alias of `to` met on the way is just
  // another node.
  StringSet visited{from};
  std::vector<std::string> frontier{from};
  for (uint64_t level = 0; level < max_depth && !frontier.empty(); ++level) {
    std::vector<std::string> next;
    for (const auto& node : frontier) {
      for (const auto& n : neighbors_in(txn, dbs().adjacency_idx, node)) {
        if (n == to) return true;
        if (visited.insert(n).second) next.push_back(n);
      }
    }
    frontier = std::move(next);
  }
  return false;
}

namespace {

// Index path of the outgoing causal edges: every object under
// id 0x1F predicate for each asked predicate.
std::vector<CausalEdge> indexed_causal_edges(const Txn& txn, MDB_dbi causal_adj, const std::string& id,
                                             const StringSet& predicates) {
  std::vector<CausalEdge> edges;
  for (const auto& p : predicates) {
    std::string key = codec::composite(id, p);
    for_each_value(txn, causal_adj, key, [&](std::string_view target) {
      if (codec::valid_utf8(target)) edges.push_back({std::string(target), p, kIndexedEdgeConfidence});
    });
  }
  return edges;
}

// The outgoing causal edges of `id`, read in `txn`. The id is used exactly
// as given: the causal index is keyed by the subject id as stored.
std::vector<CausalEdge> causal_edges_in(const LmdbBackend& backend, const Txn& txn, const std::string& id,
                                               const StringSet& predicates) {
  if (predicates.empty()) return {};
  auto edges = indexed_causal_edges(txn, backend.dbs().causal_adj, id, predicates);
  if (!edges.empty()) return edges;

  // Stores whose causal index is missing or not yet rebuilt: the claims that
  // name the id, kept when it is their subject. Only retraction hides them;
  // the namespace filter does not apply here.
  const ViewState& view = backend.view();
  for (Claim& claim : backend.load_claims(txn, backend.dup_seqs(txn, backend.dbs().entity_claims_idx, id))) {
    if (claim.subject.id != id || !predicates.contains(claim.predicate.id)) continue;
    if (!view.include_retracted && view.is_tombstoned(claim.claim_id)) continue;
    edges.push_back({std::move(claim.object.id), std::move(claim.predicate.id), claim.confidence});
  }
  return edges;
}

}  // namespace

std::vector<CausalEdge> LmdbBackend::outgoing_causal_edges(const std::string& entity_id,
                                                           const StringSet& predicates) {
  MDB_env* e = env();
  Txn txn;
  if (Txn::begin(e, false, txn) != MDB_SUCCESS) return {};
  return causal_edges_in(*this, txn, entity_id, predicates);
}

std::vector<ClosureEntry> LmdbBackend::transitive_closure(const std::string& entity_id, const StringSet& predicates,
                                                          uint64_t max_depth) {
  MDB_env* e = env();
  const uint64_t depth_cap = std::min(max_depth, kMaxClosureDepth);
  std::string start = resolve_id(entity_id);
  // One snapshot for the whole walk, so every edge comes from one state of
  // the store.
  Txn txn;
  if (Txn::begin(e, false, txn) != MDB_SUCCESS) return {};

  // The start is visited from the outset: paths back to it are dropped.
  StringSet visited{start};
  std::deque<ClosureEntry> queue;
  for (auto& edge : causal_edges_in(*this, txn, start, predicates))
    if (!visited.contains(edge.target))
      queue.push_back({std::move(edge.target), std::move(edge.predicate), 1, edge.confidence});

  // Breadth-first: the first path to reach a target fixes its predicate,
  // depth and confidence. Direct successors (depth 1) are never reported.
  std::vector<ClosureEntry> result;
  while (!queue.empty()) {
    ClosureEntry entry = std::move(queue.front());
    queue.pop_front();
    if (!visited.insert(entry.target).second) continue;
    if (entry.depth < depth_cap) {
      for (auto& edge : causal_edges_in(*this, txn, entry.target, predicates)) {
        if (visited.contains(edge.target)) continue;
        std::string_view q = zorlet_core::vocabulary::compose_predicates(entry.predicate, edge.predicate);
        if (q == "associated_with") continue;
        queue.push_back({std::move(edge.target), std::string(q), entry.depth + 1, entry.confidence * edge.confidence});
      }
    }
    if (entry.depth > 1) result.push_back(std::move(entry));
  }
  return result;
}

}  // namespace zorlet_store::backend::lmdb
