// Whole runs over real encoded audio through the public and extension entry points,
// as a host makes them: groups and their leaders, what became of every file, and
// fingerprints going out of the library and into it.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <tuple>

#include <gtest/gtest.h>

#include "fixtures/audio_fixtures.h"
#include "fixtures/host_records.h"
#include "fixtures/temp_dir.h"
#include "reliability/run_watch.h"
#include "twintone_ext.h"

namespace {

using twintone_test::AudioEncoding;
using twintone_test::Groups;
using twintone_test::ReadGroups;

// The words `fpcalc -raw -length nSeconds` prints for the file.
std::vector<uint32_t> FpcalcFingerprint(const std::string& strPath, int nSeconds) {
  std::string strCommand =
      "fpcalc -raw -length " + std::to_string(nSeconds) + " '" + strPath + "' 2>/dev/null";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(strCommand.c_str(), "r"), &pclose);
  std::string strOutput;
  char szBuffer[4096];
  while (pipe && fgets(szBuffer, sizeof(szBuffer), pipe.get()) != nullptr) strOutput += szBuffer;
  std::vector<uint32_t> vecWords;
  const size_t nStart = strOutput.find("FINGERPRINT=");
  std::istringstream words(nStart == std::string::npos ? "" : strOutput.substr(nStart + 12));
  for (std::string strWord; std::getline(words, strWord, ',');) vecWords.push_back(std::stoul(strWord));
  return vecWords;
}

class EndToEndTest : public ::testing::Test {
 protected:
  void LoadCorpus() {
    testing::internal::CaptureStdout();  // the scan prints a line per file
    ASSERT_EQ(AddToDedupeLists(corpus_.strDir.c_str(), 0), 0);
    testing::internal::GetCapturedStdout();
  }
  int PieceOf(const std::string& strPath) const {
    for (size_t p = 0; p < corpus_.vecPieces.size(); ++p) {
      const auto& paths = corpus_.vecPieces[p].vecPaths;
      if (std::find(paths.begin(), paths.end(), strPath) != paths.end()) return static_cast<int>(p);
    }
    return -1;
  }
  std::string Copy(size_t nPiece, AudioEncoding encoding, const char* pszName) {
    twintone_test::CopyFile(corpus_.Path(nPiece, encoding), dir_.Path(pszName));
    return dir_.Path(pszName);
  }
  void AddByInfo(const std::string& strPath) {
    HostRecord record;
    record.strPath = strPath;
    ASSERT_EQ(AddHostRecord(record), 0);
  }

  const twintone_test::AudioCorpus& corpus_ = twintone_test::SharedAudioCorpus();
  TempDir dir_;
};

// Every piece's eight encodings form one group led by the uncompressed copy, the same
// in a second run; the library's fingerprint is the one fpcalc computes.
TEST_F(EndToEndTest, FingerprintRunsGroupEveryPieceWithTheBestCopyInFront) {
  LoadCorpus();
  EventRecorder recorder;
  ASSERT_EQ(StartDedupeThread(&EventRecorder::Callback, &recorder, TWINTONE_MATCH_FINGERPRINT, 30, 0), 0);
  ASSERT_TRUE(recorder.WaitForEnd(600));
  EXPECT_EQ(recorder.Codes().size(), static_cast<size_t>(GetLoadCounts() + 2));
  const Groups vecFull = ReadGroups();
  ASSERT_EQ(vecFull.size(), corpus_.vecPieces.size());
  for (size_t g = 0; g < vecFull.size(); ++g) {
    const int nPiece = PieceOf(vecFull[g].front());
    EXPECT_EQ(vecFull[g].front(), corpus_.Path(nPiece, AudioEncoding::kWav));
    EXPECT_EQ(vecFull[g].size(), twintone_test::AllEncodings().size()) << "piece " << nPiece;
    EXPECT_EQ(GroupMember(g, 0)->fSimilarity, 1.0f);
    for (int i = 1; i < GroupSize(g); ++i) {
      EXPECT_EQ(PieceOf(vecFull[g][i]), nPiece) << vecFull[g][i];
      EXPECT_GT(GroupMember(g, i)->fSimilarity, 0.8f);
      EXPECT_LE(GroupMember(g, i)->nBitrate, GroupMember(g, 0)->nBitrate);
    }
  }
  const std::string strFlac = corpus_.Path(1, AudioEncoding::kFlac);
  std::vector<uint32_t> vecOurs(twintone_get_fingerprint(strFlac.c_str(), nullptr, 0));
  ASSERT_GT(vecOurs.size(), 100u);
  ASSERT_EQ(twintone_get_fingerprint(strFlac.c_str(), vecOurs.data(), vecOurs.size()),
            static_cast<int>(vecOurs.size()));
  const std::vector<uint32_t> vecTheirs = FpcalcFingerprint(strFlac, 30);
  ASSERT_GT(vecTheirs.size(), 100u) << "fpcalc (libchromaprint-tools) gave no fingerprint";
  EXPECT_GE(match_fingerprints3(vecOurs.data(), vecOurs.size(), vecTheirs.data(), vecTheirs.size(),
                                std::min(vecOurs.size(), vecTheirs.size()) / 3),
            0.99f);
  EXPECT_NEAR(FileInfos()[strFlac].nDecodedMs, 23000, 100);  // the whole 23 s piece
  ASSERT_EQ(DedupeDealloc(), 0);
  LoadCorpus();
  ASSERT_EQ(StartDedupeThread(nullptr, nullptr, TWINTONE_MATCH_FINGERPRINT, 30, 0), 0);
  EXPECT_EQ(ReadGroups(), vecFull);
}

// Grouped, alone, or skipped with the reason, as the extension header reports each
// file. Handed-in fingerprints are filed without decoding: the files are noise.
TEST_F(EndToEndTest, EveryFileIsGroupedAloneOrSkippedWithItsReason) {
  for (const std::string& strPath : {Copy(0, AudioEncoding::kFlac, "a.flac"),
                                     Copy(0, AudioEncoding::kMp3At128, "b.mp3")}) {
    ASSERT_EQ(AddToDedupeLists(strPath.c_str(), 0), 0);
  }
  AddByInfo(Copy(1, AudioEncoding::kOggVorbis, "c.ogg"));  // tags from the host: none read
  twintone_test::WriteGarbageFile(dir_.Path("garbage.mp3"), 40000, 3);
  ASSERT_EQ(AddToDedupeLists(dir_.Path("garbage.mp3").c_str(), 0), 0);
  ASSERT_EQ(mkfifo(dir_.Path("pipe.mp3").c_str(), 0600), 0);
  ASSERT_EQ(AddToDedupeLists(dir_.Path("pipe.mp3").c_str(), 0), 0);
  AddByInfo(dir_.Path("gone.mp3"));
  // Root opens any file, so a loop of links stands in for a file without permission.
  const std::string strLocked = dir_.Path("locked.mp3");
  if (geteuid() == 0) {
    dir_.Symlink("locked.mp3", "locked.mp3");
  } else {
    Copy(2, AudioEncoding::kMp3At128, "locked.mp3");
    ASSERT_EQ(chmod(strLocked.c_str(), 0), 0);
  }
  AddByInfo(strLocked);
  // Prints under 20 words, and two of equal length and equal sum of absolute values
  // that do not match (x2 is x1 reversed), and a copy of x1's.
  std::vector<uint32_t> vecWords;
  for (uint32_t i = 0; i < 40; ++i) vecWords.push_back(i * 2654435761u ^ 0x5bd1e995u);
  const std::vector<std::pair<const char*, std::vector<uint32_t>>> handedIn = {
      {"short.mp3", {vecWords.begin(), vecWords.begin() + 10}},
      {"x1.mp3", vecWords}, {"x2.mp3", {vecWords.rbegin(), vecWords.rend()}}, {"x3.mp3", vecWords}};
  for (const auto& [pszName, vecPrint] : handedIn) {
    twintone_test::WriteGarbageFile(dir_.Path(pszName), 30000, 9);
    AddByInfo(dir_.Path(pszName));
    ASSERT_EQ(twintone_set_fingerprint(dir_.Path(pszName).c_str(), vecPrint.data(), vecPrint.size(), 24000), 0);
  }
  EXPECT_EQ(twintone_set_fingerprint(dir_.Path("x1.mp3").c_str(), vecWords.data(), 0, -1), -1);
  EXPECT_EQ(twintone_set_fingerprint(dir_.Path("nope.mp3").c_str(), vecWords.data(), 40, -1), -2);
  EXPECT_EQ(FileInfos()[dir_.Path("a.flac")].nOutcome, TWINTONE_OUTCOME_PENDING);

  ASSERT_EQ(StartDedupeThread(nullptr, nullptr, TWINTONE_MATCH_FINGERPRINT, 10, 0), 0);
  std::map<std::string, twintone_file_info> mapInfos = FileInfos();
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
      {"short.mp3", TWINTONE_OUTCOME_SKIPPED, TWINTONE_SKIP_TOO_SHORT, "too short for a fingerprint"},
      {"x1.mp3", TWINTONE_OUTCOME_GROUPED, TWINTONE_SKIP_NONE, ""},
      {"x2.mp3", TWINTONE_OUTCOME_SKIPPED, TWINTONE_SKIP_KEY_COLLISION, "equal-key collision"},
      {"x3.mp3", TWINTONE_OUTCOME_GROUPED, TWINTONE_SKIP_NONE, ""},
  };
  ASSERT_EQ(mapInfos.size(), std::size(kExpected));
  for (const auto& e : kExpected) {
    const twintone_file_info& info = mapInfos[dir_.Path(e.pszName)];
    EXPECT_EQ(std::make_tuple(info.nOutcome, info.nReason, std::string(info.pszReason)),
              std::make_tuple(e.nOutcome, e.nReason, std::string(e.pszReason))) << e.pszName;
  }
  const twintone_file_info& lead = mapInfos[dir_.Path("a.flac")];
  EXPECT_EQ(std::make_tuple(lead.nMember, mapInfos[dir_.Path("b.mp3")].nMember, lead.nFlags),
            std::make_tuple(0, 1, 0u));
  EXPECT_EQ(lead.nFileSize, static_cast<int64_t>(TempDir::ReadFile(dir_.Path("a.flac")).size()));
  EXPECT_NEAR(lead.nDecodedMs, 10000, 100);
  EXPECT_NEAR(mapInfos[dir_.Path("c.ogg")].nDecodedMs, 10000, 100);
  EXPECT_EQ(std::make_pair(mapInfos[dir_.Path("x3.mp3")].nDecodedMs,
                           mapInfos[dir_.Path("x3.mp3")].nFingerLen), std::make_pair(24000, 40));
  EXPECT_EQ(mapInfos[dir_.Path("pipe.mp3")].nFlags, TWINTONE_FILE_TAGS_UNREAD);
  // A tag run starts from fresh outcomes: a readable file without the needed tag, and
  // one whose tags cannot be read because it is no file. Tags the host gave are kept,
  // a duration of 0 or not: the two Ogg copies group with the other host records.
  HostRecord noDuration;
  noDuration.strPath = Copy(1, AudioEncoding::kOggVorbis, "d.ogg");
  noDuration.nDuration = 0;
  ASSERT_EQ(AddHostRecord(noDuration), 0);
  ASSERT_EQ(StartDedupeThread(nullptr, nullptr, TWINTONE_MATCH_ARTIST, 0, 0), 0);
  mapInfos = FileInfos();
  EXPECT_EQ(std::string(mapInfos[dir_.Path("garbage.mp3")].pszReason), "no usable tags");
  EXPECT_EQ(mapInfos[dir_.Path("pipe.mp3")].nReason, TWINTONE_SKIP_NOT_REGULAR);
  EXPECT_EQ(mapInfos[dir_.Path("x2.mp3")].nOutcome, TWINTONE_OUTCOME_GROUPED);
  for (const char* pszName : {"c.ogg", "d.ogg"}) {
    const twintone_file_info& info = mapInfos[dir_.Path(pszName)];
    EXPECT_EQ(std::make_pair(info.nGroup, info.nFlags),
              std::make_pair(mapInfos[dir_.Path("x2.mp3")].nGroup, 0u))
        << pszName;
  }
}

}  // namespace
