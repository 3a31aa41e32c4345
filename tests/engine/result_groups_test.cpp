// Result groups built from the group map, and reading them with GetGroupRef.
#include <gtest/gtest.h>

#include "engine/dedupe_music.h"
#include "fixtures/host_records.h"

namespace {

class ResultGroupsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    HostRecord seed;
    seed.strPath = "/seed.mp3";
    ASSERT_EQ(AddHostRecord(seed), 0);  // creates the engine
  }
  // Files a group under the key text with members named after the key.
  void FillGroup(const std::string& strKey, int nMembers) {
    for (int i = 0; i < nMembers; ++i) {
      auto* pRecord = new InerMusicDedupInfo();
      pRecord->strPath = "/" + strKey + std::to_string(i);
      pRecord->nUserData = i;
      pRecord->pGroupKey->strKey = strKey;
      g_pCDeDup->mapLoaded.emplace(pRecord->strPath, pRecord);
      g_pCDeDup->FileRecord(pRecord);
    }
  }
};

// Groups of two or more, in key order; a second build appends; out-of-range reads
// write nothing and leave the engine readable.
TEST_F(ResultGroupsTest, GroupsOfTwoOrMoreAreNumberedInKeyOrder) {
  FillGroup("zeta", 2);
  FillGroup("alpha", 3);
  FillGroup("single", 1);
  g_pCDeDup->BuildResultGroups();
  ASSERT_EQ(GetGroupIdCounts(), 2);
  EXPECT_STREQ(GroupMember(0, 2)->pszPath, "/alpha2");
  EXPECT_EQ(GroupMember(1, 1)->nUserData, 1);
  tagInMusicDedupInfo sentinel{};
  tagInMusicDedupInfo* pInfo = &sentinel;
  int nCount = -1;
  for (int nIndex : {3, -1}) {
    EXPECT_EQ(GetGroupRef(0, &pInfo, &nCount, nIndex), 0);
    EXPECT_EQ(nCount, 3);
    EXPECT_EQ(pInfo, &sentinel);
  }
  nCount = -1;
  EXPECT_EQ(GetGroupRef(2, &pInfo, &nCount, 0), -1);
  EXPECT_EQ(nCount, -1);
  EXPECT_EQ(GetGroupRef(2, &pInfo, &nCount, 0), -1);  // the refusal let go of the lock
  g_pCDeDup->BuildResultGroups();
  EXPECT_EQ(GetGroupIdCounts(), 4);
  EXPECT_EQ(DedupeDealloc(), 0);
  EXPECT_EQ(GetGroupIdCounts(), 0);
}

}  // namespace
