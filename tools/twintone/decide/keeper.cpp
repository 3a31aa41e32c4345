// The --keep policies, and the order of each group's members.
#include "decide/keeper.h"

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <utility>

#include "common/paths.h"
#include "twintone_ext.h"

namespace twintone_cli {
namespace {

// One way of telling two copies apart; a policy is one or more of them.
enum class Criterion {
  kSameLength,  // best: longer wins when the lengths differ by more than kSameLengthMs
  kSilence,     // best, measured: no silence added where the other copy has some
  kClipping,    // best, measured: clean where the other copy is clipped
  kStereo,      // best, measured: true stereo over mono and dual mono
  kBandwidth,   // best, measured: the wider band, beyond the tolerance
  kLossless,    // really lossless: a lossy source in a lossless codec is lossy
  kBitrate,     // codec-aware; says nothing between two really lossless copies
  kTags,        // best: more of title, artist and album filled in
  kLength,  // longest: any difference counts
  kSize,
  kNewer,
  kOlder,
  kUnder,
  kPath,
};

struct Step {
  Criterion criterion;
  std::string strDir;  // kUnder: the folder, resolved, without a trailing slash
};

// A member with what ordering it needs.
struct Ranked {
  Member member;
  std::string strLocation;  // the path with its folder resolved, for kUnder
  std::string strProblem;   // WholenessProblem; empty when whole
};

// strPath with its folder made absolute and free of links; the name itself is kept,
// so a link is judged by where it lies, not by where it points.
std::string ResolvedLocation(const std::string& strPath) {
  size_t nSlash = strPath.find_last_of('/');
  std::string strFolder = nSlash == std::string::npos ? "." : strPath.substr(0, nSlash);
  if (strFolder.empty()) strFolder = "/";
  std::string strName = nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
  char szResolved[PATH_MAX];
  if (realpath(strFolder.c_str(), szResolved) == nullptr) return strPath;
  std::string strOut = szResolved;
  return (strOut == "/" ? "" : strOut) + "/" + strName;
}

// strDir absolute and free of links; a leading "~" is the home folder, since the shell
// does not expand it inside "under=~/...".
std::string ResolvedFolder(std::string strDir) {
  strDir = ExpandHome(strDir);
  char szResolved[PATH_MAX];
  std::string strOut = realpath(strDir.c_str(), szResolved) != nullptr ? szResolved : strDir;
  while (strOut.size() > 1 && strOut.back() == '/') strOut.pop_back();
  return strOut;
}

bool IsUnder(const std::string& strLocation, const std::string& strDir) {
  if (strDir == "/") return !strLocation.empty() && strLocation[0] == '/';
  return strLocation.size() > strDir.size() + 1 &&
         strLocation.compare(0, strDir.size(), strDir) == 0 && strLocation[strDir.size()] == '/';
}

template <typename T>
int Descending(T a, T b) {
  return a > b ? -1 : (a < b ? 1 : 0);
}

bool Measured(const Member& x, const Member& y) {
  return x.quality.bMeasured && y.quality.bMeasured;
}

// Whether x has silence added at an edge where y has none; unknown edges tell nothing.
bool AddedSilenceOver(const Quality& x, const Quality& y) {
  auto worse = [](int nX, int nY) {
    return nX > kAddedSilenceMs && nY >= 0 && nY < kNoAddedSilenceMs;
  };
  return worse(x.nAddedLeadMs, y.nAddedLeadMs) || worse(x.nAddedTrailMs, y.nAddedTrailMs);
}

bool ClippedOver(const Quality& x, const Quality& y) {
  return x.nClippedPpm >= kClippedPpm && y.nClippedPpm >= 0 && y.nClippedPpm < kCleanPpm;
}

// Bandwidths within kSameBandwidthHz or kSameBandwidthShare of the wider count as equal.
int CompareBandwidth(int nX, int nY) {
  if (nX < 0 || nY < 0) return 0;
  int nTolerance = std::max<int>(kSameBandwidthHz, std::max(nX, nY) * kSameBandwidthShare);
  if (std::abs(nX - nY) <= nTolerance) return 0;
  return Descending(nX, nY);
}

// 2 really lossless, 1 lossy, 0 a lossy source in a lossless codec: its many bits are
// a copy of a lossy file, so a lossy file of the same band (likely its source) goes first.
int LosslessRank(const Member& member) {
  if (!member.bLossless) return 1;
  return member.quality.bLossySource ? 0 : 2;
}

// The bitrate an MP3 would need to sound as good: Opus, Vorbis and AAC get more out of
// each bit.
double WeightedBitrate(const Member& member) {
  static const char* const kEfficient[] = {"Opus", "Ogg", "AAC", "M4A", "M4B", "MP4"};
  for (const char* pszFormat : kEfficient) {
    if (member.strFormat == pszFormat) return member.nBitrateKbps * kEfficientCodecWeight;
  }
  return member.nBitrateKbps;
}

// How many of title, artist and album the copy has.
int TagCount(const Member& member) {
  return !member.strTitle.empty() + !member.strArtist.empty() + !member.strAlbum.empty();
}

// < 0 when a goes before b.
int Compare(const Step& step, const Ranked& a, const Ranked& b) {
  const Member& x = a.member;
  const Member& y = b.member;
  switch (step.criterion) {
    case Criterion::kSameLength:
      if (x.nDurationMs <= 0 || y.nDurationMs <= 0) return 0;
      if (std::abs(x.nDurationMs - y.nDurationMs) <= kSameLengthMs) return 0;
      return Descending(x.nDurationMs, y.nDurationMs);
    case Criterion::kSilence:
      if (!Measured(x, y)) return 0;
      return Descending(AddedSilenceOver(y.quality, x.quality),
                        AddedSilenceOver(x.quality, y.quality));
    case Criterion::kClipping:
      if (!Measured(x, y)) return 0;
      return Descending(ClippedOver(y.quality, x.quality), ClippedOver(x.quality, y.quality));
    case Criterion::kStereo:
      if (!Measured(x, y) || x.quality.nStereo == TWINTONE_STEREO_UNKNOWN ||
          y.quality.nStereo == TWINTONE_STEREO_UNKNOWN) {
        return 0;
      }
      return Descending(x.quality.nStereo == TWINTONE_STEREO_TRUE,
                        y.quality.nStereo == TWINTONE_STEREO_TRUE);
    case Criterion::kBandwidth:
      if (!Measured(x, y)) return 0;
      return CompareBandwidth(x.quality.nBandwidthHz, y.quality.nBandwidthHz);
    case Criterion::kLossless:
      return Descending(LosslessRank(x), LosslessRank(y));
    case Criterion::kBitrate:
      // A lossless file's bitrate is how well it packs, and its bit depth: copies of
      // one band that both are really lossless sound alike whatever their bitrates.
      if (LosslessRank(x) == 2 && LosslessRank(y) == 2) return 0;
      return Descending(WeightedBitrate(x), WeightedBitrate(y));
    case Criterion::kTags:
      return Descending(TagCount(x), TagCount(y));
    case Criterion::kLength:
      return Descending(x.nDurationMs, y.nDurationMs);
    case Criterion::kSize:
      return Descending(x.nSizeBytes, y.nSizeBytes);
    case Criterion::kNewer:
    case Criterion::kOlder: {
      if (x.nModifiedNs == 0 || y.nModifiedNs == 0) return 0;  // unknown
      int nOrder = Descending(x.nModifiedNs, y.nModifiedNs);
      return step.criterion == Criterion::kNewer ? nOrder : -nOrder;
    }
    case Criterion::kUnder:
      return Descending(IsUnder(a.strLocation, step.strDir), IsUnder(b.strLocation, step.strDir));
    case Criterion::kPath:
      return x.strPath.compare(y.strPath) < 0 ? -1 : (x.strPath == y.strPath ? 0 : 1);
  }
  return 0;
}

std::vector<Step> StepsFor(const std::vector<KeepPolicy>& vecPolicies) {
  const std::vector<Step> kBest = {
      {Criterion::kSameLength, ""}, {Criterion::kSilence, ""},  {Criterion::kClipping, ""},
      {Criterion::kStereo, ""},     {Criterion::kBandwidth, ""}, {Criterion::kLossless, ""},
      {Criterion::kBitrate, ""},    {Criterion::kTags, ""}};
  std::vector<Step> vecSteps;
  bool bBest = false;
  for (const KeepPolicy& policy : vecPolicies) {
    switch (policy.rule) {
      case KeepRule::kBest:
        vecSteps.insert(vecSteps.end(), kBest.begin(), kBest.end());
        bBest = true;
        break;
      case KeepRule::kLongest:
        vecSteps.push_back({Criterion::kLength, ""});
        break;
      case KeepRule::kLargest:
        vecSteps.push_back({Criterion::kSize, ""});
        break;
      case KeepRule::kNewest:
        vecSteps.push_back({Criterion::kNewer, ""});
        break;
      case KeepRule::kOldest:
        vecSteps.push_back({Criterion::kOlder, ""});
        break;
      case KeepRule::kUnder:
        vecSteps.push_back({Criterion::kUnder, ResolvedFolder(policy.strDir)});
        break;
    }
  }
  if (!bBest) vecSteps.insert(vecSteps.end(), kBest.begin(), kBest.end());
  vecSteps.push_back({Criterion::kPath, ""});
  return vecSteps;
}

// The first step that tells a and b apart; the last (path) when none does.
size_t DecidingStep(const std::vector<Step>& vecSteps, const Ranked& a, const Ranked& b) {
  for (size_t i = 0; i < vecSteps.size(); ++i) {
    if (Compare(vecSteps[i], a, b) != 0) return i;
  }
  return vecSteps.size() - 1;
}

std::string FormatTime(int64_t nNs) {
  time_t nSeconds = static_cast<time_t>(nNs / 1000000000);
  struct tm parts;
  char szText[32];
  if (nNs == 0 || localtime_r(&nSeconds, &parts) == nullptr ||
      std::strftime(szText, sizeof(szText), "%Y-%m-%d %H:%M", &parts) == 0) {
    return "?";
  }
  return szText;
}

std::string FormatName(const Member& member) {
  return member.strFormat.empty() ? "unknown format" : member.strFormat;
}

std::string Kilohertz(int nHz) {
  char szText[32];
  std::snprintf(szText, sizeof(szText), "%.1f kHz", nHz / 1000.0);
  return szText;
}

std::string Seconds(int nMs) {
  char szText[32];
  std::snprintf(szText, sizeof(szText), "%.1f s", nMs / 1000.0);
  return szText;
}

// "kept: FLAC, lossless; others lossy": what the keeper has, and what the others (or,
// when they lose for different reasons, the next one) lack. Measures name the figure
// the others have: "kept: widest band, 19.8 kHz; others 11.0 kHz".
std::string KeepReason(const Step& step, const Member& keeper, const Member& next, bool bAll) {
  std::string strKept, strWord, strValue;
  const Quality& q = next.quality;
  switch (step.criterion) {
    case Criterion::kSilence:
      strKept = "no added silence";
      strWord = Seconds(std::max(q.nAddedLeadMs, q.nAddedTrailMs)) + " of silence added";
      break;
    case Criterion::kClipping:
      strKept = "not clipped";
      strWord = "clipped";
      strValue = std::to_string(q.nClippedPpm) + " per million";
      break;
    case Criterion::kStereo:
      strKept = "stereo";
      strWord = q.nStereo == TWINTONE_STEREO_DUAL_MONO ? "dual mono" : "mono";
      break;
    case Criterion::kBandwidth:
      strKept = "widest band, " + Kilohertz(keeper.quality.nBandwidthHz);
      strWord = Kilohertz(q.nBandwidthHz);
      break;
    case Criterion::kSameLength:
    case Criterion::kLength:
      strKept = "longest, " + FormatDuration(keeper.nDurationMs);
      strWord = "shorter";
      strValue = FormatDuration(next.nDurationMs);
      break;
    case Criterion::kLossless:
      strKept = FormatName(keeper) + (LosslessRank(keeper) == 2 ? ", lossless" : ", lossy");
      strWord = LosslessRank(next) == 0 ? "lossless container, lossy source" : "lossy";
      break;
    case Criterion::kBitrate:
      strKept = FormatName(keeper) + ", " + std::to_string(keeper.nBitrateKbps) + " kbit/s";
      if (WeightedBitrate(keeper) != keeper.nBitrateKbps) {
        strKept += " (as an MP3 of " +
                   std::to_string(static_cast<int>(WeightedBitrate(keeper) + 0.5)) + ")";
      }
      strWord = "lower bitrate";
      strValue = std::to_string(next.nBitrateKbps) + " kbit/s";
      break;
    case Criterion::kTags:
      strKept = "fullest tags, " + std::to_string(TagCount(keeper)) + " of title, artist, album";
      strWord = "fewer";
      strValue = std::to_string(TagCount(next));
      break;
    case Criterion::kSize:
      strKept = "largest, " + FormatBytes(keeper.nSizeBytes);
      strWord = "smaller";
      strValue = FormatBytes(next.nSizeBytes);
      break;
    case Criterion::kNewer:
    case Criterion::kOlder: {
      bool bNewer = step.criterion == Criterion::kNewer;
      strKept = std::string(bNewer ? "newest" : "oldest") + ", modified " +
                FormatTime(keeper.nModifiedNs);
      strWord = bNewer ? "older" : "newer";
      strValue = FormatTime(next.nModifiedNs);
      break;
    }
    case Criterion::kUnder:
      strKept = "under " + step.strDir;
      strWord = "outside it";
      break;
    case Criterion::kPath:
      strKept = "first by path";
      strWord = "alike by the policy";
      break;
  }
  return "kept: " + strKept + "; " + (bAll ? "others " : "next ") + strWord +
         (strValue.empty() ? "" : " (" + strValue + ")");
}

void OrderGroup(const std::vector<Step>& vecSteps, const WholenessContext& context,
                Group* pGroup) {
  std::vector<Ranked> vecRanked;
  for (Member& member : pGroup->vecMembers) {
    Ranked ranked{std::move(member), "", ""};
    ranked.strLocation = ResolvedLocation(ranked.member.strPath);
    ranked.strProblem = WholenessProblem(ranked.member, context);
    vecRanked.push_back(std::move(ranked));
  }
  std::stable_sort(vecRanked.begin(), vecRanked.end(), [&](const Ranked& a, const Ranked& b) {
    if (a.strProblem.empty() != b.strProblem.empty()) return a.strProblem.empty();
    for (const Step& step : vecSteps) {
      int nOrder = Compare(step, a, b);
      if (nOrder != 0) return nOrder < 0;
    }
    return false;
  });

  size_t nWhole = 0;
  while (nWhole < vecRanked.size() && vecRanked[nWhole].strProblem.empty()) ++nWhole;
  size_t nDamaged = vecRanked.size() - nWhole;
  pGroup->bUnsure = nWhole == 0;
  if (pGroup->bUnsure) {
    pGroup->strKeepReason = "unsure: every copy looks damaged, so all are kept";
  } else if (nWhole == 1) {
    pGroup->strKeepReason = "kept: the only whole copy";
  } else {
    size_t nStep = DecidingStep(vecSteps, vecRanked[0], vecRanked[1]);
    bool bAll = true;
    for (size_t i = 2; i < nWhole; ++i) {
      bAll = bAll && DecidingStep(vecSteps, vecRanked[0], vecRanked[i]) == nStep;
    }
    pGroup->strKeepReason =
        KeepReason(vecSteps[nStep], vecRanked[0].member, vecRanked[1].member, bAll);
    if (nDamaged > 0) {
      pGroup->strKeepReason += "; " + std::to_string(nDamaged) + " damaged, passed over";
    }
  }

  pGroup->vecMembers.clear();
  for (Ranked& ranked : vecRanked) {
    ranked.member.strPassedOver = ranked.strProblem;
    pGroup->vecMembers.push_back(std::move(ranked.member));
  }
}

}  // namespace

bool ParseKeepPolicies(const std::string& strList, std::vector<KeepPolicy>* pvecPolicies,
                       std::string* pstrError) {
  static const std::pair<const char*, KeepRule> kNames[] = {
      {"best", KeepRule::kBest},     {"longest", KeepRule::kLongest},
      {"largest", KeepRule::kLargest}, {"newest", KeepRule::kNewest},
      {"oldest", KeepRule::kOldest}};
  std::vector<KeepPolicy> vecPolicies;
  size_t nStart = 0;
  while (true) {
    size_t nComma = strList.find(',', nStart);
    std::string strName =
        strList.substr(nStart, nComma == std::string::npos ? std::string::npos : nComma - nStart);
    KeepPolicy policy;
    bool bKnown = false;
    if (strName.compare(0, 6, "under=") == 0) {
      policy.rule = KeepRule::kUnder;
      policy.strDir = strName.substr(6);
      bKnown = !policy.strDir.empty();
      if (!bKnown) {
        *pstrError = "--keep under= needs a folder, as in under=~/Music";
        return false;
      }
    }
    for (const auto& name : kNames) {
      if (strName == name.first) {
        policy.rule = name.second;
        bKnown = true;
      }
    }
    if (!bKnown) {
      *pstrError = "unknown policy '" + strName +
                   "' for --keep (choose from best, longest, largest, newest, oldest, under=DIR)";
      return false;
    }
    vecPolicies.push_back(policy);
    if (nComma == std::string::npos) break;
    nStart = nComma + 1;
  }
  *pvecPolicies = std::move(vecPolicies);
  return true;
}

std::string KeepPoliciesText(const std::vector<KeepPolicy>& vecPolicies) {
  std::string strText;
  for (const KeepPolicy& policy : vecPolicies) {
    static const char* const kNames[] = {"best", "longest", "largest", "newest", "oldest"};
    if (!strText.empty()) strText += ",";
    strText += policy.rule == KeepRule::kUnder ? "under=" + policy.strDir
                                               : kNames[static_cast<int>(policy.rule)];
  }
  return strText;
}

void ChooseKeepers(const std::vector<KeepPolicy>& vecPolicies, const WholenessContext& context,
                   std::vector<Group>* pvecGroups) {
  std::vector<Step> vecSteps = StepsFor(vecPolicies);
  for (Group& group : *pvecGroups) OrderGroup(vecSteps, context, &group);
  auto keeperPath = [](const Group& group) {
    return group.vecMembers.empty() ? std::string() : group.vecMembers.front().strPath;
  };
  std::stable_sort(pvecGroups->begin(), pvecGroups->end(),
                   [&](const Group& a, const Group& b) { return keeperPath(a) < keeperPath(b); });
}

}  // namespace twintone_cli
