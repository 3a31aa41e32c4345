#include "support/fingerprint_store.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "fixtures/temp_dir.h"
#include "support/word_codec.h"

namespace twintone {
namespace {

constexpr char kVersion[] = "decoder 1; test";

// Words shaped like a fingerprint's: each differs from the one before in a few bits.
std::vector<uint32_t> FingerprintLike(size_t nWords, uint32_t nSeed) {
  std::vector<uint32_t> vecWords;
  uint32_t nWord = nSeed * 2654435761u;
  for (size_t i = 0; i < nWords; ++i) {
    nSeed = nSeed * 1103515245u + 12345u;
    nWord ^= 1u << (nSeed >> 27) | 1u << ((nSeed >> 10) & 31);
    vecWords.push_back(nWord);
  }
  return vecWords;
}

// The helpers are public: the case tables below spoil stores through them.
class FingerprintStoreTest : public ::testing::Test {
 public:
  std::string StorePath() const { return tmp_.Path("store.sqlite"); }

  std::unique_ptr<FingerprintStore> Open(int* pnResult = nullptr,
                                         const std::string& strVersion = kVersion,
                                         const std::string& strPath = "") {
    auto pStore = std::make_unique<FingerprintStore>(strVersion);
    int nResult = pStore->Open(strPath.empty() ? StorePath() : strPath);
    if (pnResult != nullptr) *pnResult = nResult;
    return pStore;
  }

  // A music file of nBytes pseudo-random bytes (so both of its ends are hashed),
  // modified at a fixed time.
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

  // Stores words for the file as it is now, and writes them out; false when the
  // store refused.
  static bool Remember(FingerprintStore* pStore, const std::string& strPath,
                       const std::vector<uint32_t>& vecWords) {
    pStore->Remember(strPath, IdentityOf(strPath), 120, vecWords.data(), vecWords.size(), 120000);
    return pStore->Flush();
  }

  bool Finds(FingerprintStore* pStore, const std::string& strPath, int nSeconds = 120,
             StoredFingerprint* pFound = nullptr) {
    StoredFingerprint found;
    return pStore->Find(strPath, IdentityOf(strPath), nSeconds, pFound ? pFound : &found);
  }

  static void SetModified(const std::string& strPath, time_t nSeconds) {
    struct timespec times[2] = {{nSeconds, 0}, {nSeconds, 0}};
    ASSERT_EQ(0, utimensat(AT_FDCWD, strPath.c_str(), times, 0));
  }

  // Fills the store with songs of large fingerprints until it fails or 40 are in.
  void Fill(FingerprintStore* pStore) {
    for (int i = 0; i < 40 && !pStore->Failed(); ++i) {
      Remember(pStore, MusicFile("s" + std::to_string(i), 1000 + i), FingerprintLike(3000, i));
    }
  }

  void RunSql(const std::string& strSql) {
    sqlite3* pDb = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(StorePath().c_str(), &pDb));
    EXPECT_EQ(SQLITE_OK, sqlite3_exec(pDb, strSql.c_str(), nullptr, nullptr, nullptr));
    sqlite3_close(pDb);
  }

  TempDir tmp_;
};

TEST_F(FingerprintStoreTest, WordsSurviveEncodingAndShapedOnesTakeLessSpace) {
  std::vector<uint32_t> vecRandom, vecBack;
  for (uint32_t i = 0; i < 500; ++i) vecRandom.push_back(i * 2654435761u ^ (i << 7));
  for (const auto& vecWords : {FingerprintLike(950, 1), vecRandom,
                               std::vector<uint32_t>{0xffffffffu, 0u, 0x80000001u}, {}}) {
    std::string strBytes = EncodeWords(vecWords.data(), vecWords.size());
    EXPECT_LE(strBytes.size(), 1 + 4 * vecWords.size() + 5);
    ASSERT_TRUE(DecodeWords(strBytes, &vecBack));
    EXPECT_EQ(vecWords, vecBack);
  }
  std::vector<uint32_t> vecLike = FingerprintLike(950, 2);
  std::string strBytes = EncodeWords(vecLike.data(), vecLike.size());
  EXPECT_LT(strBytes.size(), 3 * vecLike.size());
  EXPECT_FALSE(DecodeWords(strBytes.substr(0, strBytes.size() / 2), &vecBack));
  EXPECT_FALSE(DecodeWords(std::string("\x07junk", 5), &vecBack));
}

TEST_F(FingerprintStoreTest, AnUnchangedFileIsFoundAfterReopeningAndAnyChangeMisses) {
  struct Case {
    const char* pszWhat;
    void (*pfnChange)(const std::string& strPath);
    int nSeconds;
    const char* pszVersion;
  };
  const Case cases[] = {
      {"modified later", [](const std::string& p) { SetModified(p, 1700000000); }, 120, kVersion},
      {"grown by a byte", [](const std::string& p) { truncate(p.c_str(), 300 * 1024 + 1); }, 120,
       kVersion},
      {"other seconds", nullptr, 60, kVersion},
      {"other decoder", nullptr, 120, "decoder 2; test"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pszWhat);
    std::string strSong = MusicFile(std::string(c.pszWhat) + ".mp3");
    std::vector<uint32_t> vecWords = FingerprintLike(100, 4);
    ASSERT_TRUE(Remember(Open().get(), strSong, vecWords));
    auto pStore = Open();
    StoredFingerprint found;
    ASSERT_TRUE(Finds(pStore.get(), strSong, 120, &found));
    EXPECT_EQ(vecWords, found.vecWords);
    EXPECT_EQ(120000, found.nDecodedMs);
    int nReused = 0, nWritten = 0;
    pStore->Counts(&nReused, &nWritten);
    EXPECT_TRUE(nReused == 1 && nWritten == 0);
    pStore.reset();
    if (c.pfnChange != nullptr) c.pfnChange(strSong);
    EXPECT_FALSE(Finds(Open(nullptr, c.pszVersion).get(), strSong, c.nSeconds));
  }
}

TEST_F(FingerprintStoreTest, AMovedFileIsFoundByItsSizeTimeAndEnds) {
  std::string strSong = MusicFile("a.mp3"), strTwin = MusicFile("twin.mp3");
  std::vector<uint32_t> vecWords = FingerprintLike(300, 5);
  ASSERT_TRUE(Remember(Open().get(), strSong, vecWords));
  ASSERT_EQ(0, rename(strSong.c_str(), tmp_.Path("b.mp3").c_str()));
  auto pStore = Open();
  StoredFingerprint found;
  ASSERT_TRUE(Finds(pStore.get(), tmp_.Path("b.mp3"), 120, &found));
  EXPECT_EQ(vecWords, found.vecWords);
  // The moved entry is filed under the new path too, found there directly.
  ASSERT_TRUE(pStore->Flush());
  ASSERT_EQ(0, rename(strTwin.c_str(), strSong.c_str()));
  EXPECT_TRUE(Finds(Open().get(), tmp_.Path("b.mp3")));
  // Same size and time but a different last byte: another file.
  int fd = open(strSong.c_str(), O_WRONLY);
  ASSERT_EQ(1, pwrite(fd, "x", 1, 300 * 1024 - 1));
  close(fd);
  SetModified(strSong, 1600000000);
  EXPECT_FALSE(Finds(Open().get(), strSong));
}

TEST_F(FingerprintStoreTest, AFileChangedWhileDecodedIsNotFiledAndPruneDropsGoneFiles) {
  std::string strSong = MusicFile("a.mp3");
  FileIdentity before = IdentityOf(strSong);
  SetModified(strSong, 1500000000);
  auto pStore = Open();
  std::vector<uint32_t> vecWords = FingerprintLike(100, 6);
  pStore->Remember(strSong, before, 120, vecWords.data(), vecWords.size(), 120000);
  ASSERT_TRUE(pStore->Flush());
  int nReused = 0, nWritten = 0;
  pStore->Counts(&nReused, &nWritten);
  EXPECT_EQ(0, nWritten);

  std::string strGone = MusicFile("gone.mp3");
  ASSERT_TRUE(Remember(pStore.get(), strSong, vecWords) && Remember(pStore.get(), strGone, vecWords));
  ASSERT_EQ(0, unlink(strGone.c_str()));
  EXPECT_EQ(1, pStore->Prune());
  EXPECT_EQ(0, pStore->Prune());
  EXPECT_TRUE(Finds(pStore.get(), strSong));
}

TEST_F(FingerprintStoreTest, UnusableStoresAreRefusedWithTheirCodeAndAMessage) {
  struct Case {
    const char* pszWhat;
    void (*pfnSpoil)(FingerprintStoreTest* pTest);
    int nExpected;
    const char* pszMessagePart;
  };
  const Case cases[] = {
      {"garbage", [](auto* t) { t->tmp_.WriteFile("store.sqlite", std::string(8192, 'Z')); },
       kStoreDamaged, "not a fingerprint store"},
      {"another database", [](auto* t) { t->RunSql("CREATE TABLE songs(x);"); }, kStoreDamaged,
       "not a fingerprint store"},
      {"newer schema",
       [](auto* t) {
         t->Open();
         t->RunSql("UPDATE store_version SET version = 99;");
       },
       kStoreNewer, "newer"},
      {"truncated",
       [](auto* t) {
         t->Fill(t->Open().get());
         ASSERT_EQ(0, truncate(t->StorePath().c_str(), 3 * 4096 + 100));
       },
       kStoreDamaged, "damaged"},
      {"a folder", [](auto* t) { t->tmp_.MakeDir("store.sqlite"); }, kStoreCannotOpen, "cannot"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pszWhat);
    c.pfnSpoil(this);
    int nResult = 0;
    auto pStore = Open(&nResult);
    EXPECT_EQ(c.nExpected, nResult);
    EXPECT_NE(std::string::npos, pStore->Message().find(c.pszMessagePart)) << pStore->Message();
    EXPECT_FALSE(Finds(pStore.get(), MusicFile("probe")));
    ASSERT_EQ(0, system(("rm -rf '" + StorePath() + "'*").c_str()));
  }
}

// A store limited to a few pages, then (as root) a real full tmpfs and a read-only one.
TEST_F(FingerprintStoreTest, FullDiskAndReadOnlyFileSystemsAreReported) {
  {
    auto pStore = Open();
    pStore->LimitPagesForTest(8);
    Fill(pStore.get());
    EXPECT_TRUE(pStore->Failed());
    EXPECT_NE(std::string::npos, pStore->Message().find("full")) << pStore->Message();
    EXPECT_EQ(-1, pStore->Prune());
  }
  int nResult = 0;
  Open(&nResult);
  EXPECT_EQ(kStoreOk, nResult);  // what was committed before stays whole

  std::string strMount = tmp_.MakeDir("mnt"), strPath = strMount + "/store.sqlite";
  if (geteuid() != 0 || mount("tmpfs", strMount.c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "mounting a tmpfs needs root";
  }
  auto pStore = Open(&nResult, kVersion, strPath);
  ASSERT_EQ(kStoreOk, nResult) << pStore->Message();
  Fill(pStore.get());
  EXPECT_NE(std::string::npos, pStore->Message().find("full")) << pStore->Message();
  pStore.reset();
  ASSERT_EQ(0, mount("tmpfs", strMount.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=64k"));
  pStore = Open(&nResult, kVersion, strPath);
  EXPECT_EQ(kStoreCannotOpen, nResult);
  EXPECT_NE(std::string::npos, pStore->Message().find("read-only")) << pStore->Message();
  umount2(strMount.c_str(), MNT_DETACH);
}

}  // namespace
}  // namespace twintone
