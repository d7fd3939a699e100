// Placeholder: being built.
#include "union_find.h"

namespace zorlet_store::union_find {

std::string UnionFind::find(std::string_view id) { return std::string(id); }
std::string UnionFind::find_readonly(std::string_view id) const { return std::string(id); }
void UnionFind::unite(std::string_view, std::string_view) {}
void UnionFind::split(std::string_view) {}
StringSet UnionFind::get_group(std::string_view id) { return {std::string(id)}; }
StringSet UnionFind::get_group_readonly(std::string_view id) const { return {std::string(id)}; }

}  // namespace zorlet_store::union_find
