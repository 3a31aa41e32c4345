// Keys through the grouping layer's functions: which fields join a text key, in
// which order, every refusal, and the one title fallback shared by both modes.
#include <gtest/gtest.h>

#include "fixtures/audio_fixtures.h"
#include "fixtures/temp_dir.h"
#include "grouping/record_key.h"

using namespace twintone;
using namespace twintone_test;

namespace {

constexpr int kTitle = TWINTONE_MATCH_TITLE, kArtist = TWINTONE_MATCH_ARTIST;
constexpr int kAlbum = TWINTONE_MATCH_ALBUM, kSize = TWINTONE_MATCH_SIZE;
constexpr int kDuration = TWINTONE_MATCH_DURATION;

class RecordKeyTest : public ::testing::Test {
 protected:
  KeyOutcome KeyWith(int nFlags) {
    KeyRules rules;
    rules.nMatchFlags = nFlags;
    return TextKey(&record_, rules);
  }

  TempDir dir_;
  InerMusicDedupInfo record_;
};

// Fields join without a separator in a fixed order and each keying starts afresh;
// a refusal keeps what came before the failing field.
TEST_F(RecordKeyTest, SelectedFieldsJoinInFixedOrderAndMissingOnesRefuse) {
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
    ASSERT_EQ(KeyWith(c.first), KeyOutcome::kKeyed) << c.second;
    EXPECT_EQ(record_.pGroupKey->strKey, c.second);
  }
  record_.strArtist = record_.strAlbum = "";
  record_.nFileSize = record_.nDuration = 0;
  const std::pair<int, KeyOutcome> refusals[] = {{kAlbum, KeyOutcome::kNoAlbum},
                                                 {kSize, KeyOutcome::kNoSize},
                                                 {kDuration, KeyOutcome::kNoDuration},
                                                 {0, KeyOutcome::kEmptyKey}};
  for (const auto& c : refusals) EXPECT_EQ(KeyWith(c.first), c.second) << c.first;
  EXPECT_EQ(KeyWith(kTitle | kArtist), KeyOutcome::kNoArtist);
  EXPECT_EQ(record_.pGroupKey->strKey, "Song");
  // The numbers the exported GetGroupKey reports.
  const std::pair<KeyOutcome, int> codes[] = {
      {KeyOutcome::kKeyed, 0},   {KeyOutcome::kMissing, -2},    {KeyOutcome::kNoTitle, -4},
      {KeyOutcome::kNoArtist, -5}, {KeyOutcome::kNoAlbum, -6},  {KeyOutcome::kNoSize, -7},
      {KeyOutcome::kNoDuration, -8}, {KeyOutcome::kEmptyKey, -9}, {KeyOutcome::kNoFingerprint, -23}};
  for (const auto& c : codes) EXPECT_EQ(KeyResultCode(c.first), c.second);
}

// Loose keys fold case and blanks of the title and the artist, in the key only; an
// album stays exact, and an artist of blanks is no artist.
TEST_F(RecordKeyTest, LooseKeysFoldTitleAndArtistOnly) {
  record_.strPath = dir_.WriteFile("f.mp3", "x");
  KeyRules rules;
  rules.nMatchFlags = kTitle | kArtist | kAlbum;
  rules.bLooseText = true;
  const struct {
    const char *pszTitle, *pszArtist;
    KeyOutcome outcome;
    std::string strKey;
  } cases[] = {
      {"Metal Madness", "Machine Wars", KeyOutcome::kKeyed, "metal madnessmachine warsLive"},
      {"metal  madness ", "  MACHINE\tWARS", KeyOutcome::kKeyed, "metal madnessmachine warsLive"},
      {"Metal Madness", " \t ", KeyOutcome::kNoArtist, "metal madness"},
  };
  for (const auto& c : cases) {
    record_.strTitle = c.pszTitle;
    record_.strArtist = c.pszArtist;
    record_.strAlbum = "Live";
    EXPECT_EQ(TextKey(&record_, rules), c.outcome) << c.pszTitle;
    EXPECT_EQ(record_.pGroupKey->strKey, c.strKey);
    EXPECT_EQ(record_.strTitle, c.pszTitle);  // the record keeps the text as read
  }
}

// A title of blanks read from a file becomes the file's bare name in both modes, as
// does the title of a file whose tags cannot be read; a title the host gave is kept
// as given, blanks and all, in both modes.
TEST_F(RecordKeyTest, TitleFallbackIsTheSameInTextAndFingerprintMode) {
  const AudioCorpus& corpus = SharedAudioCorpus();
  const std::string strBlank = dir_.Path("Blank Title.flac");
  WriteRetaggedCopy(corpus.Path(0, AudioEncoding::kFlac), strBlank, {"title=   ", "artist=A"});
  dir_.MakeDir("a");
  const std::string strBroken = dir_.WriteFile("a/Track 01.xyz", "not audio at all");  // no reader takes it

  struct Case {
    std::string strPath, strHostTitle;
    int32_t nDuration;
    std::string strTitle;
  } cases[] = {
      {strBlank, "", 0, "Blank Title"},
      {strBroken, "", 0, "Track 01"},
      {strBlank, "  ", 5000, "  "},   // the host's blanks, tags not read
      {strBroken, "  ", 0, "  "},     // tags read for the duration, and failing
  };
  for (const Case& c : cases) {
    for (bool bFingerprint : {false, true}) {
      SCOPED_TRACE(c.strPath + " host title '" + c.strHostTitle + "'" +
                   (bFingerprint ? " fingerprint" : " text"));
      InerMusicDedupInfo record;
      record.strPath = c.strPath;
      record.strTitle = c.strHostTitle;
      record.nDuration = c.nDuration;
      if (bFingerprint) {
        DeepKey(&record, 10, TagTextOptions(), nullptr);
      } else {
        KeyRules rules;
        rules.nMatchFlags = kTitle;
        EXPECT_EQ(TextKey(&record, rules), KeyOutcome::kKeyed);
      }
      EXPECT_EQ(record.strTitle, c.strTitle);
    }
  }
}

}  // namespace
