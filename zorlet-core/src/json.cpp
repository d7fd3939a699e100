#include "zorlet_core/json.h"

namespace zorlet_core::json {

std::string to_text(const Json& value) {
  // Strings in the model come from validated UTF-8; `replace` keeps the writer
  // total even if one did not.
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::expected<Json, std::string> parse(std::string_view text) {
  try {
    return Json::parse(text.begin(), text.end());
  } catch (const Json::parse_error& e) {
    return std::unexpected(std::string(e.what()));
  }
}

}  // namespace zorlet_core::json
