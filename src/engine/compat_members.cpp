// The engine's exported member functions that hosts link against. Each forwards to
// the layer that does the work and reports the outcome in the numbers hosts know.
#include "analysis/fingerprint.h"
#include "engine/dedupe_music.h"

int CDedupeMusic::GetGroupKey(InerMusicDedupInfo* pRecord) {
  return twintone::KeyResultCode(KeyRecord(pRecord));
}

int CDedupeMusic::GetDeepKey(InerMusicDedupInfo* pRecord, int nSeconds) {
  return twintone::KeyResultCode(DeepKeyRecord(pRecord, nSeconds));
}

void CDedupeMusic::AddToReaptList(InerMusicDedupInfo* pRecord) { FileRecord(pRecord); }

int CDedupeMusic::GetMusicFinger(InerMusicDedupInfo* pRecord, tagCChromaPrintInfo* pInfo,
                                 int nSeconds) {
  if (pRecord == nullptr || pRecord->pGroupKey == nullptr) return -11;
  GroupKey* pKey = pRecord->pGroupKey;
  if (pKey->nFingerLen >= 1) return 0;
  return twintone::ExtractFingerprint(pRecord->strPath.c_str(), pRecord->nDuration, pInfo,
                                      nSeconds, nullptr, &pKey->pFinger, &pKey->nFingerLen,
                                      &pRecord->nDecodedMs);
}
