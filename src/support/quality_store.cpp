// The fingerprint store's quality table: a file's measures under its path and stat
// identity, with the revision of the measuring. The table is made when a store is
// opened without it, so a store stays readable by builds that do not know it.
#include <sqlite3.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <vector>

#include "support/fingerprint_store.h"

namespace twintone {
namespace {

constexpr char kCreateTable[] =
    "CREATE TABLE IF NOT EXISTS quality("
    "  path BLOB PRIMARY KEY,"
    "  size INTEGER NOT NULL, mtime_ns INTEGER NOT NULL,"
    "  device INTEGER NOT NULL, inode INTEGER NOT NULL, revision INTEGER NOT NULL,"
    "  flags INTEGER NOT NULL, sample_rate INTEGER NOT NULL, channels INTEGER NOT NULL,"
    "  bandwidth_hz INTEGER NOT NULL, stereo INTEGER NOT NULL, clipped_ppm INTEGER NOT NULL,"
    "  lead_ms INTEGER NOT NULL, trail_ms INTEGER NOT NULL, measured_ms INTEGER NOT NULL)";
// The measures' columns, in QualityMeasures' order.
constexpr int kMeasureColumns = 9;
constexpr char kFind[] =
    "SELECT flags, sample_rate, channels, bandwidth_hz, stereo, clipped_ppm, lead_ms, trail_ms,"
    " measured_ms FROM quality WHERE path = ?1 AND size = ?2 AND mtime_ns = ?3 AND"
    " device = ?4 AND inode = ?5 AND revision = ?6";
constexpr char kInsert[] =
    "INSERT OR REPLACE INTO quality(path, size, mtime_ns, device, inode, revision, flags,"
    " sample_rate, channels, bandwidth_hz, stereo, clipped_ppm, lead_ms, trail_ms, measured_ms)"
    " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15)";

sqlite3_stmt* Prepare(sqlite3* pDb, const char* pszSql) {
  sqlite3_stmt* pStmt = nullptr;
  if (sqlite3_prepare_v2(pDb, pszSql, -1, &pStmt, nullptr) != SQLITE_OK) return nullptr;
  return pStmt;
}

// Resets a statement and its bindings at scope exit.
class Reset {
 public:
  explicit Reset(sqlite3_stmt* pStmt) : pStmt_(pStmt) {}
  ~Reset() {
    sqlite3_reset(pStmt_);
    sqlite3_clear_bindings(pStmt_);
  }
  Reset(const Reset&) = delete;
  Reset& operator=(const Reset&) = delete;

 private:
  sqlite3_stmt* pStmt_;
};

// Binds path, identity and revision as ?1 to ?6.
void BindKey(sqlite3_stmt* pStmt, const std::string& strPath, const FileIdentity& identity,
             int nRevision) {
  sqlite3_bind_blob(pStmt, 1, strPath.data(), static_cast<int>(strPath.size()), SQLITE_TRANSIENT);
  sqlite3_bind_int64(pStmt, 2, identity.nSize);
  sqlite3_bind_int64(pStmt, 3, identity.nMtimeNs);
  sqlite3_bind_int64(pStmt, 4, static_cast<int64_t>(identity.nDevice));
  sqlite3_bind_int64(pStmt, 5, static_cast<int64_t>(identity.nInode));
  sqlite3_bind_int(pStmt, 6, nRevision);
}

}  // namespace

struct FingerprintStore::QualityStatements {
  sqlite3_stmt* pFind = nullptr;
  sqlite3_stmt* pInsert = nullptr;
};

void FingerprintStore::QualityStatementsFree::operator()(QualityStatements* p) const {
  sqlite3_finalize(p->pFind);
  sqlite3_finalize(p->pInsert);
  delete p;
}

void FingerprintStore::OpenQualityLocked() {
  if (sqlite3_exec(pDb_, kCreateTable, nullptr, nullptr, nullptr) != SQLITE_OK) return;
  std::unique_ptr<QualityStatements, QualityStatementsFree> pQuality(new QualityStatements);
  pQuality->pFind = Prepare(pDb_, kFind);
  pQuality->pInsert = Prepare(pDb_, kInsert);
  if (pQuality->pFind != nullptr && pQuality->pInsert != nullptr) pQuality_ = std::move(pQuality);
}

bool FingerprintStore::FindQuality(const std::string& strPath, const FileIdentity& identity,
                                   int nRevision, QualityMeasures* pFound) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (pDb_ == nullptr || bFailed_ || !pQuality_) return false;
  sqlite3_stmt* pStmt = pQuality_->pFind;
  Reset reset(pStmt);
  BindKey(pStmt, strPath, identity, nRevision);
  const int nResult = sqlite3_step(pStmt);
  if (nResult != SQLITE_ROW) {
    if (nResult != SQLITE_DONE) FailLocked(sqlite3_errmsg(pDb_));
    return false;
  }
  int32_t nValues[kMeasureColumns];
  for (int i = 0; i < kMeasureColumns; ++i) nValues[i] = sqlite3_column_int(pStmt, i);
  QualityMeasures& found = *pFound;
  found.nFlags = static_cast<uint32_t>(nValues[0]);
  found.nSampleRate = nValues[1];
  found.nChannels = nValues[2];
  found.nBandwidthHz = nValues[3];
  found.nStereo = nValues[4];
  found.nClippedPpm = nValues[5];
  found.nLeadSilenceMs = nValues[6];
  found.nTrailSilenceMs = nValues[7];
  found.nMeasuredMs = nValues[8];
  return true;
}

bool FingerprintStore::RememberQualities(const std::vector<QualityEntry>& vecEntries,
                                         int nRevision) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (pDb_ == nullptr || bFailed_ || !pQuality_) return false;
  if (vecEntries.empty()) return true;
  if (sqlite3_exec(pDb_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
    FailLocked(sqlite3_errmsg(pDb_));
    return false;
  }
  sqlite3_stmt* pStmt = pQuality_->pInsert;
  bool bOk = true;
  for (const QualityEntry& entry : vecEntries) {
    Reset reset(pStmt);
    BindKey(pStmt, entry.strPath, entry.identity, nRevision);
    const QualityMeasures& m = entry.measures;
    const int32_t nValues[kMeasureColumns] = {static_cast<int32_t>(m.nFlags),
                                              m.nSampleRate,
                                              m.nChannels,
                                              m.nBandwidthHz,
                                              m.nStereo,
                                              m.nClippedPpm,
                                              m.nLeadSilenceMs,
                                              m.nTrailSilenceMs,
                                              m.nMeasuredMs};
    for (int i = 0; i < kMeasureColumns; ++i) sqlite3_bind_int(pStmt, 7 + i, nValues[i]);
    if (sqlite3_step(pStmt) != SQLITE_DONE) {
      bOk = false;
      break;
    }
  }
  if (bOk && sqlite3_exec(pDb_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK) return true;
  const std::string strWhat = sqlite3_errmsg(pDb_);
  sqlite3_exec(pDb_, "ROLLBACK", nullptr, nullptr, nullptr);
  FailLocked(strWhat);
  return false;
}

bool FingerprintStore::PruneQualityLocked() {
  if (!pQuality_) return true;
  std::vector<std::string> vecGone;
  sqlite3_stmt* pPaths = Prepare(pDb_, "SELECT path FROM quality");
  if (pPaths == nullptr) return false;
  while (sqlite3_step(pPaths) == SQLITE_ROW) {
    const void* pPath = sqlite3_column_blob(pPaths, 0);
    std::string strPath(static_cast<const char*>(pPath),
                        pPath == nullptr ? 0 : sqlite3_column_bytes(pPaths, 0));
    struct stat st;
    if (stat(strPath.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR)) {
      vecGone.push_back(std::move(strPath));
    }
  }
  sqlite3_finalize(pPaths);
  sqlite3_stmt* pDrop = Prepare(pDb_, "DELETE FROM quality WHERE path = ?1");
  bool bOk = pDrop != nullptr;
  for (size_t i = 0; bOk && i < vecGone.size(); ++i) {
    Reset reset(pDrop);
    sqlite3_bind_blob(pDrop, 1, vecGone[i].data(), static_cast<int>(vecGone[i].size()),
                      SQLITE_TRANSIENT);
    bOk = sqlite3_step(pDrop) == SQLITE_DONE;
  }
  sqlite3_finalize(pDrop);
  return bOk;
}

}  // namespace twintone
