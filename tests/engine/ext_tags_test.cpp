// Tag text and key comparison chosen through the extension header, as whole runs
// see them; the defaults keep today's grouping.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "fixtures/audio_fixtures.h"
#include "fixtures/host_records.h"
#include "fixtures/temp_dir.h"
#include "twintone_ext.h"

namespace {

using twintone_test::AudioEncoding;

class ExtTagsTest : public ::testing::Test {
 protected:
  std::string Retagged(size_t nPiece, AudioEncoding encoding, const char* pszName,
                       const std::string& strTitle, const char* pszId3Version = nullptr) {
    std::vector<std::string> vecOptions;
    if (pszId3Version != nullptr) vecOptions = {"-id3v2_version", pszId3Version};
    std::string strPath = dir_.Path(pszName);
    twintone_test::WriteRetaggedCopy(twintone_test::SharedAudioCorpus().Path(nPiece, encoding),
                                     strPath, {"title=" + strTitle}, vecOptions);
    return strPath;
  }
  // Clears the engine, loads the paths and runs with the flags; returns every group
  // as the set of "title|file name" of its members.
  std::set<std::multiset<std::string>> Run(const std::vector<std::string>& vecPaths, int nFlags) {
    if (GetLoadCounts() > 0) {
      EXPECT_EQ(DedupeDealloc(), 0);
    }
    for (const std::string& strPath : vecPaths) {
      EXPECT_EQ(AddToDedupeLists(strPath.c_str(), 0), 0);
    }
    EXPECT_EQ(StartDedupeThread(nullptr, nullptr, nFlags, 10, 0), 0);
    std::set<std::multiset<std::string>> setGroups;
    for (int g = 0, n = GetGroupIdCounts(); g < n; ++g) {
      std::multiset<std::string> setMembers;
      for (int i = 0; i < GroupSize(g); ++i) {
        std::string strPath = GroupMember(g, i)->pszPath;
        setMembers.insert(std::string(GroupMember(g, i)->pszTitle) + "|" +
                          strPath.substr(dir_.Root().size() + 1));
      }
      setGroups.insert(setMembers);
    }
    return setGroups;
  }

  TempDir dir_;
};

// The text settings reach both kinds of run: titles that differ in one accented
// letter stay apart when read as stored, and a chosen legacy encoding is used for
// single-byte text, also for the tags a fingerprint run reads ahead.
TEST_F(ExtTagsTest, TextSettingsReachTagAndFingerprintRuns) {
  std::vector<std::string> vecPaths = {
      Retagged(0, AudioEncoding::kFlac, "cafe1.flac", "Café"),
      Retagged(0, AudioEncoding::kFlac, "cafe2.flac", "Cafè"),
      dir_.Path("v1a.mp3"), dir_.Path("v1b.mp3"),
      Retagged(1, AudioEncoding::kMp3At128, "wide.mp3", "Björk", "3")};
  twintone_test::WriteMp3WithId3v1(vecPaths[2], "Bj\xF6rk", "", 1);
  twintone_test::WriteMp3WithId3v1(vecPaths[3], "Bj\xF6rk", "", 1);
  using Groups = std::set<std::multiset<std::string>>;
  EXPECT_EQ(Run(vecPaths, TWINTONE_MATCH_TITLE),
            (Groups{{"Caf|cafe1.flac", "Caf|cafe2.flac"},
                    {"Bj鰎k|v1a.mp3", "Bj鰎k|v1b.mp3", "Bj鰎k|wide.mp3"}}));
  EXPECT_EQ(twintone_set_legacy_encoding("no-such-encoding"), -2);
  EXPECT_EQ(twintone_set_tag_text_mode(7), -1);
  ASSERT_EQ(twintone_set_tag_text_mode(TWINTONE_TAGTEXT_AS_STORED), 0);
  ASSERT_EQ(twintone_set_legacy_encoding("cp1252"), 0);
  const Groups kStored = {{"Björk|v1a.mp3", "Björk|v1b.mp3", "Björk|wide.mp3"}};
  EXPECT_EQ(Run(vecPaths, TWINTONE_MATCH_TITLE), kStored);
  Groups fingerprinted = Run(vecPaths, TWINTONE_MATCH_FINGERPRINT);  // tags read ahead
  EXPECT_EQ(fingerprinted.count(*kStored.begin()), 1u);
}

}  // namespace
