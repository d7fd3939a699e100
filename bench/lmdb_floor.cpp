// The write path's floor: only the raw LMDB operations a claim load makes, for the same
// rows, with no record encoding, no compression and no Python. Whatever the store spends
// beyond this figure is its own overhead.
//
//   lmdb_floor load DATA_TSV STORE_DIR normal|bulk CLAIM_BYTES
//   lmdb_floor measure STORE_DIR
//
// `load` reads the benchmark's data.tsv (columns in bench/dataset.py), registers the
// entities the claims name and writes every claim in transactions of 100000, the way the
// store's batch insert does: per claim the claim_id_idx existence get, the stored claim
// (CLAIM_BYTES of filler: the mean compressed size measured on a real store), the id,
// content, entity, adjacency, causal, time, source, predicate and namespace index entries
// and, in normal mode, the three type/id counters, the claim summary (its exact encoded
// size) and the entity/predicate, entity/source and predicate-pair counters. Within a
// transaction every database is written separately in key order, which is the cheapest
// order for LMDB's B-trees: sequence-keyed values appended, repeated index pairs put once,
// and each counter key read and written once with the chunk's total.
//
// `measure` prints the mean value size of `claims` and `claim_summaries` of a store.
//
// Output: one JSON object on standard output.
#include <lmdb.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

constexpr size_t kChunk = 100000;
constexpr char kSep = '\x1f';

[[noreturn]] void die(const char* what, int rc) {
  std::fprintf(stderr, "lmdb_floor: %s: %s\n", what, mdb_strerror(rc));
  std::exit(1);
}

void check(int rc, const char* what) {
  if (rc != MDB_SUCCESS && rc != MDB_KEYEXIST) die(what, rc);
}

struct Row {
  std::string claim_id, content_id, subject, subject_type, object, object_type, predicate, predicate_type,
      source_type, source_id, ns, subject_name, object_name;
  double confidence = 0;
  int64_t timestamp = 0;
};

std::vector<std::string_view> split(std::string_view line) {
  std::vector<std::string_view> out;
  size_t start = 0;
  for (size_t i = 0; i <= line.size(); ++i)
    if (i == line.size() || line[i] == '\t') {
      out.push_back(line.substr(start, i - start));
      start = i + 1;
    }
  return out;
}

std::vector<Row> read_rows(const char* path) {
  std::ifstream in(path);
  if (!in) {
    std::fprintf(stderr, "lmdb_floor: cannot read %s\n", path);
    std::exit(1);
  }
  std::vector<Row> rows;
  std::string line;
  while (std::getline(in, line)) {
    auto f = split(line);
    if (f.size() < 15) continue;
    Row r;
    r.claim_id = f[0], r.content_id = f[1], r.subject = f[2], r.subject_type = f[3], r.object = f[4];
    r.object_type = f[5], r.predicate = f[6], r.predicate_type = f[7];
    r.confidence = std::strtod(std::string(f[8]).c_str(), nullptr);
    r.source_type = f[9], r.source_id = f[10];
    r.timestamp = std::strtoll(std::string(f[11]).c_str(), nullptr, 10);
    r.ns = f[12], r.subject_name = f[13], r.object_name = f[14];
    rows.push_back(std::move(r));
  }
  return rows;
}

std::string be64(uint64_t v) {
  std::string s(8, '\0');
  for (int i = 7; i >= 0; --i, v >>= 8) s[i] = static_cast<char>(v & 0xff);
  return s;
}

std::string join(std::initializer_list<std::string_view> parts) {
  std::string s;
  for (auto p : parts) {
    if (!s.empty()) s.push_back(kSep);
    s.append(p);
  }
  return s;
}

std::vector<std::string> tokens(std::string_view text) {
  std::vector<std::string> out;
  std::string cur;
  auto flush = [&] {
    if (cur.size() >= 2) out.push_back(cur);
    cur.clear();
  };
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    if (std::isalnum(u) || u >= 0x80)
      cur.push_back(static_cast<char>(std::tolower(u)));
    else
      flush();
  }
  flush();
  return out;
}

const std::unordered_set<std::string_view> kCausalPredicates = {
    "causes", "blocks", "enables", "inhibits", "promotes", "prevents", "activates",
    "regulates", "increases", "decreases", "suppresses", "upregulates", "downregulates"};

const char* const kDbNames[] = {
    "claims", "claim_id_idx", "entities", "meta_blobs", "status_overrides", "pred_type_counts",
    "src_type_counts", "entity_type_counts", "pred_id_counts", "claim_summaries", "entity_pred_counts",
    "entity_src_counts", "pred_pair_counts", "content_id_idx", "entity_claims_idx", "adjacency_idx",
    "timestamp_idx", "source_idx", "predicate_idx", "namespace_idx", "project_idx", "entity_type_idx",
    "text_idx", "causal_adj"};
enum Db {
  kClaims, kClaimId, kEntities, kMeta, kStatus, kPredType, kSrcType, kEntityType, kPredId, kSummaries,
  kEntityPred, kEntitySrc, kPredPair, kContent, kEntityClaims, kAdjacency, kTimestamp, kSource, kPredicate,
  kNamespace, kProject, kEntityTypeIdx, kText, kCausal, kDbCount
};

struct Env {
  MDB_env* env = nullptr;
  MDB_dbi dbi[kDbCount] = {};
  ~Env() {
    if (env) mdb_env_close(env);
  }
};

void open_env(Env& e, const char* dir, bool read_only) {
  check(mdb_env_create(&e.env), "env_create");
  check(mdb_env_set_mapsize(e.env, size_t{10} << 30), "set_mapsize");
  check(mdb_env_set_maxreaders(e.env, 512), "set_maxreaders");
  check(mdb_env_set_maxdbs(e.env, 32), "set_maxdbs");
  check(mdb_env_open(e.env, dir, read_only ? MDB_RDONLY : 0, 0600), "env_open");
  MDB_txn* txn;
  check(mdb_txn_begin(e.env, nullptr, read_only ? MDB_RDONLY : 0, &txn), "begin");
  for (int i = 0; i < kDbCount; ++i) {
    unsigned flags = read_only ? 0 : MDB_CREATE;
    if (i >= kContent) flags |= MDB_DUPSORT;
    int rc = mdb_dbi_open(txn, kDbNames[i], flags, &e.dbi[i]);
    if (rc != MDB_SUCCESS && !(read_only && rc == MDB_NOTFOUND)) die("dbi_open", rc);
  }
  check(mdb_txn_commit(txn), "commit");
}

// One database's share of a transaction: plain puts, and counter increments that read the
// current value and write it back (the write path's read-modify-write).
struct Batch {
  std::vector<std::pair<std::string, std::string>> puts;
  std::vector<std::pair<std::string, double>> incs;  // key, confidence (NaN: plain counter)
};

struct Counts {
  uint64_t gets = 0, puts = 0;
};

MDB_val val(std::string_view s) { return MDB_val{s.size(), const_cast<char*>(s.data())}; }

// Puts in key order (identical duplicate pairs once); counters folded per key: one get
// and one put for each distinct key of the chunk, as the cheapest correct upkeep does.
void write_batch(MDB_txn* txn, MDB_dbi dbi, Batch& b, Counts& n, bool append) {
  MDB_cursor* cur;
  check(mdb_cursor_open(txn, dbi, &cur), "cursor_open");
  if (!append) {
    std::sort(b.puts.begin(), b.puts.end());
    b.puts.erase(std::unique(b.puts.begin(), b.puts.end()), b.puts.end());
  }
  for (auto& [k, v] : b.puts) {
    MDB_val key = val(k), data = val(v);
    check(mdb_cursor_put(cur, &key, &data, append ? MDB_APPEND : 0), "put");
    ++n.puts;
  }
  std::stable_sort(b.incs.begin(), b.incs.end(),
                   [](const auto& a, const auto& c) { return a.first < c.first; });
  for (size_t i = 0; i < b.incs.size();) {
    size_t j = i;
    double sum_add = 0;
    for (; j < b.incs.size() && b.incs[j].first == b.incs[i].first; ++j) sum_add += b.incs[j].second;
    const bool plain = b.incs[i].second != b.incs[i].second;
    MDB_val key = val(b.incs[i].first), cur_val;
    int rc = mdb_cursor_get(cur, &key, &cur_val, MDB_SET_KEY);
    ++n.gets;
    if (rc != MDB_SUCCESS && rc != MDB_NOTFOUND) die("get counter", rc);
    char buf[16] = {};
    size_t len;
    if (plain) {  // 8 bytes big-endian
      uint64_t c = 0;
      if (rc == MDB_SUCCESS && cur_val.mv_size >= 8)
        for (int x = 0; x < 8; ++x) c = (c << 8) | static_cast<unsigned char>(static_cast<char*>(cur_val.mv_data)[x]);
      std::string s = be64(c + (j - i));
      std::memcpy(buf, s.data(), 8);
      len = 8;
    } else {  // count u64le, sum f64le
      uint64_t c = 0;
      double sum = 0;
      if (rc == MDB_SUCCESS && cur_val.mv_size >= 16) {
        std::memcpy(&c, cur_val.mv_data, 8);
        std::memcpy(&sum, static_cast<char*>(cur_val.mv_data) + 8, 8);
      }
      c += j - i, sum += sum_add;
      std::memcpy(buf, &c, 8);
      std::memcpy(buf + 8, &sum, 8);
      len = 16;
    }
    key = val(b.incs[i].first);
    MDB_val data{len, buf};
    check(mdb_cursor_put(cur, &key, &data, 0), "put counter");
    ++n.puts;
    i = j;
  }
  mdb_cursor_close(cur);
  b.puts.clear();
  b.incs.clear();
}

// Encoded sizes of the stored records (fixed fields plus string lengths).
size_t summary_bytes(const Row& r) {
  return 72 + r.claim_id.size() + r.ns.size() + r.subject.size() + r.subject_type.size() + r.object.size() +
         r.object_type.size() + r.predicate.size() + r.source_id.size();
}

size_t entity_bytes(std::string_view id, std::string_view type, std::string_view name) {
  return 8 + id.size() + 8 + type.size() + 8 + name.size() + 8 + 8;
}

void load_entities(Env& e, const std::vector<Row>& rows, bool bulk, Counts& n) {
  std::unordered_map<std::string_view, std::pair<std::string_view, std::string_view>> ents;
  for (auto& r : rows) {
    ents.try_emplace(r.subject, r.subject_type, r.subject_name);
    ents.try_emplace(r.object, r.object_type, r.object_name);
  }
  Batch b[kDbCount];
  MDB_txn* txn;
  check(mdb_txn_begin(e.env, nullptr, 0, &txn), "begin entities");
  std::vector<std::string_view> ids;
  for (auto& [id, _] : ents) ids.push_back(id);
  std::sort(ids.begin(), ids.end());
  for (auto id : ids) {  // the upsert looks each entity up first
    MDB_val key = val(id), cur;
    int rc = mdb_get(txn, e.dbi[kEntities], &key, &cur);
    ++n.gets;
    if (rc != MDB_NOTFOUND && rc != MDB_SUCCESS) die("get entity", rc);
  }
  for (auto& [id, tn] : ents) {
    auto [type, name] = tn;
    b[kEntities].puts.emplace_back(std::string(id), std::string(entity_bytes(id, type, name), 'e'));
    b[kEntityTypeIdx].puts.emplace_back(std::string(type), std::string(id));
    std::unordered_set<std::string> seen;
    for (std::string_view text : {std::string_view(name), std::string_view(id)})
      for (auto& t : tokens(text))
        if (seen.insert(t).second) b[kText].puts.emplace_back(t, std::string(id));
    if (!bulk) b[kEntityType].incs.emplace_back(std::string(type), NAN);
  }
  for (int d = 0; d < kDbCount; ++d) write_batch(txn, e.dbi[d], b[d], n, false);
  check(mdb_txn_commit(txn), "commit entities");
}

void load_claims(Env& e, const std::vector<Row>& rows, bool bulk, size_t claim_bytes, Counts& n) {
  const std::string filler(claim_bytes, 'c');
  Batch b[kDbCount];
  uint64_t seq = 0;
  for (size_t start = 0; start < rows.size(); start += kChunk) {
    size_t end = std::min(rows.size(), start + kChunk);
    MDB_txn* txn;
    check(mdb_txn_begin(e.env, nullptr, 0, &txn), "begin claims");
    std::vector<std::string_view> ids;
    for (size_t i = start; i < end; ++i) ids.push_back(rows[i].claim_id);
    std::sort(ids.begin(), ids.end());
    for (auto id : ids) {  // duplicate check against claim_id_idx
      MDB_val key = val(id), cur;
      int rc = mdb_get(txn, e.dbi[kClaimId], &key, &cur);
      ++n.gets;
      if (rc != MDB_NOTFOUND && rc != MDB_SUCCESS) die("get claim_id", rc);
    }
    for (size_t i = start; i < end; ++i, ++seq) {
      const Row& r = rows[i];
      std::string s = be64(seq);
      b[kClaims].puts.emplace_back(s, filler);
      b[kClaimId].puts.emplace_back(r.claim_id, s);
      b[kContent].puts.emplace_back(r.content_id, s);
      b[kEntityClaims].puts.emplace_back(r.subject, s);
      bool distinct = r.object != r.subject && r.object.size() <= 490;
      if (distinct) {
        b[kEntityClaims].puts.emplace_back(r.object, s);
        b[kAdjacency].puts.emplace_back(r.subject, r.object);
        b[kAdjacency].puts.emplace_back(r.object, r.subject);
      }
      if (kCausalPredicates.count(r.predicate) && r.object.size() <= 490)
        b[kCausal].puts.emplace_back(join({r.subject, r.predicate}), r.object);
      b[kTimestamp].puts.emplace_back(be64(static_cast<uint64_t>(r.timestamp)), s);
      b[kSource].puts.emplace_back(r.source_id, s);
      b[kPredicate].puts.emplace_back(r.predicate, s);
      if (!r.ns.empty()) b[kNamespace].puts.emplace_back(r.ns, s);
      if (bulk) continue;
      b[kPredType].incs.emplace_back(r.predicate_type, NAN);
      b[kPredId].incs.emplace_back(r.predicate, NAN);
      b[kSrcType].incs.emplace_back(r.source_type, NAN);
      b[kSummaries].puts.emplace_back(s, std::string(summary_bytes(r), 's'));
      b[kEntityPred].incs.emplace_back(join({r.subject, r.predicate}), NAN);
      b[kEntitySrc].incs.emplace_back(join({r.subject, r.source_id}), r.confidence);
      if (r.object != r.subject) {
        b[kEntityPred].incs.emplace_back(join({r.object, r.predicate}), NAN);
        b[kEntitySrc].incs.emplace_back(join({r.object, r.source_id}), r.confidence);
      }
      b[kPredPair].incs.emplace_back(join({r.predicate, r.subject, r.object}), r.confidence);
    }
    for (int d = 0; d < kDbCount; ++d) write_batch(txn, e.dbi[d], b[d], n, d == kClaims || d == kSummaries);
    check(mdb_txn_commit(txn), "commit claims");
  }
}

int load(const char* tsv, const char* dir, std::string_view mode, size_t claim_bytes) {
  bool bulk = mode == "bulk";
  auto t0 = std::chrono::steady_clock::now();
  auto rows = read_rows(tsv);
  auto t1 = std::chrono::steady_clock::now();
  Env e;
  open_env(e, dir, false);
  Counts n;
  auto t2 = std::chrono::steady_clock::now();
  load_entities(e, rows, bulk, n);
  load_claims(e, rows, bulk, claim_bytes, n);
  auto t3 = std::chrono::steady_clock::now();
  auto secs = [](auto a, auto b) { return std::chrono::duration<double>(b - a).count(); };
  std::printf("{\"claims\": %zu, \"seconds\": %.6f, \"read_seconds\": %.6f, \"gets\": %llu, \"puts\": %llu}\n",
              rows.size(), secs(t2, t3), secs(t0, t1), static_cast<unsigned long long>(n.gets),
              static_cast<unsigned long long>(n.puts));
  return 0;
}

int measure(const char* dir) {
  Env e;
  open_env(e, dir, true);
  MDB_txn* txn;
  check(mdb_txn_begin(e.env, nullptr, MDB_RDONLY, &txn), "begin");
  double mean[2] = {0, 0};
  uint64_t count[2] = {0, 0};
  int dbs[2] = {kClaims, kSummaries};
  for (int i = 0; i < 2; ++i) {
    MDB_cursor* c;
    if (mdb_cursor_open(txn, e.dbi[dbs[i]], &c) != MDB_SUCCESS) continue;
    MDB_val k, v;
    uint64_t total = 0;
    for (int rc = mdb_cursor_get(c, &k, &v, MDB_FIRST); rc == MDB_SUCCESS; rc = mdb_cursor_get(c, &k, &v, MDB_NEXT))
      total += v.mv_size, ++count[i];
    mdb_cursor_close(c);
    if (count[i]) mean[i] = static_cast<double>(total) / static_cast<double>(count[i]);
  }
  mdb_txn_abort(txn);
  std::printf("{\"claims\": %llu, \"claim_bytes\": %.1f, \"summaries\": %llu, \"summary_bytes\": %.1f}\n",
              static_cast<unsigned long long>(count[0]), mean[0], static_cast<unsigned long long>(count[1]), mean[1]);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 6 && std::string_view(argv[1]) == "load")
    return load(argv[2], argv[3], argv[4], std::strtoull(argv[5], nullptr, 10));
  if (argc == 3 && std::string_view(argv[1]) == "measure") return measure(argv[2]);
  std::fprintf(stderr, "usage: lmdb_floor load DATA_TSV STORE_DIR normal|bulk CLAIM_BYTES\n"
                       "       lmdb_floor measure STORE_DIR\n");
  return 2;
}
