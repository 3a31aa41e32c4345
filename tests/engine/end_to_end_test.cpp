// Whole runs over real encoded audio, through the public entry points as a host
// makes them: every piece's encodings form one group, different pieces never share
// one, and the best copy leads.
#include <map>
#include <set>

#include <gtest/gtest.h>

#include "fixtures/audio_fixtures.h"
#include "fixtures/event_recorder.h"
#include "fixtures/host_records.h"
#include "fixtures/temp_dir.h"
#include "twintone.h"

namespace {

using twintone_test::AudioCorpus;
using twintone_test::AudioEncoding;
using twintone_test::SharedAudioCorpus;

class EndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override { pCorpus_ = &SharedAudioCorpus(); }

  void LoadCorpus() {
    testing::internal::CaptureStdout();  // the scan prints a line per file
    ASSERT_EQ(AddToDedupeLists(pCorpus_->strDir.c_str(), 0), 0);
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(GetLoadCounts(), static_cast<int>(pCorpus_->vecPieces.size() *
                                                twintone_test::AllEncodings().size()));
  }
  // The piece a path belongs to, or -1.
  int PieceOf(const std::string& strPath) const {
    for (size_t p = 0; p < pCorpus_->vecPieces.size(); ++p) {
      for (const std::string& strPiecePath : pCorpus_->vecPieces[p].vecPaths) {
        if (strPiecePath == strPath) return static_cast<int>(p);
      }
    }
    return -1;
  }
  // Every group as the list of its members' paths, front first.
  std::vector<std::vector<std::string>> Groups() const {
    std::vector<std::vector<std::string>> vecGroups;
    int nGroups = GetGroupIdCounts();
    for (int g = 0; g < nGroups; ++g) {
      std::vector<std::string> vecMembers;
      for (int i = 0; i < GroupSize(g); ++i) vecMembers.push_back(GroupMember(g, i)->pszPath);
      vecGroups.push_back(vecMembers);
    }
    return vecGroups;
  }

  const AudioCorpus* pCorpus_ = nullptr;
};

TEST_F(EndToEndTest, FingerprintRunGroupsEveryPieceWithTheHighestBitrateInFront) {
  LoadCorpus();
  EventRecorder recorder;
  ASSERT_EQ(StartDedupeThread(&EventRecorder::Callback, &recorder, TWINTONE_MATCH_FINGERPRINT, 120,
                              0),
            0);
  ASSERT_TRUE(recorder.WaitForEnd(600));
  int nFiles = GetLoadCounts();
  EXPECT_EQ(recorder.Codes().size(), static_cast<size_t>(nFiles + 2));

  std::vector<std::vector<std::string>> vecGroups = Groups();
  ASSERT_EQ(vecGroups.size(), pCorpus_->vecPieces.size());
  std::set<int> setPieces;
  for (size_t g = 0; g < vecGroups.size(); ++g) {
    const std::vector<std::string>& vecMembers = vecGroups[g];
    int nPiece = PieceOf(vecMembers.front());
    setPieces.insert(nPiece);
    EXPECT_EQ(vecMembers.size(), twintone_test::AllEncodings().size()) << "piece " << nPiece;
    for (const std::string& strPath : vecMembers) EXPECT_EQ(PieceOf(strPath), nPiece) << strPath;
    // The uncompressed copy has the highest bitrate and leads with score 1.0.
    EXPECT_EQ(vecMembers.front(), pCorpus_->Path(nPiece, AudioEncoding::kWav));
    EXPECT_EQ(GroupMember(g, 0)->fSimilarity, 1.0f);
    for (int i = 1; i < GroupSize(g); ++i) {
      EXPECT_GT(GroupMember(g, i)->fSimilarity, 0.8f);
      EXPECT_LE(GroupMember(g, i)->nBitrate, GroupMember(g, 0)->nBitrate);
    }
  }
  EXPECT_EQ(setPieces.size(), pCorpus_->vecPieces.size());
}

TEST_F(EndToEndTest, StoppedRunRepeatedAfterDeallocGivesTheSameGroups) {
  LoadCorpus();
  ASSERT_EQ(StartDedupeThread(nullptr, nullptr, TWINTONE_MATCH_FINGERPRINT, 30, 0), 0);
  std::vector<std::vector<std::string>> vecFull = Groups();

  ASSERT_EQ(DedupeDealloc(), 0);
  LoadCorpus();
  EventRecorder recorder;
  recorder.onEvent = [](int nCode) {
    if (nCode == 5) QuitDedupeThread();
  };
  ASSERT_EQ(StartDedupeThread(&EventRecorder::Callback, &recorder, TWINTONE_MATCH_FINGERPRINT, 30,
                              0),
            0);
  ASSERT_TRUE(recorder.WaitForEnd(300));
  EXPECT_EQ(recorder.Codes().back(), GetLoadCounts() + 1);
  EXPECT_EQ(recorder.Codes().size(), 7u);

  ASSERT_EQ(DedupeDealloc(), 0);
  LoadCorpus();
  ASSERT_EQ(StartDedupeThread(nullptr, nullptr, TWINTONE_MATCH_FINGERPRINT, 30, 0), 0);
  EXPECT_EQ(Groups(), vecFull);
}

}  // namespace
