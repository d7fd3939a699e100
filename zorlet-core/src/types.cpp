#include "zorlet_core/types.h"

namespace zorlet_core::types {

namespace {
constexpr std::string_view kStatusNames[kClaimStatusCount] = {
    "active", "archived", "tombstoned", "provenance_degraded", "verified", "verification_failed", "disputed",
};
}

std::string_view status_name(ClaimStatus status) { return kStatusNames[static_cast<uint8_t>(status)]; }

std::expected<ClaimStatus, std::string> parse_status(std::string_view name) {
  for (uint8_t i = 0; i < kClaimStatusCount; ++i)
    if (kStatusNames[i] == name) return static_cast<ClaimStatus>(i);
  return std::unexpected("unknown ClaimStatus: " + std::string(name));
}

std::optional<ClaimStatus> status_from_code(uint32_t code) {
  if (code >= kClaimStatusCount) return std::nullopt;
  return static_cast<ClaimStatus>(code);
}

}  // namespace zorlet_core::types
