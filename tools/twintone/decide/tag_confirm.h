// Tag groups checked by ear: before anything is done to a tag group, each member is
// compared with the kept copy by fingerprint, and one that does not sound like it is
// set apart as "same tags, different recording".
#ifndef TWINTONE_TOOLS_DECIDE_TAG_CONFIRM_H
#define TWINTONE_TOOLS_DECIDE_TAG_CONFIRM_H

#include <functional>
#include <vector>

#include "common/run_report.h"
#include "scan/print_fetch.h"

namespace twintone_cli {

// For each group (kept copy first, as ChooseKeepers orders it): every other member
// whose fingerprint scores more than fThreshold against the kept copy's stays, with
// that score as its similarity; every other one (a lower score, or no fingerprint for
// it or for the kept copy) moves to vecDifferent, with its score or NaN. The kept copy
// gets 1. Members are only moved, never dropped.
void SplitDifferentRecordings(const FingerprintMap& mapPrints, float fThreshold,
                              std::vector<Group>* pvecGroups);

// Fingerprints every member of *pvecGroups (only those files; cached ones from the
// cache), gives each member how much of it decoded and has pfnRank order each group
// again with that known (a copy whose header claims more than it holds is no keeper),
// then splits the groups as above at settings.nSimilarity; a member marked "not a
// duplicate" of the kept copy in the cache is set apart too. False when the fingerprints
// could not be had (reported through pfnWarn): the groups are then unchecked and
// nothing of them may be acted on.
bool ConfirmTagGroups(const ScanSettings& settings, const RunReport& report,
                      const MessageSink& pfnWarn,
                      const std::function<void(std::vector<Group>*)>& pfnRank,
                      std::vector<Group>* pvecGroups);

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_DECIDE_TAG_CONFIRM_H
