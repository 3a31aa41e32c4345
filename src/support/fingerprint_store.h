// A persistent store of raw fingerprints in an SQLite database (WAL journal): one entry
// per file path and seconds fingerprinted, valid for the file's stat identity and a
// version text that names the decoder and fingerprint algorithm. Nothing here reads
// audio: callers hand in words and get words back.
#ifndef TWINTONE_SUPPORT_FINGERPRINT_STORE_H
#define TWINTONE_SUPPORT_FINGERPRINT_STORE_H

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "support/file_identity.h"
#include "support/quality_measures.h"

struct sqlite3;

namespace twintone {

// Results of FingerprintStore::Open; the extension header's codes.
constexpr int kStoreOk = 0;
constexpr int kStoreCannotOpen = -2;  // cannot be opened or created, or read-only
constexpr int kStoreNewer = -3;       // written by a newer schema
constexpr int kStoreDamaged = -4;     // not a store, or damaged

// A fingerprint's identity: FNV-1a 64 of its words, each as four little-endian bytes.
// Equal words give equal identities whatever the file is called or where it lies.
uint64_t FingerprintIdentity(const int32_t* pWords, int nWords);

// The schema version this build writes; older stores are migrated on open.
constexpr int kStoreSchemaVersion = 2;

struct StoredFingerprint {
  std::vector<uint32_t> vecWords;
  int32_t nDecodedMs = -1;
};

// Thread-safe: every member takes mutex_. A failure of the database after Open
// (full disk, damage, a lock held past the busy timeout) marks the store failed:
// from then on lookups miss and writes are dropped, and Message() says why.
class FingerprintStore {
 public:
  // strVersion: the decoder and fingerprint version that fresh entries carry and
  // lookups demand.
  explicit FingerprintStore(std::string strVersion);
  ~FingerprintStore();  // writes what is pending, then closes
  FingerprintStore(const FingerprintStore&) = delete;
  FingerprintStore& operator=(const FingerprintStore&) = delete;

  // Opens the store at strPath, or creates one there when nothing is, and brings its
  // schema up to date. A file that is not a store, or a store of a newer schema, is
  // refused before anything is written to it. kStoreOk, or one of the codes above
  // with Message() set. Call once.
  int Open(const std::string& strPath);

  // A new run: the counts start at zero, and no entry has been lent yet.
  void BeginRun();

  // The entry for the file at strPath as it is now (identity), fingerprinted for
  // nSeconds: by path when its identity matches, else the entry of a moved file (see
  // FindMovedLocked), which then moves to strPath. False when there is none or the
  // store failed.
  bool Find(const std::string& strPath, const FileIdentity& identity, int nSeconds,
            StoredFingerprint* pFound);

  // Files a fresh fingerprint of strPath, computed after identity was taken. Dropped
  // when the file no longer has that identity (it changed while it was decoded).
  // Entries are written in batches, each one transaction; a batch is written once it
  // is large or old enough, or by Flush.
  void Remember(const std::string& strPath, const FileIdentity& identity, int nSeconds,
                const uint32_t* pWords, size_t nWords, int32_t nDecodedMs);
  // Writes the pending batch. False when the store has failed.
  bool Flush();

  // Drops every entry (of any seconds) whose file is gone; the number of entries
  // dropped, or -1 when the store has failed.
  int Prune();

  // Entries found and entries written since the last BeginRun.
  void Counts(int* pnReused, int* pnWritten);

  bool Failed();
  // The last failure or warning, one English line; "" when none.
  std::string Message();

  // For tests: caps the database at nPages pages, so a write can meet a full disk.
  void LimitPagesForTest(int nPages);

  // Quality measures, in a table of their own keyed like the fingerprints
  // (quality_store.cpp). A store whose quality table cannot be made keeps working for
  // fingerprints; its quality lookups miss and writes are dropped.
  struct QualityEntry {
    std::string strPath;
    FileIdentity identity;  // taken before the measuring
    QualityMeasures measures;
  };
  // The measures of the file at strPath as it is now (identity), measured at
  // nRevision. False when there are none or the store failed.
  bool FindQuality(const std::string& strPath, const FileIdentity& identity, int nRevision,
                   QualityMeasures* pFound);
  // Files the entries, measured at nRevision, in one transaction. False when the
  // store has failed or fails now.
  bool RememberQualities(const std::vector<QualityEntry>& vecEntries, int nRevision);

  // Pairs of fingerprint identities (FingerprintIdentity) a person has said are not
  // duplicates, in a table of their own made on first use (distinct_pairs.cpp). A pair
  // is unordered. Each fails (false, -1) when the store has failed or fails now.
  bool MarkDistinct(uint64_t nA, uint64_t nB);
  int IsDistinct(uint64_t nA, uint64_t nB);  // 1 marked, 0 not
  int ForgetDistinct();                      // the number of pairs dropped
  int DistinctCount();

 private:
  struct Pending {
    std::string strPath;
    FileIdentity identity;
    uint64_t nHash;
    int nSeconds;
    std::string strWords;
    int32_t nDecodedMs;
    // A moved entry: the path it leaves and the device and inode it was stored with
    // (its size and time are identity's). Empty for a fresh fingerprint.
    std::string strMovedFrom;
    uint64_t nMovedDevice = 0;
    uint64_t nMovedInode = 0;
  };
  struct Statements;
  struct QualityStatements;
  struct QualityStatementsFree {
    void operator()(QualityStatements* p) const;
  };

  // Opens pDb_ on the existing file strPath (in write-ahead log mode when bWal) and
  // brings its schema up to date; on failure closes it and leaves the reason in
  // strMessage_.
  int OpenDatabaseLocked(const std::string& strPath, bool bWal);
  int CreateLocked(const std::string& strPath);
  bool FindByPathLocked(const std::string& strPath, const FileIdentity& identity, int nSeconds,
                        StoredFingerprint* pFound);
  bool FindMovedLocked(const std::string& strPath, const FileIdentity& identity, int nSeconds,
                       StoredFingerprint* pFound);
  bool FlushLocked();
  bool MigrateLocked(int* pnResult);
  // After the migration: makes the quality table if it is missing and prepares its
  // statements. Leaves pQuality_ null when it cannot.
  void OpenQualityLocked();
  // Drops the measures of files that are gone, within Prune's transaction.
  bool PruneQualityLocked();
  // Whether the distinct pairs' table is there (1) or not (0), making it first when
  // bCreate; -1, the store failed, when it cannot be read or made. A reader does not
  // make it, so a store no mark was ever put in is not written to.
  int DistinctTableLocked(bool bCreate);
  // Marks the store failed with a message naming what went wrong.
  void FailLocked(const std::string& strWhat);

  const std::string strVersion_;
  std::mutex mutex_;  // guards everything below
  std::string strPath_;
  sqlite3* pDb_ = nullptr;
  std::unique_ptr<Statements> pStatements_;
  std::unique_ptr<QualityStatements, QualityStatementsFree> pQuality_;
  std::vector<Pending> vecPending_;
  std::chrono::steady_clock::time_point lastFlush_;
  bool bFailed_ = false;
  std::string strMessage_;
  int nReused_ = 0;
  int nWritten_ = 0;
  // The entries lent to a moved file in this run, by (path, seconds): the path each
  // went to. An entry goes to one file per run.
  std::map<std::pair<std::string, int>, std::string> mapLent_;
};

}  // namespace twintone

#endif  // TWINTONE_SUPPORT_FINGERPRINT_STORE_H
