#include "support/fingerprint_store.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "fixtures/temp_dir.h"

namespace twintone {
namespace {

constexpr char kVersion[] = "decoder 1; test";

// Words shaped like a fingerprint's: each differs from the one before in a few bits.
std::vector<uint32_t> FingerprintLike(size_t nWords, uint32_t nSeed) {
  std::vector<uint32_t> vecWords;
  uint32_t nWord = nSeed * 2654435761u;
  for (size_t i = 0; i < nWords; ++i) {
    nSeed = nSeed * 1103515245u + 12345u;
    vecWords.push_back(nWord ^= 1u << (nSeed >> 27) | 1u << ((nSeed >> 10) & 31));
  }
  return vecWords;
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

  // Fills the store with songs of large fingerprints until it fails or 40 are in.
  void Fill(FingerprintStore* pStore) {
    for (int i = 0; i < 40 && !pStore->Failed(); ++i) {
      Remember(pStore, MusicFile("s" + std::to_string(i), 1000 + i), FingerprintLike(3000, i));
    }
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

// A store that fills its disk (a page limit, or as root a small tmpfs) says so and keeps
// what it had committed; stores that cannot be used are refused with a code and a reason.
TEST_F(FingerprintStoreTest, FullDisksAreReportedAndUnusableStoresRefused) {
  int nResult = 0;
  auto pStore = Open();
  pStore->LimitPagesForTest(8);
  Fill(pStore.get());
  EXPECT_NE(std::string::npos, pStore->Message().find("full")) << pStore->Message();
  pStore.reset();
  Open(&nResult);
  EXPECT_EQ(kStoreOk, nResult);
  ASSERT_EQ(0, truncate(StorePath().c_str(), 3 * 4096 + 100));

  std::vector<std::tuple<std::string, int, std::string>> vecRefused = {
      {StorePath(), kStoreDamaged, "damaged"},
      {tmp_.WriteFile("garbage", std::string(8192, 'Z')), kStoreDamaged, "not a fingerprint store"},
      {tmp_.MakeDir("folder"), kStoreCannotOpen, "cannot"}};
  std::string strMount = tmp_.MakeDir("mnt"), strOnTmpfs = strMount + "/store.sqlite";
  if (geteuid() == 0 && mount("tmpfs", strMount.c_str(), "tmpfs", 0, "size=64k") == 0) {
    pStore = Open(&nResult, kVersion, strOnTmpfs);
    Fill(pStore.get());  // the disk fills long before 40 songs are in
    EXPECT_NE(std::string::npos, pStore->Message().find("full")) << pStore->Message();
    pStore.reset();
    ASSERT_EQ(0, mount("tmpfs", strMount.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=64k"));
    vecRefused.emplace_back(strOnTmpfs, kStoreCannotOpen, "read-only");
  }
  for (const auto& [strPath, nCode, strReason] : vecRefused) {
    pStore = Open(&nResult, kVersion, strPath);
    EXPECT_EQ(nCode, nResult) << strPath;
    EXPECT_NE(std::string::npos, pStore->Message().find(strReason)) << pStore->Message();
  }
  umount2(strMount.c_str(), MNT_DETACH);
}

}  // namespace
}  // namespace twintone
