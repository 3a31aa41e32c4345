// Text keys: which fields join the key, in which order, and every refusal code.
#include <gtest/gtest.h>

#include "engine/dedupe_music.h"
#include "fixtures/temp_dir.h"

namespace {

constexpr int kTitle = TWINTONE_MATCH_TITLE, kArtist = TWINTONE_MATCH_ARTIST;
constexpr int kAlbum = TWINTONE_MATCH_ALBUM, kSize = TWINTONE_MATCH_SIZE;
constexpr int kDuration = TWINTONE_MATCH_DURATION;

class GroupKeyTest : public ::testing::Test {
 protected:
  int KeyWith(int nFlags) {
    engine_.nMatchFlags = nFlags;
    return engine_.GetGroupKey(&record_);
  }

  TempDir dir_;
  CDedupeMusic engine_;
  InerMusicDedupInfo record_;
};

// Fields join without a separator in a fixed order and each keying starts afresh;
// a refusal keeps what came before the failing field.
TEST_F(GroupKeyTest, SelectedFieldsJoinInFixedOrderAndMissingOnesRefuse) {
  record_.strPath = dir_.WriteFile("f.mp3", "x");
  record_.strTitle = "Song";
  record_.strArtist = "Band";
  record_.strAlbum = "LP";
  record_.nFileSize = -5;
  record_.nDuration = 215000;
  const std::pair<int, std::string> keys[] = {
      {kArtist | kTitle, "SongBand"}, {kDuration | kSize | kAlbum | kTitle, "SongLP-5215000"},
      {kDuration | kSize | kAlbum | kArtist | kTitle, "SongBandLP-5215000"}, {kTitle, "Song"}};
  for (const auto& c : keys) {
    ASSERT_EQ(KeyWith(c.first), 0) << c.second;
    EXPECT_EQ(record_.pGroupKey->strKey, c.second);
  }
  record_.strArtist = record_.strAlbum = "";
  record_.nFileSize = record_.nDuration = 0;
  const std::pair<int, int> refusals[] = {{kAlbum, -6}, {kSize, -7}, {kDuration, -8}, {0, -9}};
  for (const auto& c : refusals) EXPECT_EQ(KeyWith(c.first), c.second) << c.first;
  EXPECT_EQ(KeyWith(kTitle | kArtist), -5);
  EXPECT_EQ(record_.pGroupKey->strKey, "Song");
  record_.strPath = dir_.Path("gone.mp3");
  EXPECT_EQ(KeyWith(kTitle), -2);
  EXPECT_EQ(KeyWith(TWINTONE_MATCH_FINGERPRINT), -2);
  // Unreadable tags give the bare file name as title.
  dir_.MakeDir("a");
  record_.strPath = dir_.WriteFile("a/Track 01.mp3", "not audio at all");
  record_.strTitle = "";
  ASSERT_EQ(KeyWith(kTitle), 0);
  EXPECT_EQ(record_.strTitle, "Track 01");
  EXPECT_EQ(record_.pGroupKey->strKey, "Track 01");
}

}  // namespace
