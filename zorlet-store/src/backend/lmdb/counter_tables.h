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

// Well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
inline bool valid_utf8(std::string_view s) {
  size_t i = 0, n = s.size();
  while (i < n) {
    auto c = static_cast<uint8_t>(s[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t len;
    uint32_t cp;
    if ((c & 0xE0) == 0xC0) len = 2, cp = c & 0x1F;
    else if ((c & 0xF0) == 0xE0) len = 3, cp = c & 0x0F;
    else if ((c & 0xF8) == 0xF0) len = 4, cp = c & 0x07;
    else return false;
    if (i + len > n) return false;
    for (size_t k = 1; k < len; ++k) {
      auto cc = static_cast<uint8_t>(s[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000)) return false;
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += len;
  }
  return true;
}

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
