#include "support/fingerprint_store.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "fixtures/fingerprints.h"
#include "fixtures/temp_dir.h"

namespace twintone {
namespace {

constexpr char kVersion[] = "decoder 1; test";

// Words shaped like a fingerprint's: each differs from the one before in a few bits.
std::vector<uint32_t> FingerprintLike(size_t nWords, uint32_t nSeed) {
  return FingerprintMaker(nSeed).Drifting(static_cast<int>(nWords), 2);
}

// The helpers are public: the case tables below spoil stores through them.
class FingerprintStoreTest : public ::testing::Test {
 public:
  std::string StorePath() const { return tmp_.Path("store.sqlite"); }

  std::unique_ptr<FingerprintStore> Open(int* pnResult = nullptr, const char* pszVersion = kVersion,
                                         const std::string& strPath = "") {
    auto pStore = std::make_unique<FingerprintStore>(pszVersion);
    int nResult = pStore->Open(strPath.empty() ? StorePath() : strPath);
    if (pnResult != nullptr) *pnResult = nResult;
    return pStore;
  }

  // A music file of nBytes varied bytes (so both of its ends are hashed), modified at a
  // fixed time.
  std::string MusicFile(const std::string& strName, size_t nBytes = 300 * 1024) {
    std::string strBytes(nBytes, '\0');
    for (size_t i = 0; i < nBytes; ++i) strBytes[i] = static_cast<char>((i * 7919) >> 3);
    std::string strPath = tmp_.WriteFile(strName, strBytes);
    SetModified(strPath, 1600000000);
    return strPath;
  }

  static FileIdentity IdentityOf(const std::string& strPath) {
    FileIdentity identity;
    EXPECT_TRUE(ReadFileIdentity(strPath.c_str(), &identity)) << strPath;
    return identity;
  }

  // Stores 120 s of words for the file as it is now (or was), and writes them out.
  static bool Remember(FingerprintStore* pStore, const std::string& strPath,
                       const std::vector<uint32_t>& vecWords, const FileIdentity* pWas = nullptr) {
    pStore->Remember(strPath, pWas ? *pWas : IdentityOf(strPath), 120, vecWords.data(),
                     vecWords.size(), 120000);
    return pStore->Flush();
  }

  static bool Finds(FingerprintStore* pStore, const std::string& strPath, int nSeconds = 120) {
    return pStore->Find(strPath, IdentityOf(strPath), nSeconds, &found_);
  }

  static void SetModified(const std::string& strPath, time_t nSeconds) {
    struct timespec times[2] = {{nSeconds, 0}, {nSeconds, 0}};
    ASSERT_EQ(0, utimensat(AT_FDCWD, strPath.c_str(), times, 0));
  }

  // Another piece of MusicFile's size, time and ends: only a byte in its middle differs.
  std::string OtherPiece(const std::string& strName) {
    std::string strPath = MusicFile(strName);
    std::fstream(strPath, std::ios::in | std::ios::out).seekp(150 * 1024).put('x');
    SetModified(strPath, 1600000000);
    return strPath;
  }

  // Runs SQL on the SQLite file at strPath; returns its rows of two columns as "a|b a|b".
  static std::string Sql(const std::string& strPath, const std::string& strSql) {
    sqlite3* pDb = nullptr;
    std::string strRows;
    sqlite3_open(strPath.c_str(), &pDb);
    auto row = [](void* pRows, int nColumns, char** ppszRow, char**) {
      auto& str = *static_cast<std::string*>(pRows);
      if (nColumns == 2) {
        str += (str.empty() ? "" : " ") + std::string(ppszRow[0]) + "|" + ppszRow[1];
      }
      return 0;
    };
    sqlite3_exec(pDb, strSql.c_str(), row, &strRows, nullptr);
    sqlite3_close(pDb);
    return strRows;
  }

  TempDir tmp_;
  static inline StoredFingerprint found_;  // what Finds found last
};

// Remembered, reopened, then the file changed (the change gives its path): found only
// when it is the same content, under its old path or a new one.
TEST_F(FingerprintStoreTest, AStoredFileIsFoundUnchangedOrMovedAndAnyOtherChangeMisses) {
  struct Case {
    const char* pszWhat;
    std::string (*pfnChange)(const std::string& strPath);
    bool bFound;
    int nSeconds = 120;
    const char* pszVersion = kVersion;
  };
  static auto same = [](const std::string& p) { return p; };
  static auto moved = [](const std::string& p) {
    EXPECT_EQ(0, rename(p.c_str(), (p + ".moved").c_str()));
    return p + ".moved";
  };
  const Case cases[] = {
      {"unchanged", same, true},
      {"moved", [](const std::string& p) { return moved(p); }, true},
      {"modified later", [](const std::string& p) { SetModified(p, 1700000000); return p; }, false},
      {"moved with its first byte changed", [](const std::string& p) {
         std::fstream(p, std::ios::in | std::ios::out).put('x');
         SetModified(p, 1600000000);
         return moved(p);
       }, false},
      {"other seconds", same, false, 60},
      {"other decoder", same, false, 120, "decoder 2; test"},
  };
  const std::vector<uint32_t> vecWords = FingerprintLike(100, 4);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pszWhat);
    const std::string strSong = MusicFile(c.pszWhat);
    ASSERT_TRUE(Remember(Open().get(), strSong, vecWords));
    const std::string strNow = c.pfnChange(strSong);
    EXPECT_EQ(c.bFound, Finds(Open(nullptr, c.pszVersion).get(), strNow, c.nSeconds));
    EXPECT_TRUE(!c.bFound || (vecWords == found_.vecWords && found_.nDecodedMs == 120000));
  }
  // A file that changed while it was decoded is not filed under its new identity.
  const std::string strSong = MusicFile("changed-while-decoded");
  const FileIdentity before = IdentityOf(strSong);
  SetModified(strSong, 1500000000);
  auto pStore = Open();
  ASSERT_TRUE(Remember(pStore.get(), strSong, vecWords, &before));
  EXPECT_FALSE(Finds(pStore.get(), strSong));
}

// "a" is stored at 120 s; then its folder changes and a later run looks up each name
// ("+" found, "-" not; "@60" at 60 s). An entry goes only to the file it was stored
// for: never to a second file while the first is still there, never to two files of
// one run, and it moves rather than doubles. Each seconds value keeps its own entry.
TEST_F(FingerprintStoreTest, AnEntryGoesOnlyToTheFileItWasStoredFor) {
  const std::vector<uint32_t> vecWords = FingerprintLike(100, 4);
  struct Case {
    const char* pszWhat;
    std::function<void(const std::string& d)> change;
    const char* pszLookUps;
    const char* pszLeft;  // the entries after the run, "path|seconds"
  };
  auto in = [&](const std::string& d, const std::string& strName) {
    return tmp_.Path(d + "/" + strName);
  };
  const Case cases[] = {
      {"moved", [&](auto d) { rename(in(d, "a").c_str(), in(d, "b").c_str()); }, "+b", "b|120"},
      {"another piece with the same ends beside it", [&](auto d) { OtherPiece(d + "/b"); }, "-b",
       "a|120"},
      {"copied twice, the original removed",
       [&](auto d) { MusicFile(d + "/b"), MusicFile(d + "/c"), unlink(in(d, "a").c_str()); },
       "+b -c", "b|120"},
      {"hard-linked", [&](auto d) { link(in(d, "a").c_str(), in(d, "b").c_str()); }, "-b", "a|120"},
      {"copied, beside another piece with the same ends, both originals removed",
       [&](auto d) {
         Remember(Open(nullptr, kVersion, tmp_.Path(d + ".sqlite")).get(), OtherPiece(d + "/b"),
                  FingerprintLike(100, 5));
         MusicFile(d + "/c"), unlink(in(d, "a").c_str()), unlink(in(d, "b").c_str());
       },
       "-c", "a|120 b|120"},
      {"moved, another piece with the same ends in its place",
       [&](auto d) { rename(in(d, "a").c_str(), in(d, "b").c_str()), OtherPiece(d + "/a"); },
       "-a +b", "b|120"},
      {"fingerprinted at 60 s too",
       [&](auto d) {
         Open(nullptr, kVersion, tmp_.Path(d + ".sqlite"))
             ->Remember(in(d, "a"), IdentityOf(in(d, "a")), 60, vecWords.data(), vecWords.size(),
                        60000);
       },
       "+a +a@60", "a|60 a|120"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pszWhat);
    const std::string strDir = std::to_string(&c - cases), strStore = tmp_.Path(strDir + ".sqlite");
    tmp_.MakeDir(strDir);
    ASSERT_TRUE(
        Remember(Open(nullptr, kVersion, strStore).get(), MusicFile(strDir + "/a"), vecWords));
    c.change(strDir);
    auto pStore = Open(nullptr, kVersion, strStore);
    std::istringstream lookUps(c.pszLookUps);
    for (std::string str; lookUps >> str;) {  // "+a", or "+a@60"
      int nSeconds = str.size() > 2 ? std::stoi(str.substr(3)) : 120;
      EXPECT_EQ(str[0] == '+', Finds(pStore.get(), in(strDir, str.substr(1, 1)), nSeconds)) << str;
    }
    pStore->Flush();
    EXPECT_EQ(c.pszLeft,
              Sql(strStore, "SELECT substr(path, -1), seconds FROM fingerprints ORDER BY 1, 2"));
    if (&c == std::end(cases) - 1) {  // both of a gone file's entries are pruned
      unlink(in(strDir, "a").c_str());
      EXPECT_EQ(2, pStore->Prune());
    }
  }
  // A store of the first schema (one entry per path, no application id) keeps its entries.
  const std::string strOld = tmp_.Path("old.sqlite"), strSong = MusicFile("old-song");
  ASSERT_TRUE(Remember(Open(nullptr, kVersion, strOld).get(), strSong, vecWords));
  Sql(strOld,
      "PRAGMA application_id = 0; ALTER TABLE fingerprints RENAME TO v2;"
      "DROP INDEX fingerprints_by_content; CREATE TABLE fingerprints(path BLOB PRIMARY KEY,"
      " size, mtime_ns, device, inode, ends_hash, seconds, version, decoded_ms, words);"
      "CREATE INDEX fingerprints_by_content ON fingerprints(size, mtime_ns);"
      "INSERT INTO fingerprints SELECT * FROM v2; DROP TABLE v2; UPDATE store_version SET version "
      "= 1");
  EXPECT_TRUE(Finds(Open(nullptr, kVersion, strOld).get(), strSong));
}

// A store that fills its disk says so and keeps what it had committed; files that cannot
// be used are refused with a code and a reason, and left as they were, with nothing put
// beside them.
TEST_F(FingerprintStoreTest, FullDisksAreReportedAndUnusableStoresRefused) {
  int nResult = 0;
  auto pStore = Open();
  pStore->LimitPagesForTest(8);
  for (int i = 0; i < 40 && !pStore->Failed(); ++i) {
    Remember(pStore.get(), MusicFile("s" + std::to_string(i), 1000 + i), FingerprintLike(3000, i));
  }
  EXPECT_NE(std::string::npos, pStore->Message().find("full")) << pStore->Message();
  pStore.reset();
  Open(&nResult);
  EXPECT_EQ(kStoreOk, nResult);
  ASSERT_EQ(0, truncate(StorePath().c_str(), 3 * 4096 + 100));

  const std::string strNewer = tmp_.Path("newer.sqlite");
  Open(nullptr, kVersion, strNewer);
  Sql(strNewer, "PRAGMA journal_mode=DELETE; UPDATE store_version SET version = 3");
  auto foreign = [&](const char* pszName, const std::string& strSql) {
    Sql(tmp_.Path(pszName), "CREATE TABLE songs(title TEXT); " + strSql);
    return tmp_.Path(pszName);
  };
  std::vector<std::tuple<std::string, int, std::string>> vecRefused = {
      {StorePath(), kStoreDamaged, "damaged"},
      {tmp_.WriteFile("garbage", std::string(8192, 'Z')), kStoreDamaged, "not a fingerprint store"},
      {tmp_.WriteFile("empty"), kStoreDamaged, "empty"},
      {foreign("rollback.db", ""), kStoreDamaged, "not a fingerprint store"},
      {foreign("wal.db", "PRAGMA journal_mode=WAL"), kStoreDamaged, "not a fingerprint store"},
      {foreign("other-id.db", "PRAGMA application_id=7"), kStoreDamaged, "another program"},
      {strNewer, kStoreNewer, "newer"},
      {tmp_.MakeDir("folder"), kStoreCannotOpen, "cannot"}};
  auto bytes = [](const std::string& strPath) {
    struct stat st;
    return stat(strPath.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? TempDir::ReadFile(strPath) : "";
  };
  for (const auto& [strPath, nCode, strReason] : vecRefused) {
    const std::string strBytes = bytes(strPath);
    pStore = Open(&nResult, kVersion, strPath);
    EXPECT_EQ(nCode, nResult) << strPath;
    EXPECT_NE(std::string::npos, pStore->Message().find(strReason)) << pStore->Message();
    EXPECT_TRUE(strBytes == bytes(strPath)) << strPath << " changed";
    EXPECT_NE(0, access((strPath + "-wal").c_str(), F_OK)) << strPath;
  }
}

}  // namespace
}  // namespace twintone
