// Fingerprints out of the library and into it, and the audio each one covers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "fixtures/audio_fixtures.h"
#include "fixtures/file_outcomes.h"
#include "fixtures/temp_dir.h"
#include "twintone_ext.h"

namespace {

using twintone_test::AudioEncoding;

std::vector<uint32_t> LibraryFingerprint(const std::string& strPath) {
  std::vector<uint32_t> vecWords(twintone_get_fingerprint(strPath.c_str(), nullptr, 0));
  EXPECT_EQ(
      twintone_get_fingerprint(strPath.c_str(), vecWords.data(), static_cast<int>(vecWords.size())),
      static_cast<int>(vecWords.size()));
  return vecWords;
}

// The words `fpcalc -raw -length nSeconds` prints for the file.
std::vector<uint32_t> FpcalcFingerprint(const std::string& strPath, int nSeconds) {
  std::string strCommand =
      "fpcalc -raw -length " + std::to_string(nSeconds) + " '" + strPath + "' 2>/dev/null";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(strCommand.c_str(), "r"), &pclose);
  std::string strOutput;
  char szBuffer[4096];
  while (pipe && fgets(szBuffer, sizeof(szBuffer), pipe.get()) != nullptr) strOutput += szBuffer;
  std::vector<uint32_t> vecWords;
  size_t nStart = strOutput.find("FINGERPRINT=");
  if (nStart == std::string::npos) return vecWords;
  std::istringstream words(strOutput.substr(nStart + 12));
  for (std::string strWord; std::getline(words, strWord, ',');) {
    vecWords.push_back(static_cast<uint32_t>(std::stoul(strWord)));
  }
  return vecWords;
}

// One file: the worker fingerprints it itself (several go through the helpers, as in
// ext_outcomes_test.cpp).
TEST(ExtFingerprintsTest, TheLibrarysFingerprintMatchesFpcalcOfTheSameFile) {
  const int kSeconds = 20;
  const std::string strPath = twintone_test::SharedAudioCorpus().Path(1, AudioEncoding::kFlac);
  ASSERT_EQ(AddToDedupeLists(strPath.c_str(), 0), 0);
  EXPECT_EQ(twintone_get_fingerprint(strPath.c_str(), nullptr, 0), 0);  // not yet computed
  ASSERT_EQ(StartDedupeThread(nullptr, nullptr, TWINTONE_MATCH_FINGERPRINT, kSeconds, 0), 0);
  std::vector<uint32_t> vecOurs = LibraryFingerprint(strPath);
  std::vector<uint32_t> vecTheirs = FpcalcFingerprint(strPath, kSeconds);
  ASSERT_GT(vecOurs.size(), 100u);
  ASSERT_GT(vecTheirs.size(), 100u) << "fpcalc (libchromaprint-tools) gave no fingerprint";
  const int nShorter = static_cast<int>(std::min(vecOurs.size(), vecTheirs.size()));
  EXPECT_GE(match_fingerprints3(vecOurs.data(), static_cast<int>(vecOurs.size()), vecTheirs.data(),
                                static_cast<int>(vecTheirs.size()), nShorter / 3),
            0.99f);

  uint32_t nFirstTwo[2] = {0, 0};
  EXPECT_EQ(twintone_get_fingerprint(strPath.c_str(), nFirstTwo, 2),
            static_cast<int>(vecOurs.size()));
  EXPECT_EQ(nFirstTwo[1], vecOurs[1]);
  EXPECT_NEAR(FileInfos()[strPath].nDecodedMs, kSeconds * 1000, 100);
  EXPECT_EQ(twintone_get_fingerprint("/not/loaded.mp3", nullptr, 0), -2);
  EXPECT_EQ(twintone_get_fingerprint(nullptr, nullptr, 0), -1);
}

TEST(ExtFingerprintsTest, HandedInFingerprintsAreFiledWithoutDecoding) {
  TempDir dir;
  std::vector<uint32_t> vecWords;
  for (uint32_t i = 0; i < 200; ++i) vecWords.push_back(i * 2246822519u + 0x9E3779B9u);
  const std::string strA = dir.Path("a.mp3"), strB = dir.Path("b.mp3");
  // Noise: a decode of either would fail and leave it out.
  twintone_test::WriteGarbageFile(strA, 30000, 1);
  twintone_test::WriteGarbageFile(strB, 30000, 2);
  for (const std::string& strPath : {strA, strB}) {
    ASSERT_EQ(AddToDedupeLists(strPath.c_str(), 0), 0);
    ASSERT_EQ(twintone_set_fingerprint(strPath.c_str(), vecWords.data(), 200, 24000), 0);
  }
  EXPECT_EQ(twintone_set_fingerprint(strA.c_str(), vecWords.data(), 0, -1), -1);
  EXPECT_EQ(twintone_set_fingerprint(dir.Path("c.mp3").c_str(), vecWords.data(), 200, -1), -2);

  ASSERT_EQ(StartDedupeThread(nullptr, nullptr, TWINTONE_MATCH_FINGERPRINT, 30, 0), 0);
  ASSERT_EQ(GetGroupIdCounts(), 1);
  for (const auto& [strPath, info] : FileInfos()) {
    EXPECT_EQ(info.nOutcome, TWINTONE_OUTCOME_GROUPED) << strPath;
    EXPECT_EQ(info.nDecodedMs, 24000);
    EXPECT_EQ(info.nFingerLen, 200);
  }
  EXPECT_EQ(LibraryFingerprint(strB), vecWords);
}

}  // namespace
