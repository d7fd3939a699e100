// Reading the counter tables, shared by the analytics queries, the store
// statistics and the counter maintenance.
//
//   plain counter       := count:u64be                  (values shorter than 8 bytes are skipped)
//   confidence counter  := count:u64le sum:f64le        (values shorter than 16 bytes are skipped)
//
// Counter keys are UTF-8 text (composite keys join their parts with 0x1F);
// a key that is not valid UTF-8 cannot become a Python str and is skipped.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "backend/lmdb/codec.h"
#include "backend/lmdb/env.h"

namespace zorlet_store::backend::lmdb {

using codec::valid_utf8;

// Every entry of a plain-counter table whose key is UTF-8 and whose value
// decodes, into `out` (any map from std::string to uint64_t). A cursor that
// cannot be opened leaves `out` empty.
template <class Map>
void read_counts(const Txn& txn, MDB_dbi dbi, Map& out) {
  Cursor cur;
  if (Cursor::open(txn, dbi, cur) != MDB_SUCCESS) return;
  std::string_view k, v;
  for (int rc = cur.get(MDB_FIRST, k, v); rc == MDB_SUCCESS; rc = cur.get(MDB_NEXT, k, v)) {
    auto count = codec::decode_count(v);
    if (count && valid_utf8(k)) out[std::string(k)] = *count;
  }
}

}  // namespace zorlet_store::backend::lmdb
