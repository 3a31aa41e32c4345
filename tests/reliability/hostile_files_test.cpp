// Runs over everything a music folder may hold besides music, in both modes: every
// entry gets its progress event, the run ends within a bound, the good files among
// the hostile ones are still grouped, and the library writes nothing to the host's
// standard streams but the directory scan's "load[...]" lines (TagLib, FFmpeg and
// Chromaprint included).
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fixtures/audio_fixtures.h"
#include "fixtures/event_recorder.h"
#include "fixtures/temp_dir.h"
#include "reliability/run_watch.h"
#include "twintone.h"

namespace twintone_test {
namespace {

std::vector<std::string> SortedLines(const std::string& strText) {
  std::vector<std::string> vecLines;
  std::istringstream in(strText);
  for (std::string strLine; std::getline(in, strLine);) vecLines.push_back(strLine);
  std::sort(vecLines.begin(), vecLines.end());
  return vecLines;
}

class HostileFilesTest : public ::testing::TestWithParam<int> {
 protected:
  // Loads by path; returns the path, which its progress event carries.
  std::string Load(const std::string& strPath) {
    EXPECT_EQ(AddToDedupeLists(strPath.c_str(), 0), 0) << strPath;
    vecLoaded_.push_back(strPath);
    return strPath;
  }

  // Loads as a host record, for what intake by path would refuse or scan as a folder.
  // With a title and a duration the run takes the tags as known and goes straight to
  // decoding.
  void LoadByRecord(const std::string& strPath, const char* pszTitle = "") {
    tagInMusicDedupInfo info{};
    info.pszTitle = pszTitle;
    info.pszPath = strPath.c_str();
    info.nDuration = *pszTitle != '\0' ? 20000 : 0;
    EXPECT_EQ(AddToDedupeListsByInfo(&info), 0) << strPath;
    vecLoaded_.push_back(strPath);
  }

  std::string LoadCopy(const std::string& strSource, const std::string& strName) {
    CopyFile(strSource, dir_.Path(strName));
    return Load(dir_.Path(strName));
  }

  // A path of exactly nLength bytes below the root, its folders created.
  std::string PathOfLength(size_t nLength) {
    std::string strPath = dir_.Root();
    while (nLength - strPath.size() > 210) {
      strPath += "/" + std::string(200, 'd');
      mkdir(strPath.c_str(), 0755);
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
  // A scanned folder: a good file and a damaged one, each announced on stdout.
  dir_.MakeDir("scan");
  CopyFile(corpus.Path(3, AudioEncoding::kMp3At128), dir_.Path("scan/a.mp3"));
  WriteDamagedCopy(corpus.Path(3, AudioEncoding::kAacM4a), dir_.Path("scan/b.m4a"));
  ASSERT_EQ(AddToDedupeLists(dir_.Path("scan").c_str(), 0), 0);
  const std::vector<std::string> vecScanned = {dir_.Path("scan/a.mp3"), dir_.Path("scan/b.m4a")};
  vecLoaded_.insert(vecLoaded_.end(), vecScanned.begin(), vecScanned.end());
  WriteTextFile(dir_.Path("empty.mp3"), "");
  for (AudioEncoding encoding : {AudioEncoding::kMp3At128, AudioEncoding::kFlac}) {
    const std::string& strSource = corpus.Path(0, encoding);
    const std::string strExt = strSource.substr(strSource.rfind('.'));
    for (size_t nKeep : {size_t{12}, size_t{1000}, size_t{30000}}) {
      const std::string strPath = dir_.Path("cut-" + std::to_string(nKeep) + strExt);
      WriteTruncatedCopy(strSource, strPath, nKeep);
      Load(strPath);
    }
  }
  WriteGarbageFile(dir_.Path("noise.flac"), 100000, 7);
  WriteTextFile(dir_.Path("notes.mp3"), std::string(5000, 'x') + "\nnot music\n");
  WriteMp3WithId3Frames(dir_.Path("id3-huge.mp3"),
                        {Id3TextFrame{"TIT2", 0, std::string(4u << 20, 'A')}});
  for (const char* pszName : {"empty.mp3", "noise.flac", "notes.mp3", "id3-huge.mp3"}) {
    Load(dir_.Path(pszName));
  }

  // A pipe nobody writes to and an endless device would hold the run for ever if
  // any reader opened them.
  ASSERT_EQ(mkfifo(dir_.Path("pipe.mp3").c_str(), 0644), 0);
  Load(dir_.Path("pipe.mp3"));
  Load("/dev/zero");
  ASSERT_EQ(mkdir(dir_.Path("folder.mp3").c_str(), 0755), 0);
  LoadByRecord(dir_.Path("folder.mp3"), "Folder");
  LoadCopy(corpus.Path(1, AudioEncoding::kMp3At128), std::string(251, 'n') + ".mp3");
  const std::string strLongest = PathOfLength(2048);
  CopyFile(corpus.Path(1, AudioEncoding::kOggVorbis), strLongest);
  Load(strLongest);
  LoadByRecord(PathOfLength(5000));  // past PATH_MAX: its folders cannot be made

  // Files gone or changed between intake and run, and one deleted during it.
  const std::string strOgg = corpus.Path(3, AudioEncoding::kOggVorbis);
  const std::string strDeleted = LoadCopy(strOgg, "deleted.ogg");
  const std::string strLocked = LoadCopy(strOgg, "unreadable.ogg");
  const std::string strLate = LoadCopy(strOgg, "deleted-during-run.ogg");
  ASSERT_EQ(unlink(strDeleted.c_str()), 0);
  ASSERT_EQ(chmod(strLocked.c_str(), 0), 0);  // root reads it anyway; either is fine

  // Two copies of one piece among them, one under a name that is not UTF-8.
  const std::string strSource = corpus.Path(2, AudioEncoding::kMp3At128);
  const std::string strGood = LoadCopy(strSource, "good.mp3");
  const std::string strOddName = LoadCopy(strSource, "\xff\xfe\xc0\x80-good.mp3");

  EventRecorder recorder;
  recorder.onEvent = [strLate](int nCode) {
    if (nCode == 1) unlink(strLate.c_str());
  };
  // The whole file is fingerprinted, so no reader stops early on the pipe or device.
  ASSERT_EQ(StartDedupeThread(&EventRecorder::Callback, &recorder, GetParam(), 0, 0), 0);
  WaitForEndOrDie(&recorder, 300, "a run over hostile files");
  std::string strOut = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(SortedLines(strOut),
            SortedLines("load[" + vecScanned[0] + "]\nload[" + vecScanned[1] + "]\n"));

  // Start with N, progress 1..N carrying each loaded path once, end with N + 1.
  const std::vector<RecordedEvent> events = recorder.Events();
  const int n = static_cast<int>(vecLoaded_.size());
  ASSERT_EQ(static_cast<int>(events.size()), n + 2);
  EXPECT_EQ(events.front().nData, n);
  EXPECT_EQ(events.back().nCode, n + 1);
  std::vector<std::string> vecReported;
  for (int k = 1; k <= n; ++k) {
    EXPECT_EQ(events[static_cast<size_t>(k)].nCode, k);
    vecReported.push_back(events[static_cast<size_t>(k)].strText);
  }
  std::sort(vecLoaded_.begin(), vecLoaded_.end());
  std::sort(vecReported.begin(), vecReported.end());
  EXPECT_EQ(vecReported, vecLoaded_);

  const Groups groups = ReadGroups();
  EXPECT_TRUE(std::any_of(groups.begin(), groups.end(), [&](const std::vector<std::string>& g) {
    return std::count(g.begin(), g.end(), strGood) + std::count(g.begin(), g.end(), strOddName) == 2;
  })) << "the two good copies are not grouped together";
  EXPECT_EQ(DedupeDealloc(), 0);
}

// Text mode keys by title and size, so only true copies group.
INSTANTIATE_TEST_SUITE_P(BothModes, HostileFilesTest,
                         ::testing::Values(TWINTONE_MATCH_TITLE | TWINTONE_MATCH_SIZE,
                                           TWINTONE_MATCH_FINGERPRINT),
                         ModeName);

}  // namespace
}  // namespace twintone_test
