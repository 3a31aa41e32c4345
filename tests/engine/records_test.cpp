// The internal record, its grouping key's copy and ordering, and the conversions
// between public and internal records.
#include <cstdlib>
#include <map>
#include <memory>
#include <tuple>

#include <gtest/gtest.h>

#include "analysis/records.h"

namespace {

class RecordsTest : public ::testing::Test {
 protected:
  static GroupKey TextKey(const std::string& strText) {
    GroupKey key;
    key.strKey = strText;
    return key;
  }
  // A fingerprint key of the given words (the key owns a malloc'ed copy).
  static void SetFinger(GroupKey* pKey, const std::vector<int32_t>& vecWords) {
    pKey->pFinger = static_cast<int32_t*>(malloc(vecWords.size() * sizeof(int32_t)));
    std::copy(vecWords.begin(), vecWords.end(), pKey->pFinger);
    pKey->nFingerLen = static_cast<int32_t>(vecWords.size());
  }
};

TEST_F(RecordsTest, CopiedKeyOwnsAnIndependentBuffer) {
  auto* pOriginal = new GroupKey();
  SetFinger(pOriginal, std::vector<int32_t>(1000, 42));
  GroupKey copy(*pOriginal);
  ASSERT_NE(copy.pFinger, pOriginal->pFinger);
  EXPECT_EQ(copy.nFingerLen, 1000);
  delete pOriginal;
  EXPECT_EQ(copy.pFinger[999], 42);
  GroupKey empty;
  GroupKey emptyCopy(empty);
  EXPECT_EQ(emptyCopy.pFinger, nullptr);
  EXPECT_EQ(emptyCopy.nFingerLen, 0);
}

TEST_F(RecordsTest, TextKeysOrderByBytes) {
  EXPECT_TRUE(TextKey("Abc") < TextKey("abc"));
  EXPECT_TRUE(TextKey("ab") < TextKey("abc"));
  EXPECT_FALSE(TextKey("abc") < TextKey("abc"));
  EXPECT_TRUE(TextKey("z") < TextKey("\xe4\xbd\xa0"));  // bytes compare unsigned
}

TEST_F(RecordsTest, FingerprintKeysOrderByLengthThenAbsoluteSum) {
  GroupKey shortKey, longKey, a, b, c;
  SetFinger(&shortKey, std::vector<int32_t>(30, 1000));
  SetFinger(&longKey, std::vector<int32_t>(31, 0));
  EXPECT_TRUE(shortKey < longKey);
  EXPECT_FALSE(longKey < shortKey);
  std::vector<int32_t> vecA(30, 0), vecB(30, 0);
  vecA[0] = 100;
  vecB[5] = -60;
  vecB[6] = 40;
  SetFinger(&a, vecA);
  SetFinger(&b, vecB);
  EXPECT_FALSE(a < b);
  EXPECT_FALSE(b < a);  // equal length and sum: one map key
  std::map<GroupKey, int> map;
  map.emplace(a, 1);
  EXPECT_FALSE(map.emplace(b, 2).second);
  // INT32_MIN keeps its sign inside the absolute value, so it sums smallest.
  std::vector<int32_t> vecC(30, 0);
  vecC[0] = INT32_MIN;
  SetFinger(&c, vecC);
  EXPECT_TRUE(c < a);
}

TEST_F(RecordsTest, PublicRecordMirrorsTheInternalOneAndBack) {
  InerMusicDedupInfo record;
  record.strTitle = "t";
  record.strArtist = "ar";
  record.strPath = "/p.mp3";
  record.nFileSize = 1;
  record.nDuration = 2;
  record.nUserTag = 3;
  record.nBitrate = 4;
  record.fSimilarity = 0.5f;
  record.nUserData = 6;
  std::unique_ptr<tagInMusicDedupInfo> pInfo = twintone::NewInfoFromRecord(record);
  EXPECT_EQ(pInfo->pszTitle, record.strTitle.c_str());  // points into the record
  EXPECT_EQ(pInfo->pszPath, record.strPath.c_str());
  std::unique_ptr<InerMusicDedupInfo> pBack = twintone::NewRecordFromInfo(*pInfo);
  EXPECT_EQ(pBack->strArtist, "ar");
  EXPECT_EQ(pBack->strPath, "/p.mp3");
  EXPECT_EQ(std::make_tuple(pBack->nFileSize, pBack->nDuration, pBack->nUserTag, pBack->nBitrate,
                            pBack->fSimilarity, pBack->nUserData),
            std::make_tuple(1, 2, 3, 4, 0.5f, 6));
  EXPECT_NE(pBack->pGroupKey, record.pGroupKey);
}

}  // namespace
