// Quality measures through a run, as a host reads them: only grouped files, the
// silence a copy adds to its group, and the store sparing a second measuring.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "fixtures/audio_fixtures.h"
#include "fixtures/temp_dir.h"
#include "twintone_ext.h"

namespace {

using twintone_test::AudioEncoding;

class QualityRunTest : public ::testing::Test {
 protected:
  std::string Copy(size_t nPiece, AudioEncoding encoding, const char* pszName) {
    twintone_test::CopyFile(twintone_test::SharedAudioCorpus().Path(nPiece, encoding),
                            dir_.Path(pszName));
    vecPaths_.push_back(dir_.Path(pszName));
    return vecPaths_.back();
  }

  // A fresh fingerprint run over every file; what each file's quality reads, by path.
  std::map<std::string, twintone_quality> Run() {
    EXPECT_EQ(0, DedupeDealloc() < 0 ? -1 : 0);
    for (const std::string& strPath : vecPaths_) EXPECT_EQ(0, AddToDedupeLists(strPath.c_str(), 0));
    EXPECT_EQ(0, StartDedupeThread(nullptr, nullptr, TWINTONE_MATCH_FINGERPRINT, 120, 80));
    std::map<std::string, twintone_quality> mapQuality;
    for (int i = 0; i < twintone_file_count(); ++i) {
      twintone_file_info info{};
      info.nStructSize = sizeof info;
      twintone_quality quality{};
      quality.nStructSize = sizeof quality;
      EXPECT_EQ(0, twintone_file_info_at(i, &info));
      EXPECT_EQ(0, twintone_quality_at(i, &quality));
      mapQuality[info.pszPath] = quality;
    }
    return mapQuality;
  }

  TempDir dir_;
  std::vector<std::string> vecPaths_;
};

TEST_F(QualityRunTest, GroupedFilesAreMeasuredAfterFilingAndComeFromTheStoreOnceMeasured) {
  const std::string strFlac = Copy(0, AudioEncoding::kFlac, "a.flac");
  const std::string strMono = Copy(0, AudioEncoding::kMp3Mono22k, "b.mp3");
  const std::string strAlone = Copy(1, AudioEncoding::kFlac, "alone.flac");
  const std::string strLate = dir_.Path("c-late.flac");
  vecPaths_.push_back(strLate);
  const std::string strCommand = "ffmpeg -nostdin -loglevel error -y -i '" + strFlac +
                                 "' -af adelay=2000:all=1 '" + strLate + "'";
  ASSERT_EQ(0, std::system(strCommand.c_str()));
  ASSERT_EQ(0, twintone_open_store(dir_.Path("store.sqlite").c_str()));

  for (const auto& [strPath, quality] : Run()) {  // off by default
    EXPECT_EQ(0u, quality.nFlags) << strPath;
  }

  ASSERT_EQ(0, twintone_set_quality(1));
  const std::map<std::string, twintone_quality> mapFirst = Run();
  ASSERT_EQ(1, GetGroupIdCounts());
  EXPECT_EQ(0u, mapFirst.at(strAlone).nFlags & TWINTONE_QUALITY_MEASURED);
  for (const std::string& strPath : {strFlac, strMono, strLate}) {
    SCOPED_TRACE(strPath);
    const twintone_quality& q = mapFirst.at(strPath);
    EXPECT_EQ(TWINTONE_QUALITY_MEASURED,
              q.nFlags & (TWINTONE_QUALITY_MEASURED | TWINTONE_QUALITY_FROM_STORE));
    EXPECT_NEAR(strPath == strLate ? 2000 : 0, q.nAddedLeadMs, 60);
    EXPECT_EQ(strPath == strMono ? TWINTONE_STEREO_MONO : TWINTONE_STEREO_TRUE, q.nStereo);
  }

  // A file modified since is measured again; the others come from the store.
  const struct timespec times[2] = {{1600000000, 0}, {1600000000, 0}};
  ASSERT_EQ(0, utimensat(AT_FDCWD, strFlac.c_str(), times, 0));
  const std::map<std::string, twintone_quality> mapSecond = Run();
  for (const std::string& strPath : {strFlac, strMono, strLate}) {
    SCOPED_TRACE(strPath);
    twintone_quality q = mapSecond.at(strPath);
    EXPECT_EQ(strPath == strFlac ? 0u : TWINTONE_QUALITY_FROM_STORE,
              q.nFlags & TWINTONE_QUALITY_FROM_STORE);
    q.nFlags &= ~TWINTONE_QUALITY_FROM_STORE;
    EXPECT_EQ(0, memcmp(&q, &mapFirst.at(strPath), sizeof q));
    twintone_quality byPath{};
    byPath.nStructSize = sizeof byPath;
    EXPECT_EQ(0, twintone_quality_of(strPath.c_str(), &byPath));
    EXPECT_EQ(0, memcmp(&byPath, &mapSecond.at(strPath), sizeof byPath));
  }

  twintone_quality q{};
  q.nStructSize = sizeof q;
  EXPECT_EQ(-2, twintone_quality_of(dir_.Path("not-loaded.flac").c_str(), &q));
  EXPECT_EQ(-2, twintone_quality_at(static_cast<int>(vecPaths_.size()), &q));
  q.nStructSize = sizeof q - 4;
  EXPECT_EQ(-1, twintone_quality_at(0, &q));
}

}  // namespace
