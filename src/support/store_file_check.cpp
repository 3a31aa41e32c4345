#include "support/store_file_check.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "support/fingerprint_store.h"

namespace twintone {
namespace {

constexpr int kBusyTimeoutMs = 30000;

// The parts of the 100-byte SQLite header that tell what a file is.
constexpr size_t kHeaderBytes = 100;
constexpr char kSqliteMagic[] = "SQLite format 3";  // and its NUL: 16 bytes
constexpr size_t kWriteVersionAt = 18;              // 2: write-ahead log
constexpr size_t kApplicationIdAt = 68;             // big-endian

struct DbClose {
  void operator()(sqlite3* pDb) const { sqlite3_close_v2(pDb); }
};
using Db = std::unique_ptr<sqlite3, DbClose>;
struct StatementFinalize {
  void operator()(sqlite3_stmt* pStmt) const { sqlite3_finalize(pStmt); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalize>;

bool Exists(const std::string& strPath) {
  struct stat st;
  return lstat(strPath.c_str(), &st) == 0;
}

// strPath as an SQLite URI file name: every byte outside a plain set percent-encoded.
std::string UriOf(const std::string& strPath) {
  std::string strUri = "file:";
  for (unsigned char c : strPath) {
    if (isalnum(c) || c == '/' || c == '.' || c == '_' || c == '-' || c == '~') {
      strUri += static_cast<char>(c);
    } else {
      char szHex[4];
      snprintf(szHex, sizeof(szHex), "%%%02X", c);
      strUri += szHex;
    }
  }
  return strUri;
}

// Reads the first kHeaderBytes of strPath into *pstrHeader (fewer when it is shorter).
bool ReadHeader(const std::string& strPath, std::string* pstrHeader) {
  int nFd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (nFd < 0) return false;
  char szBuffer[kHeaderBytes];
  ssize_t nRead;
  do {
    nRead = pread(nFd, szBuffer, sizeof(szBuffer), 0);
  } while (nRead < 0 && errno == EINTR);
  close(nFd);
  if (nRead < 0) return false;
  pstrHeader->assign(szBuffer, static_cast<size_t>(nRead));
  return true;
}

// The store's tables and schema version, read through a read-only connection. A
// database that nothing has open in write-ahead log mode (no -wal or -shm beside it)
// is read immutable, so not even those files appear beside another program's
// database; otherwise its log must be read too.
int ReadSchema(const std::string& strPath, int nKnownVersion, std::string* pstrWhy) {
  bool bImmutable = !Exists(strPath + "-wal") && !Exists(strPath + "-shm");
  sqlite3* pRaw = nullptr;
  int nResult = bImmutable ? sqlite3_open_v2((UriOf(strPath) + "?immutable=1").c_str(), &pRaw,
                                             SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr)
                           : sqlite3_open_v2(strPath.c_str(), &pRaw, SQLITE_OPEN_READONLY, nullptr);
  Db db(pRaw);
  auto failed = [&](int nCode) {
    int nPrimary = (pRaw != nullptr ? sqlite3_errcode(pRaw) : nCode) & 0xff;
    std::string strError = pRaw != nullptr ? sqlite3_errmsg(pRaw) : sqlite3_errstr(nCode);
    bool bDamaged = nPrimary == SQLITE_NOTADB || nPrimary == SQLITE_CORRUPT;
    *pstrWhy = (bDamaged ? "is not a fingerprint store or is damaged (" : "cannot be read (") +
               strError + ")";
    return bDamaged ? kStoreDamaged : kStoreCannotOpen;
  };
  if (nResult != SQLITE_OK) return failed(nResult);
  sqlite3_extended_result_codes(pRaw, 1);
  sqlite3_busy_timeout(pRaw, kBusyTimeoutMs);

  sqlite3_stmt* pStmt = nullptr;
  nResult = sqlite3_prepare_v2(
      pRaw, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'store_version'",
      -1, &pStmt, nullptr);
  Statement tables(pStmt);
  if (nResult != SQLITE_OK || (nResult = sqlite3_step(pStmt)) != SQLITE_ROW) {
    return failed(nResult);
  }
  if (sqlite3_column_int(pStmt, 0) == 0) {
    *pstrWhy = "is an SQLite database but not a fingerprint store";
    return kStoreDamaged;
  }
  nResult = sqlite3_prepare_v2(pRaw, "SELECT version FROM store_version", -1, &pStmt, nullptr);
  Statement version(pStmt);
  if (nResult != SQLITE_OK || sqlite3_step(pStmt) != SQLITE_ROW) {
    *pstrWhy = "is damaged (no schema version)";
    return kStoreDamaged;
  }
  int nVersion = sqlite3_column_int(pStmt, 0);
  if (nVersion > nKnownVersion) {
    *pstrWhy = "was written by a newer twintone (schema " + std::to_string(nVersion) +
               ", this one knows up to " + std::to_string(nKnownVersion) + ")";
    return kStoreNewer;
  }
  return kStoreOk;
}

}  // namespace

int CheckStoreFile(const std::string& strPath, int nKnownVersion, bool* pbAbsent,
                   std::string* pstrWhy) {
  *pbAbsent = false;
  struct stat st;
  if (stat(strPath.c_str(), &st) != 0) {
    if (errno == ENOENT) {
      *pbAbsent = true;
      return kStoreOk;
    }
    *pstrWhy = std::string("cannot be opened or created (") + strerror(errno) + ")";
    return kStoreCannotOpen;
  }
  if (!S_ISREG(st.st_mode)) {
    *pstrWhy = "cannot be opened or created (not a regular file)";
    return kStoreCannotOpen;
  }
  if (access(strPath.c_str(), W_OK) != 0) {
    *pstrWhy = errno == EROFS || errno == EACCES
                   ? "is read-only, so it cannot be used"
                   : std::string("cannot be opened (") + strerror(errno) + ")";
    return kStoreCannotOpen;
  }
  std::string strHeader;
  if (!ReadHeader(strPath, &strHeader)) {
    *pstrWhy = std::string("cannot be read (") + strerror(errno) + ")";
    return kStoreCannotOpen;
  }
  if (strHeader.empty()) {
    *pstrWhy = "is an empty file, not a fingerprint store (remove it to have a store made there)";
    return kStoreDamaged;
  }
  if (strHeader.size() < kHeaderBytes ||
      memcmp(strHeader.data(), kSqliteMagic, sizeof(kSqliteMagic)) != 0) {
    *pstrWhy = "is not a fingerprint store (not an SQLite database)";
    return kStoreDamaged;
  }
  const auto* pHeader = reinterpret_cast<const unsigned char*>(strHeader.data());
  uint32_t nApplicationId = 0;
  for (size_t i = 0; i < 4; ++i)
    nApplicationId = nApplicationId << 8 | pHeader[kApplicationIdAt + i];
  bool bOurs = nApplicationId == static_cast<uint32_t>(kStoreApplicationId);
  if (nApplicationId != 0 && !bOurs) {
    *pstrWhy = "is an SQLite database of another program, not a fingerprint store";
    return kStoreDamaged;
  }
  // Stores of the first schema carry no application id but always use a write-ahead log.
  if (!bOurs && pHeader[kWriteVersionAt] != 2) {
    *pstrWhy = "is an SQLite database but not a fingerprint store";
    return kStoreDamaged;
  }
  return ReadSchema(strPath, nKnownVersion, pstrWhy);
}

std::string MakeStoreBuildFile(const std::string& strPath) {
  std::vector<char> vecName(strPath.begin(), strPath.end());
  const char kSuffix[] = ".new-XXXXXX";
  vecName.insert(vecName.end(), kSuffix, kSuffix + sizeof(kSuffix));
  int nFd = mkostemp(vecName.data(), O_CLOEXEC);
  if (nFd < 0) return std::string();
  close(nFd);
  return std::string(vecName.data());
}

int PlaceStoreFile(const std::string& strBuilt, const std::string& strPath) {
  int nError = 0;
  if (renameat2(AT_FDCWD, strBuilt.c_str(), AT_FDCWD, strPath.c_str(), RENAME_NOREPLACE) != 0) {
    nError = errno;
    // A file system without the no-replace rename: a hard link fails as well when the
    // name is taken.
    if ((nError == EINVAL || nError == ENOSYS) && link(strBuilt.c_str(), strPath.c_str()) != 0) {
      nError = errno;
    } else if (nError == EINVAL || nError == ENOSYS) {
      nError = 0;
    }
  }
  DiscardStoreBuildFile(strBuilt);
  return nError;
}

void DiscardStoreBuildFile(const std::string& strBuilt) {
  for (const char* pszSuffix : {"", "-wal", "-shm", "-journal"}) {
    unlink((strBuilt + pszSuffix).c_str());
  }
}

}  // namespace twintone
