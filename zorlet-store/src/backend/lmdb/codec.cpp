// Record encodings of the persistent store; the byte grammar is in codec.h.
//
// Writing lays every record out twice with the same template: once into a
// Sizer that only adds up bytes, then into a Writer over a buffer of exactly
// that size, so an encoding costs one allocation and no reallocation.
//
// Reading never trusts a length or count taken from the bytes: a string must
// fit in what remains, and a list, set or map announcing n elements must have
// room for n of its smallest possible element, before anything is allocated.
// Stored values can be damaged or hostile; a bad value fails with a decode
// error instead of exhausting memory.
#include "backend/lmdb/codec.h"

#include <bit>
#include <cstring>
#include <memory>
#include <utility>

#include <zstd.h>

#include "zorlet_core/json.h"

namespace zorlet_store::backend::lmdb::codec {

namespace {

using zorlet_core::errors::fail;
using zorlet_core::types::ClaimStatus;
using zorlet_core::types::EntityRef;
using zorlet_core::types::Payload;
using zorlet_core::types::PredicateRef;
using zorlet_core::types::Provenance;
using zorlet_core::types::StringMap;

// Largest claim record the store writes or inflates. A zstd frame can expand
// some 30000-fold, so a small damaged value could otherwise ask for gigabytes;
// the writer refuses records above the same bound, so every claim it accepts
// can be read back.
constexpr size_t kMaxClaimRecordBytes = size_t{256} << 20;
constexpr int kZstdLevel = 3;

// Deepest nesting of arrays and objects accepted in payload data. The JSON
// reader and writer recurse once per level, so a stored text of a few hundred
// kilobytes of brackets would otherwise exhaust the stack on read or rewrite.
// Python's own json module stops near 1000 levels, so no payload made from
// Python comes close.
constexpr size_t kMaxJsonDepth = 2048;

template <class T>
T to_le(T v) {
  if constexpr (std::endian::native == std::endian::big) return std::byteswap(v);
  return v;
}

// ---------------------------------------------------------------- writing

class Sizer {
 public:
  void u8(uint8_t) { n_ += 1; }
  void u32(uint32_t) { n_ += 4; }
  void u64(uint64_t) { n_ += 8; }
  void i64(int64_t) { n_ += 8; }
  void f64(double) { n_ += 8; }
  void str(std::string_view s) { n_ += 8 + s.size(); }
  size_t size() const { return n_; }

 private:
  size_t n_ = 0;
};

class Writer {
 public:
  explicit Writer(char* p) : p_(p) {}
  void u8(uint8_t v) { *p_++ = static_cast<char>(v); }
  void u32(uint32_t v) { raw(to_le(v)); }
  void u64(uint64_t v) { raw(to_le(v)); }
  void i64(int64_t v) { u64(static_cast<uint64_t>(v)); }
  void f64(double v) { u64(std::bit_cast<uint64_t>(v)); }
  void str(std::string_view s) {
    u64(s.size());
    if (!s.empty()) std::memcpy(p_, s.data(), s.size());
    p_ += s.size();
  }
  const char* pos() const { return p_; }

 private:
  template <class T>
  void raw(T v) {
    std::memcpy(p_, &v, sizeof v);
    p_ += sizeof v;
  }
  char* p_;
};

template <class Out>
void put_opt_str(Out& o, const std::optional<std::string>& s) {
  if (!s) return o.u8(0);
  o.u8(1);
  o.str(*s);
}

template <class Out>
void put_list(Out& o, const std::vector<std::string>& items) {
  o.u64(items.size());
  for (const auto& s : items) o.str(s);
}

template <class Out, class Map>
void put_string_map(Out& o, const Map& m) {
  o.u64(m.size());
  for (const auto& [k, v] : m) {
    o.str(k);
    o.str(v);
  }
}

template <class Out>
void put_entity_ref(Out& o, const EntityRef& e) {
  o.str(e.id);
  o.str(e.entity_type);
  o.str(e.display_name);
  put_string_map(o, e.external_ids);
}

template <class Out>
void put_provenance(Out& o, const Provenance& p) {
  o.str(p.source_type);
  o.str(p.source_id);
  put_opt_str(o, p.method);
  put_list(o, p.chain);
  put_opt_str(o, p.model_version);
  put_opt_str(o, p.organization);
  put_opt_str(o, p.project);
  put_opt_str(o, p.agent_id);
  put_opt_str(o, p.source_version);
  put_string_map(o, p.labels);
}

// `payload_text` is the compact JSON of the payload data, made once by the
// caller so that both passes see the same bytes.
template <class Out>
void put_claim(Out& o, const Claim& c, const std::string& payload_text) {
  o.str(c.claim_id);
  o.str(c.content_id);
  put_entity_ref(o, c.subject);
  o.str(c.predicate.id);
  o.str(c.predicate.predicate_type);
  put_entity_ref(o, c.object);
  o.f64(c.confidence);
  put_provenance(o, c.provenance);
  if (c.embedding) {
    o.u8(1);
    o.u64(c.embedding->size());
    for (double x : *c.embedding) o.f64(x);
  } else {
    o.u8(0);
  }
  if (c.payload) {
    o.u8(1);
    o.str(c.payload->schema_ref);
    o.str(payload_text);
  } else {
    o.u8(0);
  }
  o.i64(c.timestamp);
  o.u32(static_cast<uint32_t>(c.status));
  o.str(c.ns);
  o.i64(c.expires_at);
}

// Runs `layout` once to size the record and once to write it.
template <class Layout>
std::string encode_with(Layout&& layout) {
  Sizer sizer;
  layout(sizer);
  std::string out;
  out.resize_and_overwrite(sizer.size(), [&](char* p, size_t n) {
    Writer w(p);
    layout(w);
    return static_cast<size_t>(w.pos() - p);
  });
  return out;
}

// Whether `v` nests deeper than `limit`; stops descending past the limit, so
// the recursion itself stays bounded.
bool nests_deeper_than(const zorlet_core::json::Json& v, size_t limit) {
  if (!v.is_structured()) return false;
  if (limit == 0) return true;
  for (const auto& child : v)
    if (nests_deeper_than(child, limit - 1)) return true;
  return false;
}

// The same question asked of JSON text before it is parsed: brackets outside
// string literals.
bool text_nests_deeper_than(std::string_view text, size_t limit) {
  size_t depth = 0;
  bool in_string = false, escaped = false;
  for (char c : text) {
    if (in_string) {
      if (escaped)
        escaped = false;
      else if (c == '\\')
        escaped = true;
      else if (c == '"')
        in_string = false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > limit) return true;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return false;
}

std::string payload_text(const Claim& c) {
  return c.payload ? zorlet_core::json::to_text(c.payload->data) : std::string();
}

// ---------------------------------------------------------------- reading


// A cursor over encoded bytes. Every read either succeeds or records the
// first error and fails; the decode functions chain reads with &&.
class Reader {
 public:
  explicit Reader(std::string_view bytes) : begin_(bytes.data()), p_(bytes.data()), end_(bytes.data() + bytes.size()) {}

  bool u8(uint8_t& v) {
    if (!need(1)) return false;
    v = static_cast<uint8_t>(*p_++);
    return true;
  }
  bool u32(uint32_t& v) { return raw(v); }
  bool u64(uint64_t& v) { return raw(v); }
  bool i64(int64_t& v) {
    uint64_t u;
    if (!raw(u)) return false;
    v = static_cast<int64_t>(u);
    return true;
  }
  bool f64(double& v) {
    uint64_t u;
    if (!raw(u)) return false;
    v = std::bit_cast<double>(u);
    return true;
  }

  bool str(std::string& out) {
    uint64_t len;
    if (!u64(len)) return false;
    if (len > remaining())
      return fail("string length " + std::to_string(len) + " exceeds the " + std::to_string(remaining()) +
                  " remaining bytes at offset " + std::to_string(offset()));
    std::string_view bytes(p_, static_cast<size_t>(len));
    if (!valid_utf8(bytes)) return fail("invalid UTF-8 in string at offset " + std::to_string(offset()));
    out.assign(bytes);
    p_ += len;
    return true;
  }

  // Reads an optional tag: true in `present` for 1, false for 0.
  bool tag(bool& present) {
    uint8_t t;
    if (!u8(t)) return false;
    if (t > 1)
      return fail("invalid option tag " + std::to_string(t) + " at offset " + std::to_string(offset() - 1) +
                  ", expected 0 or 1");
    present = t == 1;
    return true;
  }

  bool opt_str(std::optional<std::string>& out) {
    bool present;
    if (!tag(present)) return false;
    if (!present) {
      out.reset();
      return true;
    }
    return str(out.emplace());
  }

  // Reads an element count and checks that `n` elements of at least
  // `min_elem` bytes each fit in what remains.
  bool count(uint64_t& n, size_t min_elem) {
    if (!u64(n)) return false;
    if (n > remaining() / min_elem)
      return fail("element count " + std::to_string(n) + " cannot fit in the " + std::to_string(remaining()) +
                  " remaining bytes at offset " + std::to_string(offset()));
    return true;
  }

  bool fail(std::string message) {
    if (error_.empty()) error_ = std::move(message);
    return false;
  }
  std::string take_error() { return std::move(error_); }

 private:
  size_t remaining() const { return static_cast<size_t>(end_ - p_); }
  size_t offset() const { return static_cast<size_t>(p_ - begin_); }

  bool need(size_t n) {
    if (remaining() >= n) return true;
    return fail("unexpected end of input at offset " + std::to_string(offset()) + ": need " + std::to_string(n) +
                " bytes, " + std::to_string(remaining()) + " remain");
  }
  template <class T>
  bool raw(T& v) {
    if (!need(sizeof v)) return false;
    std::memcpy(&v, p_, sizeof v);
    v = to_le(v);
    p_ += sizeof v;
    return true;
  }

  const char* begin_;
  const char* p_;
  const char* end_;
  std::string error_;
};

// Smallest encodings, for the count checks.
constexpr size_t kMinString = 8;
constexpr size_t kMinStringPair = 16;

bool get_list(Reader& r, std::vector<std::string>& out) {
  uint64_t n;
  if (!r.count(n, kMinString)) return false;
  out.clear();
  out.reserve(n);
  for (uint64_t i = 0; i < n; ++i)
    if (!r.str(out.emplace_back())) return false;
  return true;
}

bool get_string_map(Reader& r, StringMap& out) {
  uint64_t n;
  if (!r.count(n, kMinStringPair)) return false;
  out.clear();
  for (uint64_t i = 0; i < n; ++i) {
    std::string k, v;
    if (!r.str(k) || !r.str(v)) return false;
    out.insert_or_assign(std::move(k), std::move(v));
  }
  return true;
}

bool get_entity_ref(Reader& r, EntityRef& e) {
  return r.str(e.id) && r.str(e.entity_type) && r.str(e.display_name) && get_string_map(r, e.external_ids);
}

// The three claim layouts the reader accepts, newest first.
enum class Layout { kCurrent, kLegacyProv, kLegacy };

bool get_provenance(Reader& r, Provenance& p, Layout layout) {
  if (!(r.str(p.source_type) && r.str(p.source_id) && r.opt_str(p.method) && get_list(r, p.chain) &&
        r.opt_str(p.model_version) && r.opt_str(p.organization)))
    return false;
  // Older provenance stops here; its missing fields stay absent or empty.
  if (layout != Layout::kCurrent) return true;
  return r.opt_str(p.project) && r.opt_str(p.agent_id) && r.opt_str(p.source_version) &&
         get_string_map(r, p.labels);
}

bool get_embedding(Reader& r, std::optional<std::vector<double>>& out) {
  bool present;
  if (!r.tag(present)) return false;
  if (!present) return true;
  uint64_t n;
  if (!r.count(n, 8)) return false;
  auto& v = out.emplace();
  v.resize(n);
  for (auto& x : v)
    if (!r.f64(x)) return false;
  return true;
}

bool get_payload(Reader& r, std::optional<Payload>& out) {
  bool present;
  if (!r.tag(present)) return false;
  if (!present) return true;
  Payload p;
  std::string text;
  if (!r.str(p.schema_ref) || !r.str(text)) return false;
  if (text_nests_deeper_than(text, kMaxJsonDepth))
    return r.fail("payload data nests deeper than " + std::to_string(kMaxJsonDepth) + " levels");
  auto data = zorlet_core::json::parse(text);
  if (!data) return r.fail("payload data is not valid JSON: " + data.error());
  p.data = std::move(*data);
  out = std::move(p);
  return true;
}

bool get_status(Reader& r, ClaimStatus& out) {
  uint32_t code;
  if (!r.u32(code)) return false;
  auto status = zorlet_core::types::status_from_code(code);
  if (!status) return r.fail("invalid ClaimStatus value " + std::to_string(code) + ", expected 0 to 6");
  out = *status;
  return true;
}

Decoded<Claim> decode_layout(std::string_view bytes, Layout layout) {
  Reader r(bytes);
  Claim c;
  bool ok = r.str(c.claim_id) && r.str(c.content_id) && get_entity_ref(r, c.subject) && r.str(c.predicate.id) &&
            r.str(c.predicate.predicate_type) && get_entity_ref(r, c.object) && r.f64(c.confidence) &&
            get_provenance(r, c.provenance, layout) && get_embedding(r, c.embedding) && get_payload(r, c.payload) &&
            r.i64(c.timestamp) && get_status(r, c.status);
  if (ok && layout != Layout::kLegacy) ok = r.str(c.ns) && r.i64(c.expires_at);
  if (!ok) return std::unexpected(r.take_error());
  return c;
}

// ---------------------------------------------------------------- zstd

struct CCtxFree {
  void operator()(ZSTD_CCtx* c) const { ZSTD_freeCCtx(c); }
};
struct DCtxFree {
  void operator()(ZSTD_DCtx* d) const { ZSTD_freeDCtx(d); }
};

// Contexts are costly to set up; each thread keeps one of each for its life.
ZSTD_CCtx* compression_context() {
  thread_local std::unique_ptr<ZSTD_CCtx, CCtxFree> ctx(ZSTD_createCCtx());
  return ctx.get();
}

// The decompression context and the buffer inflated claims land in. The
// buffer is reused across reads and trimmed when one large claim grew it.
struct Inflater {
  std::unique_ptr<ZSTD_DCtx, DCtxFree> ctx{ZSTD_createDCtx()};
  std::unique_ptr<char[]> buf;
  size_t cap = 0;

  static constexpr size_t kKeepBytes = size_t{4} << 20;

  void grow(size_t want, size_t used) {
    auto bigger = std::make_unique_for_overwrite<char[]>(want);
    if (used) std::memcpy(bigger.get(), buf.get(), used);
    buf = std::move(bigger);
    cap = want;
  }
  void trim() {
    if (cap > kKeepBytes) {
      buf.reset();
      cap = 0;
    }
  }

  // Decompresses every frame of `src`; the result lives in `buf` until the
  // next call. Output grows with what the frames actually produce, capped at
  // kMaxClaimRecordBytes, so the sizes announced in frame headers are never
  // trusted for an allocation beyond a small multiple of the input.
  Decoded<std::string_view> inflate(std::string_view src) {
    if (src.empty()) return std::string_view();
    if (!ctx) return std::unexpected(std::string("cannot allocate a zstd decompression context"));
    ZSTD_DCtx_reset(ctx.get(), ZSTD_reset_session_only);

    size_t guess = src.size() * 8 + 4096;
    unsigned long long announced = ZSTD_getFrameContentSize(src.data(), src.size());
    if (announced != ZSTD_CONTENTSIZE_UNKNOWN && announced != ZSTD_CONTENTSIZE_ERROR && announced < guess)
      guess = static_cast<size_t>(announced) + 1;  // +1 leaves room to see the end
    guess = std::min(guess, kMaxClaimRecordBytes);
    if (cap < guess) grow(guess, 0);

    // The usual value: one frame that announces its size. The one-shot decoder
    // skips the streaming bookkeeping, which is a fair share of the cost for
    // a record of a few hundred bytes. It writes at most `announced` bytes and
    // fails unless the input is exactly whole frames, so anything unusual
    // (several frames, a short or padded input) takes the streaming path below
    // and is judged there.
    if (announced != ZSTD_CONTENTSIZE_UNKNOWN && announced != ZSTD_CONTENTSIZE_ERROR && announced < cap &&
        ZSTD_findFrameCompressedSize(src.data(), src.size()) == src.size()) {
      size_t n = ZSTD_decompressDCtx(ctx.get(), buf.get(), static_cast<size_t>(announced), src.data(), src.size());
      if (!ZSTD_isError(n) && n == announced) return std::string_view(buf.get(), n);
      ZSTD_DCtx_reset(ctx.get(), ZSTD_reset_session_only);
    }

    ZSTD_inBuffer in{src.data(), src.size(), 0};
    size_t produced = 0;
    size_t last = 0;
    for (;;) {
      if (produced == cap) {
        if (cap >= kMaxClaimRecordBytes)
          return std::unexpected("decompressed claim exceeds " + std::to_string(kMaxClaimRecordBytes) + " bytes");
        grow(std::min(kMaxClaimRecordBytes, std::max<size_t>(cap * 2, 4096)), produced);
      }
      ZSTD_outBuffer out{buf.get(), cap, produced};
      last = ZSTD_decompressStream(ctx.get(), &out, &in);
      if (ZSTD_isError(last)) return std::unexpected(std::string(ZSTD_getErrorName(last)));
      produced = out.pos;
      // Input consumed and output not full: the decoder has flushed all it can.
      if (in.pos == in.size && out.pos < out.size) break;
    }
    if (last != 0) return std::unexpected(std::string("truncated zstd frame"));
    return std::string_view(buf.get(), produced);
  }
};

Inflater& inflater() {
  thread_local Inflater state;
  return state;
}

}  // namespace

// ---------------------------------------------------------------- claims

std::string encode_claim_record(const Claim& claim) {
  std::string text = payload_text(claim);
  return encode_with([&](auto& o) { put_claim(o, claim, text); });
}

Decoded<Claim> decode_claim_record(std::string_view bytes) { return decode_layout(bytes, Layout::kCurrent); }

Result<std::string> encode_claim_value(const Claim& claim) {
  // Refused here so that every stored claim can be read back.
  if (claim.payload && nests_deeper_than(claim.payload->data, kMaxJsonDepth))
    return fail("serialize claim", "payload data nests deeper than " + std::to_string(kMaxJsonDepth) + " levels");
  std::string record = encode_claim_record(claim);
  if (record.size() > kMaxClaimRecordBytes)
    return fail("serialize claim", "encoded claim of " + std::to_string(record.size()) + " bytes exceeds the limit of " +
                                       std::to_string(kMaxClaimRecordBytes) + " bytes");
  ZSTD_CCtx* cctx = compression_context();
  if (!cctx) return fail("zstd compress", "cannot allocate a zstd compression context");
  std::string value;
  size_t bound = ZSTD_compressBound(record.size());
  size_t rc = 0;
  value.resize_and_overwrite(bound + 1, [&](char* p, size_t) {
    p[0] = '\x01';
    rc = ZSTD_compressCCtx(cctx, p + 1, bound, record.data(), record.size(), kZstdLevel);
    return ZSTD_isError(rc) ? size_t{0} : rc + 1;
  });
  if (ZSTD_isError(rc)) return fail("zstd compress", ZSTD_getErrorName(rc));
  // A batch keeps up to 100000 encoded values alive until its commit; the
  // compression bound is about twice what a claim usually needs.
  value.shrink_to_fit();
  return value;
}

Result<Claim> decompress_claim(std::string_view value) {
  if (value.empty()) return fail("decompress", "empty claim data");
  std::string_view body;
  Inflater* used = nullptr;
  switch (static_cast<uint8_t>(value[0])) {
    case 1: {
      used = &inflater();
      auto inflated = used->inflate(value.substr(1));
      if (!inflated) return fail("zstd decompress", inflated.error());
      body = *inflated;
      break;
    }
    case 0:
      body = value.substr(1);
      break;
    default:  // written before the envelope existed: the whole value is the record
      body = value;
      break;
  }
  // Fixed order: current layout, then the two older ones, each from the start.
  Decoded<Claim> claim = decode_layout(body, Layout::kCurrent);
  if (!claim) claim = decode_layout(body, Layout::kLegacyProv);
  if (!claim) claim = decode_layout(body, Layout::kLegacy);
  if (used) used->trim();
  if (!claim) return fail("deserialize claim (legacy fallback)", claim.error());
  return std::move(*claim);
}

// ---------------------------------------------------------------- summaries

ClaimSummary summary_of(const Claim& c) {
  return {c.claim_id,         c.ns,        c.subject.id,           c.subject.entity_type, c.object.id,
          c.object.entity_type, c.predicate.id, c.provenance.source_id, c.confidence};
}

std::string encode_summary(const ClaimSummary& s) {
  return encode_with([&](auto& o) {
    o.str(s.claim_id);
    o.str(s.ns);
    o.str(s.subject_id);
    o.str(s.subject_type);
    o.str(s.object_id);
    o.str(s.object_type);
    o.str(s.predicate_id);
    o.str(s.source_id);
    o.f64(s.confidence);
  });
}

Decoded<ClaimSummary> decode_summary(std::string_view bytes) {
  Reader r(bytes);
  ClaimSummary s;
  if (!(r.str(s.claim_id) && r.str(s.ns) && r.str(s.subject_id) && r.str(s.subject_type) && r.str(s.object_id) &&
        r.str(s.object_type) && r.str(s.predicate_id) && r.str(s.source_id) && r.f64(s.confidence)))
    return std::unexpected(r.take_error());
  return s;
}

// ---------------------------------------------------------------- entities

std::string encode_entity(const EntityData& e) {
  return encode_with([&](auto& o) {
    o.str(e.id);
    o.str(e.entity_type);
    o.str(e.display_name);
    put_string_map(o, e.external_ids);
    o.i64(e.created_at);
  });
}

Decoded<EntityData> decode_entity(std::string_view bytes) {
  Reader r(bytes);
  EntityData e;
  if (!(r.str(e.id) && r.str(e.entity_type) && r.str(e.display_name) && get_string_map(r, e.external_ids) &&
        r.i64(e.created_at)))
    return std::unexpected(r.take_error());
  return e;
}

// ---------------------------------------------------------------- alias groups

std::string encode_aliases(const union_find::UnionFind& uf) {
  return encode_with([&](auto& o) {
    put_string_map(o, uf.parent);
    o.u64(uf.rank.size());
    for (const auto& [id, rank] : uf.rank) {
      o.str(id);
      o.u64(rank);
    }
    o.u64(uf.groups.size());
    for (const auto& [root, members] : uf.groups) {
      o.str(root);
      o.u64(members.size());
      for (const auto& m : members) o.str(m);
    }
  });
}

namespace {

// A parent chain that loops would make every later `find` spin forever, so a
// blob whose `parent` map holds a cycle is refused like any other damage.
// A self-parent entry ends a chain (find stops there) and is not a cycle.
std::optional<std::string> parent_cycle(const std::unordered_map<std::string, std::string>& parent) {
  enum : uint8_t { kOnPath = 1, kDone = 2 };
  std::unordered_map<std::string_view, uint8_t> state;
  state.reserve(parent.size());
  std::vector<std::string_view> path;
  for (const auto& [start, _] : parent) {
    std::string_view cur = start;
    path.clear();
    for (;;) {
      auto [it, fresh] = state.try_emplace(cur, kOnPath);
      if (!fresh) {
        if (it->second == kOnPath) return std::string(cur);
        break;
      }
      path.push_back(cur);
      auto next = parent.find(std::string(cur));
      if (next == parent.end() || next->second == cur) break;
      cur = next->second;
    }
    for (auto id : path) state[id] = kDone;
  }
  return std::nullopt;
}

}  // namespace

Decoded<union_find::UnionFind> decode_aliases(std::string_view bytes) {
  Reader r(bytes);
  union_find::UnionFind uf;
  uint64_t n;
  if (!r.count(n, kMinStringPair)) return std::unexpected(r.take_error());
  uf.parent.reserve(n);
  for (uint64_t i = 0; i < n; ++i) {
    std::string k, v;
    if (!r.str(k) || !r.str(v)) return std::unexpected(r.take_error());
    uf.parent.insert_or_assign(std::move(k), std::move(v));
  }
  if (!r.count(n, kMinStringPair)) return std::unexpected(r.take_error());
  uf.rank.reserve(n);
  for (uint64_t i = 0; i < n; ++i) {
    std::string id;
    uint64_t rank;
    if (!r.str(id) || !r.u64(rank)) return std::unexpected(r.take_error());
    uf.rank.insert_or_assign(std::move(id), rank);
  }
  if (!r.count(n, kMinStringPair)) return std::unexpected(r.take_error());
  uf.groups.reserve(n);
  for (uint64_t i = 0; i < n; ++i) {
    std::string root;
    uint64_t members;
    if (!r.str(root) || !r.count(members, kMinString)) return std::unexpected(r.take_error());
    union_find::StringSet set;
    set.reserve(members);
    for (uint64_t j = 0; j < members; ++j) {
      std::string m;
      if (!r.str(m)) return std::unexpected(r.take_error());
      set.insert(std::move(m));
    }
    uf.groups.insert_or_assign(std::move(root), std::move(set));
  }
  if (auto id = parent_cycle(uf.parent)) return std::unexpected("alias parent chain loops through '" + *id + "'");
  return uf;
}

// ---------------------------------------------------------------- metadata

std::string encode_metadata(const metadata::MetadataStore& m) {
  return encode_with([&](auto& o) {
    o.u64(m.vocabularies.size());
    for (const auto& [ns, v] : m.vocabularies) {
      o.str(ns);
      put_list(o, v.entity_types);
      put_list(o, v.predicate_types);
      put_list(o, v.source_types);
    }
    put_string_map(o, m.predicate_constraints);
    put_string_map(o, m.payload_schemas);
  });
}

Decoded<metadata::MetadataStore> decode_metadata(std::string_view bytes) {
  Reader r(bytes);
  metadata::MetadataStore m;
  uint64_t n;
  // A vocabulary entry is at least its key and three list counts.
  if (!r.count(n, kMinString * 4)) return std::unexpected(r.take_error());
  for (uint64_t i = 0; i < n; ++i) {
    std::string ns;
    metadata::Vocabulary v;
    if (!(r.str(ns) && get_list(r, v.entity_types) && get_list(r, v.predicate_types) && get_list(r, v.source_types)))
      return std::unexpected(r.take_error());
    m.vocabularies.insert_or_assign(std::move(ns), std::move(v));
  }
  if (!get_string_map(r, m.predicate_constraints) || !get_string_map(r, m.payload_schemas))
    return std::unexpected(r.take_error());
  return m;
}

// ---------------------------------------------------------------- plain values

std::array<char, 8> seq_key(uint64_t seq) {
  std::array<char, 8> out;
  for (int i = 7; i >= 0; --i, seq >>= 8) out[i] = static_cast<char>(seq & 0xff);
  return out;
}

std::optional<uint64_t> read_seq(std::string_view bytes) {
  if (bytes.size() < 8) return std::nullopt;
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | static_cast<uint8_t>(bytes[i]);
  return v;
}

std::array<char, 8> timestamp_key(int64_t ts) { return seq_key(static_cast<uint64_t>(ts)); }
std::array<char, 8> encode_count(uint64_t c) { return seq_key(c); }
std::optional<uint64_t> decode_count(std::string_view b) { return read_seq(b); }

std::array<char, 16> encode_conf(const ConfCounter& c) {
  std::array<char, 16> out;
  uint64_t count = to_le(c.count);
  uint64_t sum = to_le(std::bit_cast<uint64_t>(c.sum));
  std::memcpy(out.data(), &count, 8);
  std::memcpy(out.data() + 8, &sum, 8);
  return out;
}

std::optional<ConfCounter> decode_conf(std::string_view b) {
  if (b.size() < 16) return std::nullopt;
  uint64_t count, sum;
  std::memcpy(&count, b.data(), 8);
  std::memcpy(&sum, b.data() + 8, 8);
  return ConfCounter{to_le(count), std::bit_cast<double>(to_le(sum))};
}

std::array<char, 8> encode_u64_le(uint64_t v) {
  std::array<char, 8> out;
  v = to_le(v);
  std::memcpy(out.data(), &v, 8);
  return out;
}

std::array<char, 4> encode_u32_le(uint32_t v) {
  std::array<char, 4> out;
  v = to_le(v);
  std::memcpy(out.data(), &v, 4);
  return out;
}

std::string_view cut_utf8(std::string_view text, size_t max_bytes) {
  if (text.size() <= max_bytes) return text;
  size_t n = max_bytes;
  while (n > 0 && (static_cast<uint8_t>(text[n]) & 0xC0) == 0x80) --n;
  return text.substr(0, n);
}

std::string composite(std::string_view a, std::string_view b) {
  std::string out;
  out.reserve(a.size() + b.size() + 1);
  out.append(a).push_back(kSep);
  out.append(b);
  return out;
}

std::string composite(std::string_view a, std::string_view b, std::string_view c) {
  std::string out;
  out.reserve(a.size() + b.size() + c.size() + 2);
  out.append(a).push_back(kSep);
  out.append(b).push_back(kSep);
  out.append(c);
  return out;
}

// Whether `s` is well-formed UTF-8: no overlong forms, no surrogates, nothing
// above U+10FFFF.
bool valid_utf8(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const auto* end = p + s.size();
  while (p < end) {
    // Eight ASCII bytes at a time: identifiers are mostly ASCII.
    while (end - p >= 8) {
      uint64_t chunk;
      std::memcpy(&chunk, p, 8);
      if (chunk & 0x8080808080808080ULL) break;
      p += 8;
    }
    if (p == end) break;
    unsigned char c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    int extra;
    unsigned char lo = 0x80, hi = 0xBF;  // bounds of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      if (c == 0xE0) lo = 0xA0;  // overlong
      if (c == 0xED) hi = 0x9F;  // surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      if (c == 0xF0) lo = 0x90;  // overlong
      if (c == 0xF4) hi = 0x8F;  // above U+10FFFF
    } else {
      return false;
    }
    if (end - p <= extra) return false;
    if (p[1] < lo || p[1] > hi) return false;
    for (int i = 2; i <= extra; ++i)
      if ((p[i] & 0xC0) != 0x80) return false;
    p += extra + 1;
  }
  return true;
}

}  // namespace zorlet_store::backend::lmdb::codec
