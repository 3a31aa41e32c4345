// The keeper choice on plain member data: which copies look damaged, and where best
// draws the line between one length and another. Real files go through the same code
// in keep_run_test.cpp.
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
      // A cut Ogg stream has lost the page its length is read from.
      {Copy("a.ogg", 2'732, 0, 112), kTags, "length unknown"},
  };
  for (const Case& c : kCases) {
    std::string strProblem = twintone_cli::WholenessProblem(c.member, c.context);
    EXPECT_EQ(0u, strProblem.rfind(c.pszProblem, 0)) << c.member.strPath << " "
                                                    << c.member.nSizeBytes << ": " << strProblem;
    EXPECT_EQ(std::string(c.pszProblem).empty(), strProblem.empty()) << strProblem;
  }
}

// The paths of one group ordered under best, keeper first; *pGroup gets the group.
std::vector<std::string> OrderByBest(std::vector<Member> vecMembers, Group* pGroup) {
  std::vector<Group> vecGroups(1);
  vecGroups[0].vecMembers = std::move(vecMembers);
  twintone_cli::ChooseKeepers({KeepPolicy()}, {false, 0}, &vecGroups);
  *pGroup = vecGroups[0];
  std::vector<std::string> vecPaths;
  for (const Member& member : pGroup->vecMembers) vecPaths.push_back(member.strPath);
  return vecPaths;
}

TEST(KeeperTest, BestCountsLengthsWithinFiveSecondsAsEqual) {
  using Paths = std::vector<std::string>;
  Group group;
  // 2:58 and 3:00 are one length: lossless leads, then bitrate.
  EXPECT_EQ((Paths{"b.flac", "a.mp3", "c.mp3"}),
            OrderByBest({Copy("a.mp3", 7'120'000, 178, 320), Copy("b.flac", 6'000'000, 180, 266),
                         Copy("c.mp3", 2'880'000, 180, 128)},
                        &group));
  EXPECT_EQ("kept: FLAC, lossless; others lossy", group.strKeepReason);
  // 2:54 is shorter than 3:00, whatever the format.
  EXPECT_EQ((Paths{"c.mp3", "b.flac"}), OrderByBest({Copy("b.flac", 6'000'000, 174, 266),
                                                     Copy("c.mp3", 2'880'000, 180, 128)},
                                                    &group));
}

}  // namespace
}  // namespace twintone_cli_test
