// The claim record and its companion types. Plain values: they own their
// texts, lists and maps and never point into a store.
//
// Field order is declaration order and is also the order in which the record
// encoding writes them, so do not reorder fields.
#pragma once

#include <cstdint>
#include <expected>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zorlet_core/json.h"

namespace zorlet_core::types {

// "Map text to text": unique keys, order unspecified. A sorted map keeps the
// encoded bytes and the Python dicts deterministic.
using StringMap = std::map<std::string, std::string>;

enum class ClaimStatus : uint8_t {
  Active = 0,
  Archived = 1,
  Tombstoned = 2,
  ProvenanceDegraded = 3,
  Verified = 4,
  VerificationFailed = 5,
  Disputed = 6,
};
inline constexpr uint8_t kClaimStatusCount = 7;

std::string_view status_name(ClaimStatus status);
// Strict parse: exact, case-sensitive match of the seven names.
// Error text: "unknown ClaimStatus: {}".
std::expected<ClaimStatus, std::string> parse_status(std::string_view name);
// Codes 0..6; anything else is absent.
std::optional<ClaimStatus> status_from_code(uint32_t code);

struct EntityRef {
  std::string id;
  std::string entity_type;
  std::string display_name;
  StringMap external_ids;
  bool operator==(const EntityRef&) const = default;
};

struct PredicateRef {
  std::string id;
  std::string predicate_type;
  bool operator==(const PredicateRef&) const = default;
};

struct Provenance {
  std::string source_type;
  std::string source_id;
  std::optional<std::string> method;
  std::vector<std::string> chain;
  std::optional<std::string> model_version;
  std::optional<std::string> organization;
  std::optional<std::string> project;
  std::optional<std::string> agent_id;
  std::optional<std::string> source_version;
  StringMap labels;
  bool operator==(const Provenance&) const = default;
};

struct Payload {
  std::string schema_ref;
  json::Json data;
  bool operator==(const Payload&) const = default;
};

struct Claim {
  std::string claim_id;
  std::string content_id;
  EntityRef subject;
  PredicateRef predicate;
  EntityRef object;
  double confidence = 0.0;
  Provenance provenance;
  std::optional<std::vector<double>> embedding;
  std::optional<Payload> payload;
  int64_t timestamp = 0;
  ClaimStatus status = ClaimStatus::Active;
  std::string ns;  // `namespace`
  int64_t expires_at = 0;
  bool operator==(const Claim&) const = default;
};

// A registered entity: the record both backends keep per entity id.
struct EntityData {
  std::string id;
  std::string entity_type;
  std::string display_name;
  StringMap external_ids;
  int64_t created_at = 0;
  bool operator==(const EntityData&) const = default;
};

struct EntitySummary {
  std::string id;
  std::string name;
  std::string entity_type;
  StringMap external_ids;
  uint64_t claim_count = 0;
};

struct StoreStats {
  uint64_t total_claims = 0;
  uint64_t entity_count = 0;
  std::map<std::string, uint64_t> entity_types;
  std::map<std::string, uint64_t> predicate_types;
  std::map<std::string, uint64_t> source_types;
};

inline EntitySummary to_summary(const EntityData& e, uint64_t claim_count) {
  return {e.id, e.display_name, e.entity_type, e.external_ids, claim_count};
}

}  // namespace zorlet_core::types
