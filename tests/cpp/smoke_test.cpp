#include <gtest/gtest.h>

#include "zorlet_core/errors.h"

using zorlet_core::errors::ZorletError;

TEST(Errors, DisplayTexts) {
  EXPECT_EQ(ZorletError::read_only().display(), "ReadOnlyError: store is read-only");
  EXPECT_EQ(ZorletError::provenance("").display(), "ProvenanceError: ");
  EXPECT_EQ(ZorletError::validation("Unknown claim status: tomb").display(),
            "ValidationError: Unknown claim status: tomb");
  auto inner = ZorletError::provenance("put", "MDB_BAD_VALSIZE");
  EXPECT_EQ(ZorletError::wrap("increment entity_type_counts", inner).display(),
            "ProvenanceError: increment entity_type_counts: ProvenanceError: put: MDB_BAD_VALSIZE");
}
