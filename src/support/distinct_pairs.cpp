// The fingerprint store's table of distinct pairs: two fingerprint identities a person
// has said are not duplicates of each other, smaller identity first. The table is made
// on first use, so a store stays readable by builds that do not know it.
#include <sqlite3.h>

#include <string>
#include <utility>

#include "support/fingerprint_store.h"

namespace twintone {
namespace {

constexpr char kCreateTable[] =
    "CREATE TABLE IF NOT EXISTS distinct_pairs("
    "  a INTEGER NOT NULL, b INTEGER NOT NULL, PRIMARY KEY(a, b)) WITHOUT ROWID";

// Finalizes a statement at scope exit.
class OwnedStatement {
 public:
  OwnedStatement(sqlite3* pDb, const char* pszSql) {
    if (sqlite3_prepare_v2(pDb, pszSql, -1, &pStmt_, nullptr) != SQLITE_OK) pStmt_ = nullptr;
  }
  ~OwnedStatement() { sqlite3_finalize(pStmt_); }
  OwnedStatement(const OwnedStatement&) = delete;
  OwnedStatement& operator=(const OwnedStatement&) = delete;
  sqlite3_stmt* get() const { return pStmt_; }

 private:
  sqlite3_stmt* pStmt_ = nullptr;
};

// Binds the pair, smaller identity first, as ?1 and ?2 (SQLite keeps the 64 bits as a
// signed integer).
void BindPair(sqlite3_stmt* pStmt, uint64_t nA, uint64_t nB) {
  if (nB < nA) std::swap(nA, nB);
  sqlite3_bind_int64(pStmt, 1, static_cast<int64_t>(nA));
  sqlite3_bind_int64(pStmt, 2, static_cast<int64_t>(nB));
}

}  // namespace

uint64_t FingerprintIdentity(const int32_t* pWords, int nWords) {
  uint64_t nHash = 14695981039346656037ull;
  for (int i = 0; i < nWords; ++i) {
    uint32_t nWord = static_cast<uint32_t>(pWords[i]);
    for (int nShift = 0; nShift < 32; nShift += 8) {
      nHash ^= (nWord >> nShift) & 0xffu;
      nHash *= 1099511628211ull;
    }
  }
  return nHash;
}

int FingerprintStore::DistinctTableLocked(bool bCreate) {
  if (pDb_ == nullptr || bFailed_) return -1;
  if (bCreate) {
    if (sqlite3_exec(pDb_, kCreateTable, nullptr, nullptr, nullptr) == SQLITE_OK) return 1;
  } else {
    OwnedStatement find(pDb_,
                        "SELECT 1 FROM sqlite_master WHERE type = 'table' AND "
                        "name = 'distinct_pairs'");
    int nResult = find.get() != nullptr ? sqlite3_step(find.get()) : SQLITE_ERROR;
    if (nResult == SQLITE_ROW) return 1;
    if (nResult == SQLITE_DONE) return 0;
  }
  FailLocked(sqlite3_errmsg(pDb_));
  return -1;
}

bool FingerprintStore::MarkDistinct(uint64_t nA, uint64_t nB) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (DistinctTableLocked(true) < 1) return false;
  OwnedStatement insert(pDb_, "INSERT OR IGNORE INTO distinct_pairs(a, b) VALUES(?1, ?2)");
  if (insert.get() != nullptr) {
    BindPair(insert.get(), nA, nB);
    if (sqlite3_step(insert.get()) == SQLITE_DONE) return true;
  }
  FailLocked(sqlite3_errmsg(pDb_));
  return false;
}

int FingerprintStore::IsDistinct(uint64_t nA, uint64_t nB) {
  std::lock_guard<std::mutex> lock(mutex_);
  int nTable = DistinctTableLocked(false);
  if (nTable < 1) return nTable;
  OwnedStatement find(pDb_, "SELECT 1 FROM distinct_pairs WHERE a = ?1 AND b = ?2");
  if (find.get() != nullptr) {
    BindPair(find.get(), nA, nB);
    int nResult = sqlite3_step(find.get());
    if (nResult == SQLITE_ROW) return 1;
    if (nResult == SQLITE_DONE) return 0;
  }
  FailLocked(sqlite3_errmsg(pDb_));
  return -1;
}

int FingerprintStore::ForgetDistinct() {
  std::lock_guard<std::mutex> lock(mutex_);
  int nTable = DistinctTableLocked(false);
  if (nTable < 1) return nTable;
  if (sqlite3_exec(pDb_, "DELETE FROM distinct_pairs", nullptr, nullptr, nullptr) == SQLITE_OK) {
    return sqlite3_changes(pDb_);
  }
  FailLocked(sqlite3_errmsg(pDb_));
  return -1;
}

int FingerprintStore::DistinctCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  int nTable = DistinctTableLocked(false);
  if (nTable < 1) return nTable;
  OwnedStatement count(pDb_, "SELECT count(*) FROM distinct_pairs");
  if (count.get() != nullptr && sqlite3_step(count.get()) == SQLITE_ROW) {
    return sqlite3_column_int(count.get(), 0);
  }
  FailLocked(sqlite3_errmsg(pDb_));
  return -1;
}

}  // namespace twintone
