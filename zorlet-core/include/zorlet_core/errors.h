// The one error enumeration of the store, and the internal-fault exception.
//
// Every fallible store operation returns Result<T>: either its value or one
// ZorletError. Nothing inside the store throws for an ordinary failure; the
// only exception that crosses a module boundary is InternalFault, raised for
// a broken precondition (an environment used after close).
#pragma once

#include <cstdint>
#include <expected>
#include <stdexcept>
#include <string>
#include <string_view>

namespace zorlet_core::errors {

enum class ErrorKind : uint8_t {
  Provenance = 0,
  Vocabulary = 1,
  SchemaValidation = 2,
  PredicateConstraint = 3,
  DuplicateClaim = 4,
  CircularProvenance = 5,
  Dimensionality = 6,
  EntityNotFound = 7,
  ReadOnly = 8,
  Validation = 9,
};

class ZorletError {
 public:
  ZorletError(ErrorKind kind, std::string payload) : kind_(kind), payload_(std::move(payload)) {}

  static ZorletError provenance(std::string payload) { return {ErrorKind::Provenance, std::move(payload)}; }
  // "{context}: {detail}", the storage-failure convention.
  static ZorletError provenance(std::string_view context, std::string_view detail);
  // Wraps a nested error: its whole display text becomes the detail.
  static ZorletError wrap(std::string_view context, const ZorletError& inner) {
    return provenance(context, inner.display());
  }
  static ZorletError read_only() { return {ErrorKind::ReadOnly, {}}; }
  static ZorletError validation(std::string payload) { return {ErrorKind::Validation, std::move(payload)}; }

  ErrorKind kind() const { return kind_; }
  const std::string& payload() const { return payload_; }
  // The text the Python user reads: a fixed prefix naming the kind, then the payload.
  std::string display() const;

 private:
  ErrorKind kind_;
  std::string payload_;
};

template <class T>
using Result = std::expected<T, ZorletError>;

inline std::unexpected<ZorletError> fail(ZorletError e) { return std::unexpected<ZorletError>(std::move(e)); }
inline std::unexpected<ZorletError> fail(std::string_view context, std::string_view detail) {
  return std::unexpected<ZorletError>(ZorletError::provenance(context, detail));
}

// A broken precondition, not a result. The Python layer turns it into its
// BaseException-derived fault.
class InternalFault : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace zorlet_core::errors
