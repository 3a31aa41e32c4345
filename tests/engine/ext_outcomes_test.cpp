// Every loaded file accounted for after a run: grouped, alone, or skipped with the
// reason, as the extension header reports it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <tuple>
#include <vector>

#include "fixtures/audio_fixtures.h"
#include "fixtures/event_recorder.h"
#include "fixtures/file_outcomes.h"
#include "fixtures/host_records.h"
#include "fixtures/temp_dir.h"
#include "twintone_ext.h"

namespace {

using twintone_test::AudioEncoding;

class ExtOutcomesTest : public ::testing::Test {
 protected:
  std::string Copy(size_t nPiece, AudioEncoding encoding, const char* pszName) {
    std::string strPath = dir_.Path(pszName);
    twintone_test::CopyFile(twintone_test::SharedAudioCorpus().Path(nPiece, encoding), strPath);
    return strPath;
  }
  // A record whose tags the host supplied, so nothing is read before the key.
  void AddByInfo(const std::string& strPath) {
    HostRecord record;
    record.strPath = strPath;
    ASSERT_EQ(AddHostRecord(record), 0);
  }
  void Add(const std::string& strPath) { ASSERT_EQ(AddToDedupeLists(strPath.c_str(), 0), 0); }
  void SetFingerprint(const std::string& strPath, const std::vector<uint32_t>& vecWords) {
    ASSERT_EQ(twintone_set_fingerprint(strPath.c_str(), vecWords.data(),
                                       static_cast<int>(vecWords.size()), -1),
              0);
  }

  TempDir dir_;
};

TEST_F(ExtOutcomesTest, EveryFileIsGroupedAloneOrSkippedWithItsReason) {
  Add(Copy(0, AudioEncoding::kFlac, "a.flac"));
  Add(Copy(0, AudioEncoding::kMp3At128, "b.mp3"));
  Add(Copy(1, AudioEncoding::kOggVorbis, "c.ogg"));
  twintone_test::WriteGarbageFile(dir_.Path("garbage.mp3"), 40000, 3);
  Add(dir_.Path("garbage.mp3"));
  ASSERT_EQ(mkfifo(dir_.Path("pipe.mp3").c_str(), 0600), 0);
  Add(dir_.Path("pipe.mp3"));
  AddByInfo(dir_.Path("gone.mp3"));
  // Root opens any file, so a loop of links stands in for a file without permission.
  std::string strLocked = dir_.Path("locked.mp3");
  if (geteuid() == 0) {
    dir_.Symlink("locked.mp3", "locked.mp3");
  } else {
    Copy(2, AudioEncoding::kMp3At128, "locked.mp3");
    ASSERT_EQ(chmod(strLocked.c_str(), 0), 0);
  }
  AddByInfo(strLocked);
  // Handed-in fingerprints: one under 20 words, and two of equal length and equal sum
  // of absolute values that do not match (the second is the first reversed).
  std::vector<uint32_t> vecWords;
  for (uint32_t i = 0; i < 40; ++i) vecWords.push_back(i * 2654435761u ^ 0x5bd1e995u);
  AddByInfo(Copy(3, AudioEncoding::kMp3At128, "short.mp3"));
  SetFingerprint(dir_.Path("short.mp3"), {vecWords.begin(), vecWords.begin() + 10});
  AddByInfo(Copy(3, AudioEncoding::kFlac, "x1.flac"));
  SetFingerprint(dir_.Path("x1.flac"), vecWords);
  AddByInfo(Copy(3, AudioEncoding::kOggVorbis, "x2.ogg"));
  SetFingerprint(dir_.Path("x2.ogg"), {vecWords.rbegin(), vecWords.rend()});
  EXPECT_EQ(FileInfos()[dir_.Path("a.flac")].nOutcome, TWINTONE_OUTCOME_PENDING);

  ASSERT_EQ(StartDedupeThread(nullptr, nullptr, TWINTONE_MATCH_FINGERPRINT, 10, 0), 0);
  std::map<std::string, twintone_file_info> mapInfos = FileInfos();
  ASSERT_EQ(mapInfos.size(), 10u);
  const struct {
    const char* pszName;
    int nOutcome, nReason;
    const char* pszReason;
  } kExpected[] = {
      {"a.flac", TWINTONE_OUTCOME_GROUPED, TWINTONE_SKIP_NONE, ""},
      {"b.mp3", TWINTONE_OUTCOME_GROUPED, TWINTONE_SKIP_NONE, ""},
      {"c.ogg", TWINTONE_OUTCOME_ALONE, TWINTONE_SKIP_NONE, ""},
      {"garbage.mp3", TWINTONE_OUTCOME_SKIPPED, TWINTONE_SKIP_UNDECODABLE, "undecodable"},
      {"pipe.mp3", TWINTONE_OUTCOME_SKIPPED, TWINTONE_SKIP_NOT_REGULAR, "not a regular file"},
      {"gone.mp3", TWINTONE_OUTCOME_SKIPPED, TWINTONE_SKIP_MISSING, "missing"},
      {"locked.mp3", TWINTONE_OUTCOME_SKIPPED, TWINTONE_SKIP_UNREADABLE, "unreadable"},
      {"short.mp3", TWINTONE_OUTCOME_SKIPPED, TWINTONE_SKIP_TOO_SHORT,
       "too short for a fingerprint"},
      {"x1.flac", TWINTONE_OUTCOME_ALONE, TWINTONE_SKIP_NONE, ""},
      {"x2.ogg", TWINTONE_OUTCOME_SKIPPED, TWINTONE_SKIP_KEY_COLLISION, "equal-key collision"},
  };
  for (const auto& e : kExpected) {
    const twintone_file_info& info = mapInfos[dir_.Path(e.pszName)];
    EXPECT_EQ(info.nOutcome, e.nOutcome) << e.pszName;
    EXPECT_EQ(info.nReason, e.nReason) << e.pszName;
    EXPECT_STREQ(info.pszReason, e.pszReason) << e.pszName;
  }
  // The lossless copy leads the one group; the FIFO's tags could not be read.
  const twintone_file_info& lead = mapInfos[dir_.Path("a.flac")];
  EXPECT_EQ(std::make_tuple(lead.nGroup, lead.nMember, mapInfos[dir_.Path("b.mp3")].nMember,
                            GetGroupIdCounts(), lead.nFlags),
            std::make_tuple(0, 0, 1, 1, 0u));
  EXPECT_EQ(lead.nFileSize, static_cast<int64_t>(TempDir::ReadFile(dir_.Path("a.flac")).size()));
  EXPECT_NEAR(lead.nDecodedMs, 10000, 100);
  EXPECT_GT(lead.nFingerLen, 20);
  EXPECT_EQ(mapInfos[dir_.Path("pipe.mp3")].nFlags, TWINTONE_FILE_TAGS_UNREAD);

  // A tag run starts from fresh outcomes: a readable file without the needed tag, and
  // one whose tags cannot be read because it is no file.
  ASSERT_EQ(StartDedupeThread(nullptr, nullptr, TWINTONE_MATCH_ARTIST, 0, 0), 0);
  mapInfos = FileInfos();
  EXPECT_EQ(mapInfos[dir_.Path("garbage.mp3")].nReason, TWINTONE_SKIP_NO_TAGS);
  EXPECT_STREQ(mapInfos[dir_.Path("garbage.mp3")].pszReason, "no usable tags");
  EXPECT_EQ(mapInfos[dir_.Path("pipe.mp3")].nReason, TWINTONE_SKIP_NOT_REGULAR);
  EXPECT_EQ(mapInfos[dir_.Path("x2.ogg")].nOutcome, TWINTONE_OUTCOME_GROUPED);
}

TEST_F(ExtOutcomesTest, ReadersCheckTheirArgumentsAndRefuseInsideProgressEvents) {
  AddByInfo(dir_.WriteFile("one.mp3", "x"));
  twintone_file_info info{};
  info.nStructSize = sizeof(info) - 1;
  EXPECT_EQ(twintone_file_info_at(0, &info), -1);
  info.nStructSize = sizeof(info);
  EXPECT_EQ(twintone_file_info_at(-1, &info), -2);

  EventRecorder recorder;
  std::vector<int> vecInside;
  recorder.onEvent = [&](int nCode) {
    if (nCode != 1) return;
    twintone_file_info inner{};
    inner.nStructSize = sizeof(inner);
    vecInside = {twintone_file_count(), twintone_file_info_at(0, &inner),
                 twintone_set_key_compare(TWINTONE_KEY_LOOSE)};
  };
  ASSERT_EQ(StartDedupeThread(&EventRecorder::Callback, &recorder, TWINTONE_MATCH_TITLE, 0, 0), 0);
  // Waits for the run instead of stopping it: the progress event still comes.
  EXPECT_EQ(twintone_file_count(), 1);
  ASSERT_TRUE(recorder.WaitForEnd());
  EXPECT_EQ(recorder.Codes(), (std::vector<int>{-1, 1, 2}));
  EXPECT_EQ(vecInside, (std::vector<int>{-1, -1, -1}));
  ASSERT_EQ(twintone_file_info_at(0, &info), 0);
  EXPECT_EQ(info.nOutcome, TWINTONE_OUTCOME_ALONE);
  EXPECT_EQ(info.nDecodedMs, -1);
}

}  // namespace
