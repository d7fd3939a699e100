// Union-find over entity ids with union by rank and path compression.
//
// The exact tie rules matter: the alias blob is persisted, and a store reopened
// by another build must resolve every id to the same representative. Equal
// ranks make the second argument's root the parent; splitting a root promotes
// its first direct child in `parent`'s iteration order.
#include "union_find.h"

#include <utility>
#include <vector>

namespace zorlet_store::union_find {

namespace {

using ParentMap = std::unordered_map<std::string, std::string>;

// Follows `parent` from `id` until an id with no entry (or a self-entry).
// The returned reference points into `parent` or at `id`.
const std::string& walk_to_root(const ParentMap& parent, const std::string& id) {
  const std::string* current = &id;
  for (auto it = parent.find(*current); it != parent.end() && it->second != *current; it = parent.find(*current))
    current = &it->second;
  return *current;
}

uint64_t rank_of(const std::unordered_map<std::string, uint64_t>& rank, const std::string& id) {
  auto it = rank.find(id);
  return it == rank.end() ? 0 : it->second;
}

}  // namespace

std::string UnionFind::find(std::string_view id_view) {
  std::string id(id_view);
  if (parent.empty() || !parent.contains(id)) return id;  // nothing is inserted for unseen ids
  std::string root = walk_to_root(parent, id);
  // Point every id on the path straight at the root.
  std::string current = std::move(id);
  while (current != root) {
    auto it = parent.find(current);
    if (it == parent.end()) break;
    current = std::exchange(it->second, root);
  }
  return root;
}

std::string UnionFind::find_readonly(std::string_view id_view) const {
  std::string id(id_view);
  if (parent.empty()) return id;
  return walk_to_root(parent, id);
}

void UnionFind::unite(std::string_view a, std::string_view b) {
  std::string ra = find(a);
  std::string rb = find(b);
  if (ra == rb) return;
  const uint64_t ka = rank_of(rank, ra), kb = rank_of(rank, rb);
  // Ties go to b's root.
  const bool a_wins = ka > kb;
  std::string& root = a_wins ? ra : rb;
  std::string& child = a_wins ? rb : ra;

  parent.insert_or_assign(child, root);
  if (ka == kb) rank.insert_or_assign(root, ka + 1);  // the child keeps its own rank entry

  StringSet moved;
  if (auto node = groups.extract(child))
    moved = std::move(node.mapped());
  else
    moved.insert(child);
  auto [it, fresh] = groups.try_emplace(root);
  if (fresh) it->second.insert(root);
  it->second.merge(moved);
}

void UnionFind::split(std::string_view id_view) {
  std::string id(id_view);
  std::string root = find(id);
  if (root != id) {
    // A member leaves: its direct children are re-hung on the root.
    for (auto& [k, p] : parent)
      if (p == id && k != id) p = root;
    if (auto g = groups.find(root); g != groups.end()) g->second.erase(id);
  } else {
    // The root leaves: its first direct child takes over the group.
    std::vector<std::string> children;
    for (const auto& [k, p] : parent)
      if (p == id && k != id) children.push_back(k);
    if (!children.empty()) {
      const std::string& new_root = children.front();
      parent.erase(new_root);
      for (size_t i = 1; i < children.size(); ++i) parent.insert_or_assign(children[i], new_root);
      uint64_t old_rank = 0;
      if (auto node = rank.extract(id)) old_rank = node.mapped();
      rank.insert_or_assign(new_root, old_rank);
      if (auto node = groups.extract(id)) {
        node.mapped().erase(id);
        groups.insert_or_assign(new_root, std::move(node.mapped()));
      }
    } else {
      groups.erase(id);
    }
  }
  parent.erase(id);
  rank.erase(id);
}

StringSet UnionFind::get_group(std::string_view id) {
  if (auto g = groups.find(find(id)); g != groups.end()) return g->second;
  return {std::string(id)};
}

StringSet UnionFind::get_group_readonly(std::string_view id) const {
  if (auto g = groups.find(find_readonly(id)); g != groups.end()) return g->second;
  return {std::string(id)};
}

}  // namespace zorlet_store::union_find
