// Result groups built from the group map, and reading them with GetGroupRef.
#include <gtest/gtest.h>

#include "engine/dedupe_music.h"
#include "fixtures/host_records.h"
#include "twintone.h"

using namespace twintone;

namespace {

class ResultGroupsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    HostRecord seed;
    seed.strPath = "/seed.mp3";
    ASSERT_EQ(AddHostRecord(seed), 0);  // creates the engine
    pEngine_ = g_pCDeDup;
  }
  // Files a group under the key text with members named after the key.
  void FillGroup(const std::string& strKey, int nMembers) {
    auto* pList = new RecordList();
    for (int i = 0; i < nMembers; ++i) {
      auto* pRecord = new InerMusicDedupInfo();
      pRecord->strPath = "/" + strKey + std::to_string(i);
      pRecord->nUserData = i;
      pEngine_->mapLoaded.emplace(pRecord->strPath, pRecord);
      pList->push_back(pRecord);
    }
    GroupKey key;
    key.strKey = strKey;
    pEngine_->mapGroups.emplace(key, pList);
  }
  CDedupeMusic* pEngine_ = nullptr;
};

TEST_F(ResultGroupsTest, GroupsOfTwoOrMoreAreNumberedInKeyOrder) {
  FillGroup("zeta", 2);
  FillGroup("alpha", 3);
  FillGroup("single", 1);
  pEngine_->BuildResultGroups();
  ASSERT_EQ(GetGroupIdCounts(), 2);
  EXPECT_STREQ(GroupMember(0, 0)->pszPath, "/alpha0");
  EXPECT_STREQ(GroupMember(0, 2)->pszPath, "/alpha2");
  EXPECT_STREQ(GroupMember(1, 1)->pszPath, "/zeta1");
  EXPECT_EQ(GroupMember(1, 1)->nUserData, 1);
}

TEST_F(ResultGroupsTest, OutOfRangeIndexOrGroupWritesNothing) {
  FillGroup("g", 3);
  pEngine_->BuildResultGroups();
  tagInMusicDedupInfo sentinel{};
  tagInMusicDedupInfo* pInfo = &sentinel;
  int nCount = -1;
  EXPECT_EQ(GetGroupRef(0, &pInfo, &nCount, 2), 0);
  EXPECT_EQ(nCount, 3);
  EXPECT_STREQ(pInfo->pszPath, "/g2");
  pInfo = &sentinel;
  nCount = -1;
  EXPECT_EQ(GetGroupRef(0, &pInfo, &nCount, 3), 0);
  EXPECT_EQ(nCount, 3);
  EXPECT_EQ(pInfo, &sentinel);
  EXPECT_EQ(GetGroupRef(0, &pInfo, &nCount, -1), 0);
  EXPECT_EQ(pInfo, &sentinel);
  nCount = -1;
  EXPECT_EQ(GetGroupRef(1, &pInfo, &nCount, 0), -1);
  EXPECT_EQ(nCount, -1);
  EXPECT_EQ(pInfo, &sentinel);
}

TEST_F(ResultGroupsTest, ASecondBuildAppendsAndDeallocEmpties) {
  FillGroup("g", 2);
  pEngine_->BuildResultGroups();
  pEngine_->BuildResultGroups();
  EXPECT_EQ(GetGroupIdCounts(), 2);
  EXPECT_EQ(DedupeDealloc(), 0);
  EXPECT_EQ(GetGroupIdCounts(), 0);
  tagInMusicDedupInfo* pInfo = nullptr;
  int nCount = 0;
  EXPECT_EQ(GetGroupRef(0, &pInfo, &nCount, 0), -1);
}

}  // namespace
