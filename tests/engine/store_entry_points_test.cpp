// The fingerprint store through the extension header, as a host uses it: codes and
// messages of the entry points, and two fingerprint runs over one store.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/dedupe_music.h"
#include "fixtures/audio_fixtures.h"
#include "fixtures/host_records.h"
#include "fixtures/temp_dir.h"
#include "twintone.h"
#include "twintone_ext.h"

namespace {

using twintone_test::AudioEncoding;

class StoreEntryPointsTest : public ::testing::Test {
 protected:
  void TearDown() override { twintone_close_store(); }

  // Loads two pieces in two encodings each, runs in fingerprint mode at 10 s and
  // returns the groups' paths; the load table is cleared again.
  std::vector<std::vector<std::string>> FingerprintRun() {
    const auto& corpus = twintone_test::SharedAudioCorpus();
    for (size_t nPiece = 0; nPiece < 2; ++nPiece) {
      for (AudioEncoding enc : {AudioEncoding::kFlac, AudioEncoding::kMp3At128}) {
        EXPECT_EQ(0, AddToDedupeLists(corpus.Path(nPiece, enc).c_str(), 0));
      }
    }
    EXPECT_EQ(0, StartDedupeThread(nullptr, nullptr, TWINTONE_MATCH_FINGERPRINT, 10, 80));
    std::vector<std::vector<std::string>> vecGroups(GetGroupIdCounts());
    for (size_t g = 0; g < vecGroups.size(); ++g) {
      for (int i = 0; i < GroupSize(g); ++i) vecGroups[g].push_back(GroupMember(g, i)->pszPath);
    }
    for (const auto& entry : g_pCDeDup->mapLoaded) fromStore_.push_back(entry.second->bFromStore);
    EXPECT_EQ(0, DedupeDealloc());
    return vecGroups;
  }

  TempDir tmp_;
  std::vector<bool> fromStore_;
};

TEST_F(StoreEntryPointsTest, SecondRunTakesEveryFingerprintFromTheStore) {
  ASSERT_EQ(0, twintone_open_store(tmp_.Path("fp.sqlite").c_str())) << twintone_store_message();
  int nReused = -1, nWritten = -1;
  auto vecFirst = FingerprintRun();
  ASSERT_EQ(0, twintone_store_stats(&nReused, &nWritten));
  EXPECT_EQ(0, nReused);
  EXPECT_EQ(4, nWritten);
  EXPECT_EQ(2u, vecFirst.size());

  fromStore_.clear();
  EXPECT_EQ(vecFirst, FingerprintRun());
  ASSERT_EQ(0, twintone_store_stats(&nReused, &nWritten));
  EXPECT_EQ(4, nReused);
  EXPECT_EQ(0, nWritten);
  EXPECT_EQ(std::vector<bool>(4, true), fromStore_);
  EXPECT_STREQ("", twintone_store_message());
}

TEST_F(StoreEntryPointsTest, EntryPointsAnswerWithTheirCodes) {
  EXPECT_EQ(-1, twintone_open_store(nullptr));
  EXPECT_EQ(-2, twintone_prune_store());

  std::string strGarbage = tmp_.WriteFile("garbage.sqlite", std::string(4096, 'g'));
  EXPECT_EQ(-4, twintone_open_store(strGarbage.c_str()));
  EXPECT_NE(nullptr, strstr(twintone_store_message(), "garbage.sqlite"));
  EXPECT_EQ(-2, twintone_open_store(tmp_.Path("no/such/folder/fp.sqlite").c_str()));

  ASSERT_EQ(0, twintone_open_store(tmp_.Path("fp.sqlite").c_str()));
  EXPECT_EQ(0, twintone_prune_store());
  EXPECT_STREQ("", twintone_store_message());
}

}  // namespace
