// The JSON value model of payloads and registry documents.
//
// nlohmann::json keeps object members in a std::map, so members are always in
// ascending byte order of their keys, and it holds numbers as unsigned 64-bit,
// signed 64-bit or double exactly as the text form requires: a non-negative
// integer that fits is unsigned, a negative one that fits is signed, anything
// else is a double.
#pragma once

#include <expected>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace zorlet_core::json {

using Json = nlohmann::json;

// Compact text: no insignificant white space, members sorted by key. Never fails.
std::string to_text(const Json& value);

// Parses text into the value model. The error carries the reader's message,
// which names what was expected and the line and column where reading stopped.
std::expected<Json, std::string> parse(std::string_view text);

}  // namespace zorlet_core::json
