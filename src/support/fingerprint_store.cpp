#include "support/fingerprint_store.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "support/store_file_check.h"
#include "support/word_codec.h"

namespace twintone {
namespace {

// How long a write waits for another process's transaction before it gives up.
constexpr int kBusyTimeoutMs = 30000;
// A batch is written once it holds this many entries, or is this old.
constexpr size_t kBatchEntries = 64;
constexpr auto kBatchAge = std::chrono::seconds(2);

// The entry table of the current schema, one entry per path and seconds, and the
// application id that marks the file as a store.
constexpr char kEntryTable[] =
    "CREATE TABLE fingerprints("
    "  path BLOB NOT NULL,"
    "  size INTEGER NOT NULL, mtime_ns INTEGER NOT NULL,"
    "  device INTEGER NOT NULL, inode INTEGER NOT NULL,"
    "  ends_hash INTEGER NOT NULL,"
    "  seconds INTEGER NOT NULL, version TEXT NOT NULL,"
    "  decoded_ms INTEGER NOT NULL, words BLOB NOT NULL,"
    "  PRIMARY KEY(path, seconds));"
    "CREATE INDEX fingerprints_by_content ON fingerprints(size, mtime_ns);"
    "PRAGMA application_id = 1417105012;";
static_assert(kStoreApplicationId == 1417105012, "kEntryTable writes the application id");

// A schema change: the statements that bring a store from the version before nVersion
// to nVersion, or (nVersion 0) make a new store at kStoreSchemaVersion.
struct Migration {
  int nVersion;
  const char* pszSql[3];
};
constexpr Migration kNewStore = {0,
                                 {"CREATE TABLE store_version(version INTEGER NOT NULL);"
                                  "INSERT INTO store_version(version) VALUES(0);",
                                  kEntryTable}};
constexpr Migration kMigrations[] = {
    // Version 1 kept one entry per path, the last seconds fingerprinted.
    {2,
     {"ALTER TABLE fingerprints RENAME TO fingerprints_v1;"
      "DROP INDEX fingerprints_by_content;",
      kEntryTable,
      "INSERT INTO fingerprints(path, size, mtime_ns, device, inode, ends_hash, seconds, "
      "version, decoded_ms, words) SELECT path, size, mtime_ns, device, inode, ends_hash, "
      "seconds, version, decoded_ms, words FROM fingerprints_v1;"
      "DROP TABLE fingerprints_v1;"}},
};

struct StatementFinalize {
  void operator()(sqlite3_stmt* pStmt) const { sqlite3_finalize(pStmt); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalize>;

Statement Prepare(sqlite3* pDb, const char* pszSql) {
  sqlite3_stmt* pStmt = nullptr;
  if (sqlite3_prepare_v2(pDb, pszSql, -1, &pStmt, nullptr) != SQLITE_OK) return nullptr;
  return Statement(pStmt);
}

// Resets a statement and its bindings at scope exit, so it is ready for reuse.
class StatementUse {
 public:
  explicit StatementUse(sqlite3_stmt* pStmt) : pStmt_(pStmt) {}
  ~StatementUse() {
    sqlite3_reset(pStmt_);
    sqlite3_clear_bindings(pStmt_);
  }
  StatementUse(const StatementUse&) = delete;
  StatementUse& operator=(const StatementUse&) = delete;

 private:
  sqlite3_stmt* pStmt_;
};

void BindPath(sqlite3_stmt* pStmt, int nIndex, const std::string& strPath) {
  sqlite3_bind_blob(pStmt, nIndex, strPath.data(), static_cast<int>(strPath.size()),
                    SQLITE_TRANSIENT);
}

std::string ColumnBytes(sqlite3_stmt* pStmt, int nColumn) {
  const void* pData = sqlite3_column_blob(pStmt, nColumn);
  int nBytes = sqlite3_column_bytes(pStmt, nColumn);
  return pData == nullptr ? std::string() : std::string(static_cast<const char*>(pData), nBytes);
}

// What an error at open means for the caller: a file that is no database or is
// damaged, or one that cannot be used (permissions, read-only, full disk).
int OpenCodeFor(int nSqliteResult) {
  int nPrimary = nSqliteResult & 0xff;
  return nPrimary == SQLITE_NOTADB || nPrimary == SQLITE_CORRUPT ? kStoreDamaged : kStoreCannotOpen;
}

// Whether the file an entry was stored for has left strOldPath, so its entry may go
// to the file now at another path. storedAt is the entry's identity; now is that of the
// file it would go to, with the same size and time. A file with the entry's device
// and inode is that very file, renamed, unless it is still at the old path too (a hard
// link). Any other file only resembles it, so the entry goes to it only when the old
// path holds nothing like it any more: nothing at all, or a file of another size or
// time. When the old path cannot be looked at, it may still hold the file.
bool LeftOldPath(const std::string& strOldPath, const FileIdentity& storedAt,
                 const FileIdentity& now) {
  FileIdentity there;
  if (!ReadFileIdentity(strOldPath.c_str(), &there)) {
    struct stat st;  // gone, or no regular file now: left; unreadable: maybe not
    return stat(strOldPath.c_str(), &st) == 0 || errno == ENOENT || errno == ENOTDIR;
  }
  if (storedAt.nDevice == now.nDevice && storedAt.nInode == now.nInode) {
    return there.nDevice != now.nDevice || there.nInode != now.nInode;
  }
  return there.nSize != storedAt.nSize || there.nMtimeNs != storedAt.nMtimeNs;
}

}  // namespace

struct FingerprintStore::Statements {
  Statement findByPath;
  Statement findMoved;
  Statement insert;
  Statement dropMoved;
};

FingerprintStore::FingerprintStore(std::string strVersion) : strVersion_(std::move(strVersion)) {}

FingerprintStore::~FingerprintStore() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (pDb_ != nullptr && !bFailed_) FlushLocked();
  pStatements_.reset();
  pQuality_.reset();
  if (pDb_ != nullptr) sqlite3_close_v2(pDb_);
}

int FingerprintStore::Open(const std::string& strPath) {
  std::lock_guard<std::mutex> lock(mutex_);
  strPath_ = strPath;
  lastFlush_ = std::chrono::steady_clock::now();
  auto fail = [this](int nCode) {
    strMessage_ = "fingerprint store " + strPath_ + ": " + strMessage_;
    bFailed_ = true;
    return nCode;
  };
  // What is there decides before anything is opened for writing.
  bool bAbsent = false;
  int nResult = CheckStoreFile(strPath, kStoreSchemaVersion, &bAbsent, &strMessage_);
  if (nResult == kStoreOk && bAbsent) {
    nResult = CreateLocked(strPath);
    if (nResult == kStoreOk) {
      nResult = CheckStoreFile(strPath, kStoreSchemaVersion, &bAbsent, &strMessage_);
    }
  }
  if (nResult != kStoreOk) return fail(nResult);
  nResult = OpenDatabaseLocked(strPath, true);
  if (nResult != kStoreOk) return fail(nResult);

  pStatements_ = std::make_unique<Statements>();
  pStatements_->findByPath =
      Prepare(pDb_,
              "SELECT words, decoded_ms FROM fingerprints WHERE path = ?1 AND size = ?2 AND "
              "mtime_ns = ?3 AND device = ?4 AND inode = ?5 AND seconds = ?6 AND version = ?7");
  pStatements_->findMoved =
      Prepare(pDb_,
              "SELECT path, device, inode, ends_hash, words, decoded_ms FROM fingerprints "
              "WHERE size = ?1 AND mtime_ns = ?2 AND seconds = ?3 AND version = ?4 AND "
              "path <> ?5");
  pStatements_->insert = Prepare(
      pDb_,
      "INSERT OR REPLACE INTO fingerprints(path, size, mtime_ns, device, inode, ends_hash, "
      "seconds, version, decoded_ms, words) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)");
  pStatements_->dropMoved =
      Prepare(pDb_,
              "DELETE FROM fingerprints WHERE path = ?1 AND seconds = ?2 AND device = ?3 AND "
              "inode = ?4 AND size = ?5 AND mtime_ns = ?6");
  if (!pStatements_->findByPath || !pStatements_->findMoved || !pStatements_->insert ||
      !pStatements_->dropMoved) {
    strMessage_ = std::string("is damaged (") + sqlite3_errmsg(pDb_) + ")";
    pStatements_.reset();
    sqlite3_close_v2(pDb_);
    pDb_ = nullptr;
    return fail(kStoreDamaged);
  }
  return kStoreOk;
}

// Under mutex_. A new store is built beside strPath and moved there whole, so the
// path never shows a store half made (a kill during the build leaves only the file
// beside it). It is built with a rollback journal, so every commit is in the file
// itself when it moves; its first open as a store switches it to the write-ahead log.
// When another process put a store there first, that one is used.
int FingerprintStore::CreateLocked(const std::string& strPath) {
  std::string strBuild = MakeStoreBuildFile(strPath);
  if (strBuild.empty()) {
    strMessage_ = std::string("cannot be created (") + strerror(errno) + ")";
    return kStoreCannotOpen;
  }
  int nResult = OpenDatabaseLocked(strBuild, false);
  if (nResult != kStoreOk) {
    DiscardStoreBuildFile(strBuild);
    return nResult;
  }
  sqlite3_close_v2(pDb_);
  pDb_ = nullptr;
  int nError = PlaceStoreFile(strBuild, strPath);
  if (nError != 0 && nError != EEXIST) {
    strMessage_ = std::string("cannot be created (") + strerror(nError) + ")";
    return kStoreCannotOpen;
  }
  return kStoreOk;
}

int FingerprintStore::OpenDatabaseLocked(const std::string& strPath, bool bWal) {
  int nResult =
      sqlite3_open_v2(strPath.c_str(), &pDb_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  auto fail = [this](int nCode, const std::string& strWhat) {
    strMessage_ = strWhat;
    sqlite3_close_v2(pDb_);
    pDb_ = nullptr;
    return nCode;
  };
  if (nResult != SQLITE_OK) {
    return fail(kStoreCannotOpen,
                std::string("cannot be opened or created (") +
                    (pDb_ != nullptr ? sqlite3_errmsg(pDb_) : sqlite3_errstr(nResult)) + ")");
  }
  sqlite3_extended_result_codes(pDb_, 1);
  sqlite3_busy_timeout(pDb_, kBusyTimeoutMs);
  if (sqlite3_db_readonly(pDb_, "main") == 1) {
    return fail(kStoreCannotOpen, "is read-only, so it cannot be used");
  }

  // quick_check reads every page once, so damage shows now and not in the middle of a
  // run.
  for (const char* pszPragma :
       {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=NORMAL", "PRAGMA quick_check"}) {
    if (!bWal && std::string(pszPragma) != "PRAGMA quick_check") continue;
    Statement stmt = Prepare(pDb_, pszPragma);
    nResult = stmt ? sqlite3_step(stmt.get()) : sqlite3_errcode(pDb_);
    if (nResult != SQLITE_ROW && nResult != SQLITE_DONE) {
      int nCode = OpenCodeFor(nResult);
      return fail(nCode, nCode == kStoreDamaged
                             ? std::string("is not a fingerprint store or is damaged (") +
                                   sqlite3_errmsg(pDb_) + ")"
                             : std::string("cannot be used (") + sqlite3_errmsg(pDb_) + ")");
    }
    std::string strAnswer = nResult == SQLITE_ROW ? ColumnBytes(stmt.get(), 0) : "";
    if (std::string(pszPragma) == "PRAGMA journal_mode=WAL" && strAnswer != "wal") {
      return fail(kStoreCannotOpen,
                  "cannot use a write-ahead log (journal mode " + strAnswer + ")");
    }
    if (std::string(pszPragma) == "PRAGMA quick_check" && strAnswer != "ok") {
      return fail(kStoreDamaged, "is damaged (" + strAnswer + ")");
    }
  }

  int nMigrated = kStoreOk;
  if (!MigrateLocked(&nMigrated)) return fail(nMigrated, strMessage_);

  OpenQualityLocked();
  return kStoreOk;
}

// Under mutex_, on an open database. On failure leaves the open code in *pnResult
// and the reason in strMessage_.
bool FingerprintStore::MigrateLocked(int* pnResult) {
  auto exec = [this](const char* pszSql) {
    return sqlite3_exec(pDb_, pszSql, nullptr, nullptr, nullptr);
  };
  auto failed = [&](int nCode, const std::string& strWhat) {
    exec("ROLLBACK");
    *pnResult = nCode;
    strMessage_ = strWhat;
    return false;
  };
  int nResult = exec("BEGIN IMMEDIATE");
  if (nResult != SQLITE_OK) {
    return failed(OpenCodeFor(nResult),
                  std::string("cannot be used (") + sqlite3_errmsg(pDb_) + ")");
  }

  int nVersion = 0;
  Statement tables = Prepare(pDb_, "SELECT name FROM sqlite_master WHERE type = 'table'");
  if (!tables)
    return failed(kStoreDamaged, std::string("is damaged (") + sqlite3_errmsg(pDb_) + ")");
  bool bAnyTable = false, bVersioned = false;
  while (sqlite3_step(tables.get()) == SQLITE_ROW) {
    bAnyTable = true;
    if (ColumnBytes(tables.get(), 0) == "store_version") bVersioned = true;
  }
  if (bAnyTable && !bVersioned) {
    return failed(kStoreDamaged, "is an SQLite database but not a fingerprint store");
  }
  if (bVersioned) {
    Statement version = Prepare(pDb_, "SELECT version FROM store_version");
    if (!version || sqlite3_step(version.get()) != SQLITE_ROW) {
      return failed(kStoreDamaged, "is damaged (no schema version)");
    }
    nVersion = sqlite3_column_int(version.get(), 0);
  }
  if (nVersion > kStoreSchemaVersion) {
    return failed(kStoreNewer, "was written by a newer twintone (schema " +
                                   std::to_string(nVersion) + ", this one knows up to " +
                                   std::to_string(kStoreSchemaVersion) + ")");
  }
  auto apply = [&](const Migration& step) {
    for (const char* pszSql : step.pszSql) {
      if (pszSql != nullptr && (nResult = exec(pszSql)) != SQLITE_OK) return false;
    }
    return true;
  };
  bool bApplied = true;
  if (!bVersioned) {
    bApplied = apply(kNewStore);
    nVersion = kStoreSchemaVersion;
  }
  for (const Migration& step : kMigrations) {
    if (!bApplied || step.nVersion <= nVersion) continue;
    bApplied = apply(step);
    nVersion = step.nVersion;
  }
  if (!bApplied) {
    return failed(OpenCodeFor(nResult),
                  std::string("cannot be brought up to date (") + sqlite3_errmsg(pDb_) + ")");
  }
  std::string strSet = "UPDATE store_version SET version = " + std::to_string(nVersion);
  nResult = exec(strSet.c_str());
  if (nResult == SQLITE_OK) nResult = exec("COMMIT");
  if (nResult != SQLITE_OK) {
    return failed(OpenCodeFor(nResult),
                  std::string("cannot be written (") + sqlite3_errmsg(pDb_) + ")");
  }
  return true;
}

void FingerprintStore::FailLocked(const std::string& strWhat) {
  if (bFailed_) return;
  bFailed_ = true;
  strMessage_ = "fingerprint store " + strPath_ + " failed (" + strWhat + "); going on without it";
  vecPending_.clear();
}

bool FingerprintStore::Find(const std::string& strPath, const FileIdentity& identity, int nSeconds,
                            StoredFingerprint* pFound) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (pDb_ == nullptr || bFailed_) return false;
  bool bFound = FindByPathLocked(strPath, identity, nSeconds, pFound) ||
                FindMovedLocked(strPath, identity, nSeconds, pFound);
  if (bFound) ++nReused_;
  return bFound;
}

bool FingerprintStore::FindByPathLocked(const std::string& strPath, const FileIdentity& identity,
                                        int nSeconds, StoredFingerprint* pFound) {
  sqlite3_stmt* pStmt = pStatements_->findByPath.get();
  StatementUse use(pStmt);
  BindPath(pStmt, 1, strPath);
  sqlite3_bind_int64(pStmt, 2, identity.nSize);
  sqlite3_bind_int64(pStmt, 3, identity.nMtimeNs);
  sqlite3_bind_int64(pStmt, 4, static_cast<int64_t>(identity.nDevice));
  sqlite3_bind_int64(pStmt, 5, static_cast<int64_t>(identity.nInode));
  sqlite3_bind_int(pStmt, 6, nSeconds);
  sqlite3_bind_text(pStmt, 7, strVersion_.c_str(), -1, SQLITE_STATIC);
  int nResult = sqlite3_step(pStmt);
  if (nResult == SQLITE_DONE) return false;
  if (nResult != SQLITE_ROW) {
    FailLocked(sqlite3_errmsg(pDb_));
    return false;
  }
  if (!DecodeWords(ColumnBytes(pStmt, 0), &pFound->vecWords) || pFound->vecWords.empty()) {
    return false;  // a damaged entry: the fresh fingerprint replaces it
  }
  pFound->nDecodedMs = sqlite3_column_int(pStmt, 1);
  return true;
}

// An entry of another path with the file's size, time, seconds, version and end hash
// is the file's own when the file it was stored for has left that path (LeftOldPath)
// and it was not lent to another file in this run. Among several, one stored for the
// file's own device and inode wins; otherwise they must all hold the same words, as
// copies of one file do: entries that differ leave it open which one this file is.
bool FingerprintStore::FindMovedLocked(const std::string& strPath, const FileIdentity& identity,
                                       int nSeconds, StoredFingerprint* pFound) {
  sqlite3_stmt* pStmt = pStatements_->findMoved.get();
  StatementUse use(pStmt);
  sqlite3_bind_int64(pStmt, 1, identity.nSize);
  sqlite3_bind_int64(pStmt, 2, identity.nMtimeNs);
  sqlite3_bind_int(pStmt, 3, nSeconds);
  sqlite3_bind_text(pStmt, 4, strVersion_.c_str(), -1, SQLITE_STATIC);
  BindPath(pStmt, 5, strPath);
  bool bHashed = false;
  uint64_t nHash = 0;
  Pending chosen;
  bool bChosen = false, bAmbiguous = false;
  int nResult;
  while ((nResult = sqlite3_step(pStmt)) == SQLITE_ROW) {
    // Only a file with a candidate of its size and time is read for its hash.
    if (!bHashed) {
      if (!HashFileEnds(strPath.c_str(), identity, &nHash)) return false;
      bHashed = true;
    }
    if (static_cast<uint64_t>(sqlite3_column_int64(pStmt, 3)) != nHash) continue;
    std::string strOld = ColumnBytes(pStmt, 0);
    auto lent = mapLent_.find({strOld, nSeconds});
    if (lent != mapLent_.end() && lent->second != strPath) continue;
    FileIdentity storedAt = identity;
    storedAt.nDevice = static_cast<uint64_t>(sqlite3_column_int64(pStmt, 1));
    storedAt.nInode = static_cast<uint64_t>(sqlite3_column_int64(pStmt, 2));
    if (!LeftOldPath(strOld, storedAt, identity)) continue;
    bool bSameFile = storedAt.nDevice == identity.nDevice && storedAt.nInode == identity.nInode;
    std::string strWords = ColumnBytes(pStmt, 4);
    if (bChosen && !bSameFile) {
      bAmbiguous = bAmbiguous || strWords != chosen.strWords;
      continue;
    }
    chosen = Pending{strPath,
                     identity,
                     nHash,
                     nSeconds,
                     std::move(strWords),
                     sqlite3_column_int(pStmt, 5),
                     strOld,
                     storedAt.nDevice,
                     storedAt.nInode};
    bChosen = true;
    if (bSameFile) {
      bAmbiguous = false;
      break;
    }
  }
  if (nResult != SQLITE_DONE && nResult != SQLITE_ROW) {
    FailLocked(sqlite3_errmsg(pDb_));
    return false;
  }
  if (!bChosen || bAmbiguous) return false;
  if (!DecodeWords(chosen.strWords, &pFound->vecWords) || pFound->vecWords.empty()) return false;
  pFound->nDecodedMs = chosen.nDecodedMs;
  mapLent_[{chosen.strMovedFrom, nSeconds}] = strPath;
  vecPending_.push_back(std::move(chosen));
  return true;
}

void FingerprintStore::Remember(const std::string& strPath, const FileIdentity& identity,
                                int nSeconds, const uint32_t* pWords, size_t nWords,
                                int32_t nDecodedMs) {
  if (nWords == 0 || Failed()) return;
  // The hash is read with the identity checked again: a file that changed while it
  // was decoded is not filed under the identity it had before.
  uint64_t nHash = 0;
  if (!HashFileEnds(strPath.c_str(), identity, &nHash)) return;
  Pending entry{strPath,    identity, nHash, nSeconds, EncodeWords(pWords, nWords),
                nDecodedMs, {},       0,     0};

  std::lock_guard<std::mutex> lock(mutex_);
  if (pDb_ == nullptr || bFailed_) return;
  vecPending_.push_back(std::move(entry));
  if (vecPending_.size() >= kBatchEntries ||
      std::chrono::steady_clock::now() - lastFlush_ >= kBatchAge) {
    FlushLocked();
  }
}

bool FingerprintStore::Flush() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (pDb_ == nullptr || bFailed_) return false;
  return FlushLocked();
}

bool FingerprintStore::FlushLocked() {
  lastFlush_ = std::chrono::steady_clock::now();
  if (vecPending_.empty()) return true;
  if (sqlite3_exec(pDb_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
    FailLocked(sqlite3_errmsg(pDb_));
    return false;
  }
  sqlite3_stmt* pStmt = pStatements_->insert.get();
  for (const Pending& entry : vecPending_) {
    StatementUse use(pStmt);
    BindPath(pStmt, 1, entry.strPath);
    sqlite3_bind_int64(pStmt, 2, entry.identity.nSize);
    sqlite3_bind_int64(pStmt, 3, entry.identity.nMtimeNs);
    sqlite3_bind_int64(pStmt, 4, static_cast<int64_t>(entry.identity.nDevice));
    sqlite3_bind_int64(pStmt, 5, static_cast<int64_t>(entry.identity.nInode));
    sqlite3_bind_int64(pStmt, 6, static_cast<int64_t>(entry.nHash));
    sqlite3_bind_int(pStmt, 7, entry.nSeconds);
    sqlite3_bind_text(pStmt, 8, strVersion_.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_int(pStmt, 9, entry.nDecodedMs);
    sqlite3_bind_blob(pStmt, 10, entry.strWords.data(), static_cast<int>(entry.strWords.size()),
                      SQLITE_STATIC);
    bool bWritten = sqlite3_step(pStmt) == SQLITE_DONE;
    if (bWritten && !entry.strMovedFrom.empty()) {
      // The old path's entry goes, unless a fresh one has replaced it meanwhile.
      sqlite3_stmt* pDrop = pStatements_->dropMoved.get();
      StatementUse dropUse(pDrop);
      BindPath(pDrop, 1, entry.strMovedFrom);
      sqlite3_bind_int(pDrop, 2, entry.nSeconds);
      sqlite3_bind_int64(pDrop, 3, static_cast<int64_t>(entry.nMovedDevice));
      sqlite3_bind_int64(pDrop, 4, static_cast<int64_t>(entry.nMovedInode));
      sqlite3_bind_int64(pDrop, 5, entry.identity.nSize);
      sqlite3_bind_int64(pDrop, 6, entry.identity.nMtimeNs);
      bWritten = sqlite3_step(pDrop) == SQLITE_DONE;
    }
    if (!bWritten) {
      std::string strWhat = sqlite3_errmsg(pDb_);
      sqlite3_exec(pDb_, "ROLLBACK", nullptr, nullptr, nullptr);
      FailLocked(strWhat);
      return false;
    }
  }
  if (sqlite3_exec(pDb_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
    std::string strWhat = sqlite3_errmsg(pDb_);
    sqlite3_exec(pDb_, "ROLLBACK", nullptr, nullptr, nullptr);
    FailLocked(strWhat);
    return false;
  }
  nWritten_ += static_cast<int>(vecPending_.size());
  vecPending_.clear();
  return true;
}

int FingerprintStore::Prune() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (pDb_ == nullptr || bFailed_ || !FlushLocked()) return -1;
  std::vector<std::string> vecGone;
  {
    Statement paths = Prepare(pDb_, "SELECT DISTINCT path FROM fingerprints");
    if (!paths) {
      FailLocked(sqlite3_errmsg(pDb_));
      return -1;
    }
    int nResult;
    while ((nResult = sqlite3_step(paths.get())) == SQLITE_ROW) {
      std::string strPath = ColumnBytes(paths.get(), 0);
      struct stat st;
      if (stat(strPath.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR)) {
        vecGone.push_back(std::move(strPath));
      }
    }
    if (nResult != SQLITE_DONE) {
      FailLocked(sqlite3_errmsg(pDb_));
      return -1;
    }
  }
  // Every seconds value of a gone file goes.
  Statement drop = Prepare(pDb_, "DELETE FROM fingerprints WHERE path = ?1");
  if (!drop || sqlite3_exec(pDb_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
    FailLocked(sqlite3_errmsg(pDb_));
    return -1;
  }
  int nDropped = 0;
  for (const std::string& strPath : vecGone) {
    StatementUse use(drop.get());
    BindPath(drop.get(), 1, strPath);
    if (sqlite3_step(drop.get()) != SQLITE_DONE) break;
    nDropped += sqlite3_changes(pDb_);
  }
  PruneQualityLocked();
  if (sqlite3_exec(pDb_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
    std::string strWhat = sqlite3_errmsg(pDb_);
    sqlite3_exec(pDb_, "ROLLBACK", nullptr, nullptr, nullptr);
    FailLocked(strWhat);
    return -1;
  }
  return nDropped;
}

void FingerprintStore::BeginRun() {
  std::lock_guard<std::mutex> lock(mutex_);
  nReused_ = 0;
  nWritten_ = 0;
  mapLent_.clear();
}

void FingerprintStore::Counts(int* pnReused, int* pnWritten) {
  std::lock_guard<std::mutex> lock(mutex_);
  *pnReused = nReused_;
  *pnWritten = nWritten_;
}

bool FingerprintStore::Failed() {
  std::lock_guard<std::mutex> lock(mutex_);
  return bFailed_;
}

std::string FingerprintStore::Message() {
  std::lock_guard<std::mutex> lock(mutex_);
  return strMessage_;
}

void FingerprintStore::LimitPagesForTest(int nPages) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string strSql = "PRAGMA max_page_count = " + std::to_string(nPages);
  if (pDb_ != nullptr) sqlite3_exec(pDb_, strSql.c_str(), nullptr, nullptr, nullptr);
}

}  // namespace twintone
