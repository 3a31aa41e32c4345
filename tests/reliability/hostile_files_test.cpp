// Runs over everything a music folder may hold besides music, in both modes: every
// entry gets its progress event, the run ends within a bound, the good files among
// the hostile ones are still grouped, and nothing is written to the host's standard
// streams (by TagLib, FFmpeg and Chromaprint neither).
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fixtures/audio_fixtures.h"
#include "fixtures/temp_dir.h"
#include "reliability/run_watch.h"

namespace twintone_test {
namespace {

class HostileFilesTest : public ::testing::TestWithParam<int> {
 protected:
  // Loads by path, or as a host record for what intake by path would refuse or scan
  // as a folder (with a title and a duration the run goes straight to decoding).
  // Returns the path, which its progress event carries.
  std::string Load(const std::string& strPath, bool bByRecord = false, const char* pszTitle = "") {
    tagInMusicDedupInfo info{};
    info.pszTitle = pszTitle;
    info.pszPath = strPath.c_str();
    info.nDuration = *pszTitle != '\0' ? 20000 : 0;
    EXPECT_EQ(bByRecord ? AddToDedupeListsByInfo(&info) : AddToDedupeLists(strPath.c_str(), 0), 0);
    vecLoaded_.push_back(strPath);
    return strPath;
  }

  std::string LoadCopy(const std::string& strSource, const std::string& strPath) {
    CopyFile(strSource, strPath);
    return Load(strPath);
  }

  // A path of exactly nLength bytes below the root, its folders created.
  std::string PathOfLength(size_t nLength) {
    std::string strPath = dir_.Root();
    for (; nLength - strPath.size() > 210; mkdir(strPath.c_str(), 0755)) {
      strPath += "/" + std::string(200, 'd');
    }
    return strPath + "/" + std::string(nLength - strPath.size() - 5, 'f') + ".mp3";
  }

  TempDir dir_;
  std::vector<std::string> vecLoaded_;
};

TEST_P(HostileFilesTest, EveryHostileEntryIsSkippedWithItsEventAndTheGoodFilesStillGroup) {
  const AudioCorpus& corpus = SharedAudioCorpus();
  // Both streams are caught at the descriptor, where TagLib, FFmpeg and Chromaprint write.
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  WriteDamagedCopy(corpus.Path(3, AudioEncoding::kAacM4a), dir_.Path("damaged.m4a"));
  for (AudioEncoding encoding : {AudioEncoding::kMp3At128, AudioEncoding::kFlac}) {
    const std::string& strSource = corpus.Path(0, encoding);
    const std::string strExt = strSource.substr(strSource.rfind('.'));
    for (size_t nKeep : {size_t{12}, size_t{1000}, size_t{30000}}) {
      const std::string strPath = dir_.Path(std::to_string(nKeep) + strExt);
      WriteTruncatedCopy(strSource, strPath, nKeep);
      Load(strPath);
    }
  }
  WriteTextFile(dir_.Path("empty.mp3"), "");
  WriteGarbageFile(dir_.Path("noise.flac"), 100000, 7);
  WriteTextFile(dir_.Path("notes.mp3"), std::string(5000, 'x') + "\nnot music\n");
  WriteMp3WithId3Frames(dir_.Path("id3-huge.mp3"), {{"TIT2", 0, std::string(4u << 20, 'A')}});
  // A pipe nobody writes to and an endless device would hold the run for ever if any
  // reader opened them.
  ASSERT_EQ(mkfifo(dir_.Path("pipe.mp3").c_str(), 0644), 0);
  for (const char* pszName :
       {"damaged.m4a", "empty.mp3", "noise.flac", "notes.mp3", "id3-huge.mp3", "pipe.mp3"}) {
    Load(dir_.Path(pszName));
  }
  Load("/dev/zero");
  Load(dir_.MakeDir("folder.mp3"), true, "Folder");
  LoadCopy(corpus.Path(1, AudioEncoding::kMp3At128), dir_.Path(std::string(251, 'n') + ".mp3"));
  LoadCopy(corpus.Path(1, AudioEncoding::kOggVorbis), PathOfLength(2048));
  Load(PathOfLength(5000), true);  // past PATH_MAX: its folders cannot be made
  // A file locked between intake and run (root reads it anyway; either is fine), and
  // one deleted during the run.
  const std::string strOgg = corpus.Path(3, AudioEncoding::kOggVorbis);
  ASSERT_EQ(chmod(LoadCopy(strOgg, dir_.Path("unreadable.ogg")).c_str(), 0), 0);
  const std::string strLate = LoadCopy(strOgg, dir_.Path("deleted-during-run.ogg"));
  // Two copies of one piece among them, one under a name that is not UTF-8.
  const std::string strGood =
      LoadCopy(corpus.Path(2, AudioEncoding::kMp3At128), dir_.Path("good.mp3"));
  const std::string strOdd = LoadCopy(strGood, dir_.Path("\xff\xfe\xc0\x80-good.mp3"));

  EventRecorder recorder;
  recorder.onEvent = [strLate](int nCode) { nCode == 1 ? unlink(strLate.c_str()) : 0; };
  // The whole file is fingerprinted, so no reader stops early on the pipe or device.
  ASSERT_EQ(StartDedupeThread(&EventRecorder::Callback, &recorder, GetParam(), 0, 0), 0);
  WaitForEndOrDie(&recorder, 300, "a run over hostile files");
  const std::string strOut = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(strOut + ::testing::internal::GetCapturedStderr(), "");

  // Start with N, progress 1..N carrying each loaded path once, end with N + 1.
  const std::vector<RecordedEvent> events = recorder.Events();
  const int n = static_cast<int>(vecLoaded_.size());
  ASSERT_EQ(static_cast<int>(events.size()), n + 2);
  EXPECT_TRUE(events.front().nData == n && events.back().nCode == n + 1);
  std::vector<std::string> vecReported;
  for (int k = 1; k <= n; ++k) vecReported.push_back(events[k].nCode == k ? events[k].strText : "");
  std::sort(vecLoaded_.begin(), vecLoaded_.end());
  std::sort(vecReported.begin(), vecReported.end());
  EXPECT_EQ(vecReported, vecLoaded_);
  const Groups groups = ReadGroups();
  EXPECT_TRUE(std::any_of(groups.begin(), groups.end(), [&](const std::vector<std::string>& g) {
    return std::count(g.begin(), g.end(), strGood) + std::count(g.begin(), g.end(), strOdd) == 2;
  })) << "the two good copies are not grouped together";
  EXPECT_EQ(DedupeDealloc(), 0);
}

// Text mode keys by title and size, so only true copies group.
INSTANTIATE_TEST_SUITE_P(BothModes, HostileFilesTest,
                         ::testing::Values(TWINTONE_MATCH_TITLE | TWINTONE_MATCH_SIZE,
                                           TWINTONE_MATCH_FINGERPRINT),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return info.param == TWINTONE_MATCH_FINGERPRINT ? "Fingerprint" : "Text";
                         });

}  // namespace
}  // namespace twintone_test
