// Alias groups: entity ids declared the same by "same_as" claims.
//
// Invariants: following `parent` from any id reaches a root; roots have no
// `parent` entry; every member of groups[r] has root r; groups only exist for
// two or more members (the root included).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace zorlet_store::union_find {

using StringSet = std::unordered_set<std::string>;

class UnionFind {
 public:
  std::string find(std::string_view id);                  // compresses paths
  std::string find_readonly(std::string_view id) const;  // changes nothing
  void unite(std::string_view a, std::string_view b);     // `union`; ties go to b's root
  void split(std::string_view id);
  StringSet get_group(std::string_view id);
  StringSet get_group_readonly(std::string_view id) const;

  // The three maps, in their stored order; exposed for the blob codec and tests.
  std::unordered_map<std::string, std::string> parent;
  std::unordered_map<std::string, uint64_t> rank;
  std::unordered_map<std::string, StringSet> groups;
};

}  // namespace zorlet_store::union_find
