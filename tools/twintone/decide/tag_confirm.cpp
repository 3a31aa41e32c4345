#include "decide/tag_confirm.h"

#include <cmath>
#include <set>
#include <utility>

#include "twintone_ext.h"

namespace twintone_cli {
namespace {

// The score of two fingerprints as the grouping takes it; NaN when either is missing or
// too short to compare.
float Score(const FingerprintMap& mapPrints, const std::string& strA, const std::string& strB) {
  auto a = mapPrints.find(strA);
  auto b = mapPrints.find(strB);
  double fScore = 0.0;
  if (a == mapPrints.end() || b == mapPrints.end() ||
      twintone_compare_fingerprints(a->second.data(), static_cast<int>(a->second.size()),
                                    b->second.data(), static_cast<int>(b->second.size()),
                                    &fScore) != 0) {
    return std::nanf("");
  }
  return static_cast<float>(fScore);
}

}  // namespace

void SplitDifferentRecordings(const FingerprintMap& mapPrints, float fThreshold,
                              std::vector<Group>* pvecGroups) {
  for (Group& group : *pvecGroups) {
    if (group.vecMembers.empty()) continue;
    std::vector<Member> vecKept;
    vecKept.push_back(std::move(group.vecMembers.front()));
    vecKept.front().fSimilarity = 1.0f;
    const std::string strKeeper = vecKept.front().strPath;  // vecKept grows below
    for (size_t i = 1; i < group.vecMembers.size(); ++i) {
      Member& member = group.vecMembers[i];
      member.fSimilarity = Score(mapPrints, strKeeper, member.strPath);
      // NaN compares false: a member that could not be heard is set apart too.
      bool bSame = member.fSimilarity > fThreshold;
      (bSame ? vecKept : group.vecDifferent).push_back(std::move(member));
    }
    group.vecMembers = std::move(vecKept);
  }
}

bool ConfirmTagGroups(const ScanSettings& settings, const RunReport& report,
                      const MessageSink& pfnWarn,
                      const std::function<void(std::vector<Group>*)>& pfnRank,
                      std::vector<Group>* pvecGroups) {
  std::vector<std::string> vecPaths;
  for (const Group& group : *pvecGroups) {
    for (const Member& member : group.vecMembers) vecPaths.push_back(member.strPath);
  }
  FingerprintMap mapPrints;
  std::map<std::string, int> mapDecodedMs;
  // Pairs of a group marked "not a duplicate" in an earlier fingerprint review, by the
  // members' fingerprint identities, read while the cache is open.
  std::set<std::pair<uint64_t, uint64_t>> setMarked;
  auto readMarks = [&] {
    for (Group& group : *pvecGroups) {
      for (Member& member : group.vecMembers) {
        uint64_t nId = 0;
        if (twintone_fingerprint_identity(member.strPath.c_str(), &nId) == 0) member.nPrintId = nId;
      }
      for (const Member& a : group.vecMembers) {
        for (const Member& b : group.vecMembers) {
          if (a.nPrintId != 0 && b.nPrintId != 0 && a.nPrintId != b.nPrintId &&
              twintone_is_distinct(a.nPrintId, b.nPrintId) == 1) {
            setMarked.insert({a.nPrintId, b.nPrintId});
          }
        }
      }
    }
  };
  if (!FetchFingerprints(settings, report, vecPaths, pfnWarn, &mapPrints, &mapDecodedMs,
                         readMarks)) {
    return false;
  }
  for (Group& group : *pvecGroups) {
    for (Member& member : group.vecMembers) {
      auto it = mapDecodedMs.find(member.strPath);
      if (it != mapDecodedMs.end()) member.nDecodedMs = it->second;
    }
  }
  if (pfnRank) pfnRank(pvecGroups);
  SplitDifferentRecordings(mapPrints, static_cast<float>(settings.nSimilarity) / 100.0f,
                           pvecGroups);
  // A member marked not a duplicate of the kept copy is set apart however alike it
  // sounds: the person who listened said so.
  for (Group& group : *pvecGroups) {
    if (group.vecMembers.empty()) continue;
    const uint64_t nKept = group.vecMembers.front().nPrintId;
    std::vector<Member> vecStay;
    for (Member& member : group.vecMembers) {
      bool bMarked = !vecStay.empty() && setMarked.count({nKept, member.nPrintId}) != 0;
      (bMarked ? group.vecDifferent : vecStay).push_back(std::move(member));
    }
    group.vecMembers = std::move(vecStay);
  }
  return true;
}

}  // namespace twintone_cli
