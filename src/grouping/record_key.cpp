// Grouping keys: the key text of text mode and the fingerprint of fingerprint mode.
#include "grouping/record_key.h"

#include <cstdio>
#include <cstdlib>

#include "analysis/fingerprint.h"
#include "support/key_fold.h"

namespace twintone {

namespace {

// Copies what the tag reader found into the record, the numbers cut to 32 bits.
void CopyTags(const DupMusicInfo& info, InerMusicDedupInfo* pRecord) {
  pRecord->strTitle = info.strTitle;
  pRecord->strArtist = info.strArtist;
  pRecord->strAlbum = info.strAlbum;
  pRecord->strGenre = info.strGenre;
  pRecord->nFileSize = static_cast<int32_t>(info.nFileSize);
  pRecord->nDuration = static_cast<int32_t>(info.nDuration);
  pRecord->nBitrate = static_cast<int32_t>(info.nBitrate);
  pRecord->nFileSize64 = info.nFileSize;
  pRecord->outcome.nFlags &= ~TWINTONE_FILE_TAGS_UNREAD;
}

void AppendNumber(std::string* pKey, int32_t nValue) {
  char szBuffer[16];
  snprintf(szBuffer, sizeof(szBuffer), "%d", nValue);
  pKey->append(szBuffer);
}

}  // namespace

int KeyResultCode(KeyOutcome outcome) {
  switch (outcome) {
    case KeyOutcome::kKeyed:
      return 0;
    case KeyOutcome::kMissing:
      return -2;
    case KeyOutcome::kNoTitle:
      return -4;
    case KeyOutcome::kNoArtist:
      return -5;
    case KeyOutcome::kNoAlbum:
      return -6;
    case KeyOutcome::kNoSize:
      return -7;
    case KeyOutcome::kNoDuration:
      return -8;
    case KeyOutcome::kEmptyKey:
      return -9;
    case KeyOutcome::kNoFingerprint:
      return -23;
  }
  return -9;
}

void ApplyReadTags(int nTagResult, const DupMusicInfo& tags, InerMusicDedupInfo* pRecord) {
  if (nTagResult == 0) {
    CopyTags(tags, pRecord);  // the reader already gave a blank title the file's name
    return;
  }
  pRecord->outcome.nFlags |= TWINTONE_FILE_TAGS_UNREAD;
  if (pRecord->strTitle.empty()) FallBackToFileName(&pRecord->strTitle, pRecord->strPath);
}

void ReadTagsInto(InerMusicDedupInfo* pRecord, const TagTextOptions& tagText) {
  DupMusicInfo tags;
  ApplyReadTags(ReadDupMusicInfo(pRecord->strPath.c_str(), &tags, tagText), tags, pRecord);
}

KeyOutcome TextKey(InerMusicDedupInfo* pRecord, const KeyRules& rules) {
  std::string& strKey = pRecord->pGroupKey->strKey;
  strKey.clear();
  if (pRecord->strTitle.empty()) {
    ReadTagsInto(pRecord, rules.tagText);
    if (pRecord->strTitle.empty()) return KeyOutcome::kNoTitle;
  }

  // Loose comparison folds the title and the artist in the key only; the record
  // keeps the text as read.
  const int32_t nFlags = rules.nMatchFlags;
  if (nFlags & TWINTONE_MATCH_TITLE) {
    strKey += rules.bLooseText ? FoldedKeyText(pRecord->strTitle) : pRecord->strTitle;
  }
  if (nFlags & TWINTONE_MATCH_ARTIST) {
    const std::string strArtist =
        rules.bLooseText ? FoldedKeyText(pRecord->strArtist) : pRecord->strArtist;
    if (strArtist.empty()) return KeyOutcome::kNoArtist;
    strKey += strArtist;
  }
  if (nFlags & TWINTONE_MATCH_ALBUM) {
    if (pRecord->strAlbum.empty()) return KeyOutcome::kNoAlbum;
    strKey += pRecord->strAlbum;
  }
  if (nFlags & TWINTONE_MATCH_SIZE) {
    if (pRecord->nFileSize == 0) return KeyOutcome::kNoSize;
    AppendNumber(&strKey, pRecord->nFileSize);
  }
  if (nFlags & TWINTONE_MATCH_DURATION) {
    if (pRecord->nDuration == 0) return KeyOutcome::kNoDuration;
    AppendNumber(&strKey, pRecord->nDuration);
  }
  return strKey.empty() ? KeyOutcome::kEmptyKey : KeyOutcome::kKeyed;
}

DeepKeyParts::~DeepKeyParts() { free(pFinger); }

DeepKeyJob DeepKeyJobFor(const InerMusicDedupInfo& record) {
  DeepKeyJob job;
  job.strPath = record.strPath;
  job.nDuration = record.nDuration;
  job.bReadTags = record.strTitle.empty() || record.nDuration == 0;
  job.bHasFinger = record.pGroupKey->nFingerLen >= 1;
  return job;
}

void ComputeDeepKeyParts(const DeepKeyJob& job, int nSeconds, const TagTextOptions& tagText,
                         FingerprintCache* pCache, const std::atomic<bool>* pbCancel,
                         DeepKeyParts* pParts) {
  int32_t nDuration = job.nDuration;
  if (job.bReadTags) {
    pParts->nTagResult = ReadDupMusicInfo(job.strPath.c_str(), &pParts->tags, tagText);
    if (pParts->nTagResult == 0) nDuration = static_cast<int32_t>(pParts->tags.nDuration);
  }
  if (job.bHasFinger) return;
  if (pCache != nullptr) {
    pParts->stored =
        pCache->LookUp(job.strPath, nSeconds, nDuration, &pParts->pFinger, &pParts->nFingerLen);
    if (pParts->stored.bHit) return;
  }
  pParts->nFingerResult = FingerprintFile(job.strPath.c_str(), nDuration, nSeconds, pbCancel,
                                          &pParts->pFinger, &pParts->nFingerLen,
                                          &pParts->nDecodedMs);
}

KeyOutcome ApplyDeepKeyParts(const DeepKeyJob& job, DeepKeyParts* pParts,
                             InerMusicDedupInfo* pRecord, FingerprintCache* pCache) {
  if (job.bReadTags) ApplyReadTags(pParts->nTagResult, pParts->tags, pRecord);
  GroupKey* pKey = pRecord->pGroupKey;
  if (pKey->nFingerLen < 1 && pParts->nFingerResult == 0 && pParts->pFinger != nullptr) {
    pKey->ReplaceFinger(pParts->pFinger, pParts->nFingerLen);
    pParts->pFinger = nullptr;
  }
  if (pParts->nDecodedMs >= 0) pRecord->nDecodedMs = pParts->nDecodedMs;
  const bool bKeyed = pParts->nFingerResult == 0;
  if (pCache != nullptr) pCache->Settle(pParts->stored, pRecord, bKeyed);
  return bKeyed ? KeyOutcome::kKeyed : KeyOutcome::kNoFingerprint;
}

KeyOutcome DeepKey(InerMusicDedupInfo* pRecord, int nSeconds, const TagTextOptions& tagText,
                   FingerprintCache* pCache) {
  const DeepKeyJob job = DeepKeyJobFor(*pRecord);
  DeepKeyParts parts;
  ComputeDeepKeyParts(job, nSeconds, tagText, pCache, nullptr, &parts);
  return ApplyDeepKeyParts(job, &parts, pRecord, pCache);
}

}  // namespace twintone
