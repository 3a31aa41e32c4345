// The two steps of a run for one record, keying and filing, with the run's
// settings. Worker thread, under hDataLock.
#include "engine/dedupe_music.h"
#include "engine/fingerprint_prefetch.h"
#include "engine/store_use.h"
#include "support/ostools.h"

using twintone::KeyOutcome;

twintone::KeyRules CDedupeMusic::KeyRulesOfRun() const {
  twintone::KeyRules rules;
  rules.nMatchFlags = nMatchFlags;
  rules.nFingerSeconds = nFingerSeconds;
  rules.bLooseText = ext_.nKeyCompare == TWINTONE_KEY_LOOSE;
  rules.tagText = {ext_.nTagTextMode, ext_.strLegacyEncoding};
  return rules;
}

twintone::FilingRules CDedupeMusic::FilingRulesOfRun() const {
  twintone::FilingRules rules;
  rules.bFingerprint = (nMatchFlags & TWINTONE_MATCH_FINGERPRINT) != 0;
  rules.bFast = ext_.nFiling == TWINTONE_FILING_FAST;
  rules.fThreshold = fThreshold;
  rules.pfnScorer = pfnFileScorer_;
  rules.pScan = pGroupScan_;
  rules.fNearFloor = static_cast<float>(ext_.nNearFloor) / 100.0f;
  return rules;
}

KeyOutcome CDedupeMusic::KeyRecord(InerMusicDedupInfo* pRecord) {
  if (!IsFileExists(pRecord->strPath)) return KeyOutcome::kMissing;
  if ((nMatchFlags & TWINTONE_MATCH_FINGERPRINT) != 0) {
    return DeepKeyRecord(pRecord, nFingerSeconds);
  }
  // Tags read ahead are the ones TextKey would read.
  if (pPrefetch_ != nullptr) pPrefetch_->TakeTags(pRecord);
  return twintone::TextKey(pRecord, KeyRulesOfRun());
}

KeyOutcome CDedupeMusic::DeepKeyRecord(InerMusicDedupInfo* pRecord, int nSeconds) {
  // A fingerprint computed ahead of the filing loop is the one computed here.
  KeyOutcome outcome = KeyOutcome::kKeyed;
  if (pPrefetch_ != nullptr && pPrefetch_->Take(pRecord, &outcome)) return outcome;
  return twintone::DeepKey(pRecord, nSeconds, KeyRulesOfRun().tagText, twintone::EngineCache());
}

twintone::FilingOutcome CDedupeMusic::FileRecord(InerMusicDedupInfo* pRecord) {
  return twintone::FileRecord(&mapGroups, pRecord, FilingRulesOfRun(), &filingIndex_);
}
