// Text keys: which fields join the key, in which order, and every refusal code.
#include <gtest/gtest.h>

#include "engine/dedupe_music.h"
#include "fixtures/temp_dir.h"

namespace {

class GroupKeyTest : public ::testing::Test {
 protected:
  // A record for an existing file, with tags as a host would supply them.
  InerMusicDedupInfo* Record(const std::string& strTitle, const std::string& strArtist = "") {
    auto* pRecord = new InerMusicDedupInfo();
    pRecord->strPath = dir_.WriteFile("f" + std::to_string(vecOwned_.size()) + ".mp3", "x");
    pRecord->strTitle = strTitle;
    pRecord->strArtist = strArtist;
    vecOwned_.emplace_back(pRecord);
    return pRecord;
  }
  int KeyWith(int nFlags, InerMusicDedupInfo* pRecord) {
    engine_.nMatchFlags = nFlags;
    return engine_.GetGroupKey(pRecord);
  }

  TempDir dir_;
  CDedupeMusic engine_;
  std::vector<std::unique_ptr<InerMusicDedupInfo>> vecOwned_;
};

constexpr int kTitle = TWINTONE_MATCH_TITLE;
constexpr int kArtist = TWINTONE_MATCH_ARTIST;

TEST_F(GroupKeyTest, FieldsJoinWithoutSeparatorInFixedOrder) {
  InerMusicDedupInfo* pA = Record("Hello", "World");
  InerMusicDedupInfo* pB = Record("Hell", "oWorld");
  ASSERT_EQ(KeyWith(kArtist | kTitle, pA), 0);
  ASSERT_EQ(KeyWith(kArtist | kTitle, pB), 0);
  EXPECT_EQ(pA->pGroupKey->strKey, "HelloWorld");
  EXPECT_EQ(pB->pGroupKey->strKey, "HelloWorld");

  InerMusicDedupInfo* pC = Record("Song");
  pC->strAlbum = "LP";
  pC->nFileSize = -5;
  pC->nDuration = 215000;
  ASSERT_EQ(KeyWith(TWINTONE_MATCH_DURATION | TWINTONE_MATCH_SIZE | TWINTONE_MATCH_ALBUM | kTitle,
                    pC),
            0);
  EXPECT_EQ(pC->pGroupKey->strKey, "SongLP-5215000");
}

TEST_F(GroupKeyTest, EmptySelectedFieldsRefuseWithTheirCodes) {
  InerMusicDedupInfo* pRecord = Record("Song");
  EXPECT_EQ(KeyWith(kTitle | kArtist, pRecord), -5);
  EXPECT_EQ(pRecord->pGroupKey->strKey, "Song");  // what came before the failure stays
  EXPECT_EQ(KeyWith(TWINTONE_MATCH_ALBUM, pRecord), -6);
  EXPECT_EQ(KeyWith(TWINTONE_MATCH_SIZE, pRecord), -7);
  EXPECT_EQ(KeyWith(TWINTONE_MATCH_DURATION, pRecord), -8);
  EXPECT_EQ(KeyWith(0, pRecord), -9);
}

TEST_F(GroupKeyTest, MissingFileIsRefusedInBothModes) {
  InerMusicDedupInfo* pRecord = Record("Song");
  pRecord->strPath = dir_.Path("gone.mp3");
  EXPECT_EQ(KeyWith(kTitle, pRecord), -2);
  EXPECT_EQ(KeyWith(TWINTONE_MATCH_FINGERPRINT, pRecord), -2);
}

TEST_F(GroupKeyTest, UnreadableTagsGiveTheBareFileNameAsTitle) {
  auto* pRecord = new InerMusicDedupInfo();
  vecOwned_.emplace_back(pRecord);
  dir_.MakeDir("a");
  pRecord->strPath = dir_.WriteFile("a/Track 01.mp3", "not audio at all");
  ASSERT_EQ(KeyWith(kTitle, pRecord), 0);
  EXPECT_EQ(pRecord->strTitle, "Track 01");
  EXPECT_EQ(pRecord->pGroupKey->strKey, "Track 01");
}

TEST_F(GroupKeyTest, BlankTitleFromTheHostIsKept) {
  InerMusicDedupInfo* pRecord = Record("   ");
  ASSERT_EQ(KeyWith(kTitle, pRecord), 0);
  EXPECT_EQ(pRecord->pGroupKey->strKey, "   ");
}

TEST_F(GroupKeyTest, RepeatedKeyingRebuildsTheTextFromScratch) {
  InerMusicDedupInfo* pRecord = Record("Song", "Band");
  ASSERT_EQ(KeyWith(kTitle | kArtist, pRecord), 0);
  ASSERT_EQ(KeyWith(kTitle, pRecord), 0);
  EXPECT_EQ(pRecord->pGroupKey->strKey, "Song");
}

}  // namespace
