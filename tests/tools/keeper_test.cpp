// The keeper choice on plain member data: which copies look damaged, and which copy
// leads under each policy. Real files go through the same code in keep_run_test.cpp.
#include "keeper.h"

#include <gtest/gtest.h>

namespace twintone_cli_test {
namespace {

using twintone_cli::Group;
using twintone_cli::KeepPolicy;
using twintone_cli::Member;
using twintone_cli::WholenessContext;

Member Copy(const std::string& strPath, int64_t nSize, int nSeconds, int nKbps,
            int nDecodedMs = -1) {
  Member member;
  member.strPath = strPath;
  member.nSizeBytes = nSize;
  member.nDurationMs = nSeconds * 1000;
  member.nBitrateKbps = nKbps;
  member.nDecodedMs = nDecodedMs;
  twintone_cli::DescribeFormat(strPath, &member.strFormat, &member.bLossless);
  return member;
}

TEST(WholenessTest, FlagsOnlyCopiesThatCannotHoldWhatTheirHeaderClaims) {
  const WholenessContext kTags{false, 0}, kPrints{true, 120};
  struct Case {
    Member member;
    WholenessContext context;
    const char* pszProblem;  // start of the expected text; "" for whole
  };
  const std::vector<Case> kCases = {
      // 1:06 at 192 kbit/s takes 1.5 MiB; 10 KB is what is left of a cut download.
      {Copy("a.mp3", 10'000, 66, 192), kTags, "truncated"},
      {Copy("a.mp3", 1'600'000, 66, 192), kTags, ""},
      // VBR and tags of any size stay well within half the implied size.
      {Copy("a.ogg", 900'000, 66, 192), kTags, ""},
      // A FLAC's bitrate is worked out from its size, so only the length can be absurd:
      // 2^36-1 samples (18 days) in 20 MB.
      {Copy("a.flac", 20'000'000, 1'558'000, 0), kTags, "damaged header"},
      {Copy("a.flac", 30'000'000, 180, 1333), kTags, ""},
      {Copy("a.wav", 1'000'000, 180, 1411), kTags, "truncated"},
      // Fingerprint mode: the decoder's yield against min(seconds asked, length).
      {Copy("a.mp3", 4'800'000, 180, 192, 20'000), kPrints, "decoding stopped early"},
      {Copy("a.mp3", 480'000, 20, 192, 19'400), kPrints, ""},
      {Copy("a.mp3", 4'800'000, 180, 192, 120'000), kPrints, ""},
      {Copy("a.mp3", 4'800'000, 180, 192, 20'000), kTags, ""},
      // Nothing known, nothing claimed.
      {Copy("a.mp3", 0, 0, 0, -1), kPrints, ""},
  };
  for (const Case& c : kCases) {
    std::string strProblem = twintone_cli::WholenessProblem(c.member, c.context);
    EXPECT_EQ(0u, strProblem.rfind(c.pszProblem, 0)) << c.member.strPath << " "
                                                    << c.member.nSizeBytes << ": " << strProblem;
    EXPECT_EQ(std::string(c.pszProblem).empty(), strProblem.empty()) << strProblem;
  }
}

class KeeperTest : public ::testing::Test {
 protected:
  // The paths of a group chosen under strPolicies, keeper first.
  std::vector<std::string> Order(const std::string& strPolicies, std::vector<Member> vecMembers) {
    std::vector<KeepPolicy> vecPolicies;
    std::string strError;
    EXPECT_TRUE(twintone_cli::ParseKeepPolicies(strPolicies, &vecPolicies, &strError));
    std::vector<Group> vecGroups(1);
    vecGroups[0].vecMembers = std::move(vecMembers);
    twintone_cli::ChooseKeepers(vecPolicies, {false, 0}, &vecGroups);
    group = vecGroups[0];
    std::vector<std::string> vecPaths;
    for (const Member& member : group.vecMembers) vecPaths.push_back(member.strPath);
    return vecPaths;
  }
  Group group;
};

TEST_F(KeeperTest, BestWantsTheFullLengthThenLosslessThenBitrate) {
  using Paths = std::vector<std::string>;
  // 2:42 at 320 kbit/s is a cut copy of the 3:00 one, whatever its bitrate.
  EXPECT_EQ((Paths{"full.mp3", "cut.mp3"}),
            Order("best", {Copy("cut.mp3", 6'480'000, 162, 320), Copy("full.mp3", 2'880'000, 180, 128)}));
  EXPECT_EQ("kept: longest, 3:00; others shorter (2:42)", group.strKeepReason);
  // Within 5 s the lengths count as equal and lossless leads, then bitrate.
  EXPECT_EQ((Paths{"b.flac", "a.mp3", "c.mp3"}),
            Order("best", {Copy("a.mp3", 7'120'000, 178, 320), Copy("b.flac", 6'000'000, 180, 266),
                           Copy("c.mp3", 2'880'000, 180, 128)}));
  EXPECT_EQ("kept: FLAC, lossless; others lossy", group.strKeepReason);
  // A damaged copy goes last and says why, even when it would have led.
  EXPECT_EQ((Paths{"whole.mp3", "cut.mp3"}),
            Order("best", {Copy("cut.mp3", 10'000, 66, 320), Copy("whole.mp3", 1'060'000, 66, 128)}));
  EXPECT_EQ("kept: the only whole copy", group.strKeepReason);
  EXPECT_EQ(0u, group.vecMembers[1].strPassedOver.rfind("truncated", 0));
  EXPECT_FALSE(group.bUnsure);
  // With every copy damaged, no copy can be trusted over another.
  Order("best", {Copy("x.mp3", 10'000, 66, 320), Copy("y.mp3", 12'000, 66, 128)});
  EXPECT_TRUE(group.bUnsure);
}

TEST_F(KeeperTest, PoliciesApplyInOrderAndTiesFallThroughToBest) {
  using Paths = std::vector<std::string>;
  Member older = Copy("/m/b/old.mp3", 2'880'000, 180, 128);
  older.nModifiedNs = 1'000'000'000;
  Member newer = Copy("/m/a/new.mp3", 7'200'000, 180, 320);
  newer.nModifiedNs = 2'000'000'000;
  EXPECT_EQ((Paths{"/m/b/old.mp3", "/m/a/new.mp3"}), Order("oldest", {newer, older}));
  EXPECT_EQ((Paths{"/m/a/new.mp3", "/m/b/old.mp3"}), Order("newest", {older, newer}));
  EXPECT_EQ((Paths{"/m/b/old.mp3", "/m/a/new.mp3"}), Order("under=/m/b", {newer, older}));
  EXPECT_EQ("kept: under /m/b; others outside it", group.strKeepReason);
  // Both under /m: best decides.
  EXPECT_EQ((Paths{"/m/a/new.mp3", "/m/b/old.mp3"}), Order("under=/m/,largest", {older, newer}));
  EXPECT_EQ("kept: largest, 6.9 MiB; others smaller (2.7 MiB)", group.strKeepReason);
}

TEST(KeeperGroupsTest, GroupsComeInTheOrderOfTheirKeepersPaths) {
  std::vector<Group> vecGroups(2);
  vecGroups[0].vecMembers = {Copy("/z.mp3", 10, 0, 0), Copy("/y.mp3", 10, 0, 0)};
  vecGroups[1].vecMembers = {Copy("/b.mp3", 10, 0, 0), Copy("/c.mp3", 10, 0, 0)};
  twintone_cli::ChooseKeepers({KeepPolicy()}, {false, 0}, &vecGroups);
  EXPECT_EQ("/b.mp3", vecGroups[0].vecMembers[0].strPath);
  EXPECT_EQ("/y.mp3", vecGroups[1].vecMembers[0].strPath);
  EXPECT_EQ("kept: first by path; others alike by the policy", vecGroups[1].strKeepReason);
}

}  // namespace
}  // namespace twintone_cli_test
