// Choosing the copy to keep in each group. The library puts a group's best-ranked
// member first by its own rule; the command orders the members again, as the user
// asked with --keep, after setting aside copies that look damaged:
//
//   1. A whole copy always goes before a damaged one (see WholenessProblem). When
//      every copy of a group looks damaged the group is "unsure": all are kept.
//   2. The policies, in the order given; a tie goes on to the next policy:
//        best     a copy more than kSameLengthMs shorter than another is taken for
//                 cut short and loses; among copies of the same length, by what the
//                 run measured (when it measured both): no silence added at an edge
//                 where the other has none, not clipped where the other is not (the
//                 figures in run_report.h), true stereo over mono and dual mono, the
//                 wider band (beyond the tolerance below); then really lossless beats
//                 lossy (a lossy source in a lossless codec is lossy), then the higher
//                 bitrate, an Opus, Vorbis or AAC stream's weighted as an MP3's of
//                 kEfficientCodecWeight times the rate
//        longest  the longer playing time      largest  the bigger file
//        newest   the later modification time  oldest   the earlier one
//        under=DIR  a file inside DIR (at any depth) beats one outside it
//   3. When every policy ties: best, then the path in byte order.
#ifndef TWINTONE_TOOLS_DECIDE_KEEPER_H
#define TWINTONE_TOOLS_DECIDE_KEEPER_H

#include <string>
#include <vector>

#include "common/run_report.h"

namespace twintone_cli {

// One --keep policy; see above for what each means.
enum class KeepRule { kBest, kLongest, kLargest, kNewest, kOldest, kUnder };
struct KeepPolicy {
  KeepRule rule = KeepRule::kBest;
  std::string strDir;  // kUnder: the folder whose files win, as given
};


// Lengths closer than this count as the same length under best.
constexpr int kSameLengthMs = 5000;
// Bandwidths closer than the larger of these count as the same under best: encoders of
// one class, and the measure itself, differ by a few hundred Hz.
constexpr int kSameBandwidthHz = 500;
constexpr double kSameBandwidthShare = 0.05;
constexpr double kEfficientCodecWeight = 1.4;

// Parses a comma-separated list of policies ("under=/music,best"). False with a reason
// for an unknown or empty policy or an under= without a folder.
bool ParseKeepPolicies(const std::string& strList, std::vector<KeepPolicy>* pvecPolicies,
                       std::string* pstrError);
// The policies written back as the user would type them.
std::string KeepPoliciesText(const std::vector<KeepPolicy>& vecPolicies);

// What the run asked of the library, for judging what a file's decode should yield.
struct WholenessContext {
  bool bFingerprint = false;
  int nSeconds = 0;  // seconds fingerprinted; 0 the whole file
};

// Why a member looks damaged, in one line for the report ("truncated: ..."); empty when
// it looks whole. Judged from its size against the playing time and bitrate its header
// claims, and in fingerprint mode from how much audio the decoder delivered; a copy
// with no playing time at all cannot be shown whole and counts as damaged.
std::string WholenessProblem(const Member& member, const WholenessContext& context);

// Orders every group's members keeper first, sets strPassedOver, strKeepReason and
// bUnsure, then sorts the groups by their keeper's path.
void ChooseKeepers(const std::vector<KeepPolicy>& vecPolicies, const WholenessContext& context,
                   std::vector<Group>* pvecGroups);

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_DECIDE_KEEPER_H
