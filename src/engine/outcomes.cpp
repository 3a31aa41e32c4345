// What became of each loaded file in the last run: set by the worker as it keys and
// files the records and builds the result groups, read through the extension header.
// Everything here runs under hDataLock.
#include <cstring>

#include "engine/dedupe_music.h"
#include "support/file_probe.h"

using twintone::ResultGroup;

namespace {

using twintone::FileAccess;
using twintone::FilingOutcome;
using twintone::KeyOutcome;

void Skip(InerMusicDedupInfo* pRecord, int32_t nReason) {
  pRecord->outcome.nOutcome = TWINTONE_OUTCOME_SKIPPED;
  pRecord->outcome.nReason = nReason;
}

// The reason when the file itself is at fault, else nOtherwise.
int32_t AccessReason(const std::string& strPath, int32_t nOtherwise) {
  switch (twintone::ProbeFile(strPath)) {
    case FileAccess::kMissing:
      return TWINTONE_SKIP_MISSING;
    case FileAccess::kNotRegular:
      return TWINTONE_SKIP_NOT_REGULAR;
    case FileAccess::kUnreadable:
      return TWINTONE_SKIP_UNREADABLE;
    case FileAccess::kReadable:
      break;
  }
  return nOtherwise;
}

}  // namespace

const char* twintone::SkipReasonText(int32_t nReason) {
  switch (nReason) {
    case TWINTONE_SKIP_MISSING:
      return "missing";
    case TWINTONE_SKIP_NOT_REGULAR:
      return "not a regular file";
    case TWINTONE_SKIP_UNREADABLE:
      return "unreadable";
    case TWINTONE_SKIP_NO_TAGS:
      return "no usable tags";
    case TWINTONE_SKIP_UNDECODABLE:
      return "undecodable";
    case TWINTONE_SKIP_TOO_SHORT:
      return "too short for a fingerprint";
    case TWINTONE_SKIP_KEY_COLLISION:
      return "equal-key collision";
    default:
      return "";
  }
}

void CDedupeMusic::ResetOutcomes() {
  for (auto& entry : mapLoaded) {
    InerMusicDedupInfo::Outcome& outcome = entry.second->outcome;
    // Tags are read once per record: a failed read stays true for later runs.
    const uint32_t nKept = outcome.nFlags & TWINTONE_FILE_TAGS_UNREAD;
    outcome = InerMusicDedupInfo::Outcome();
    outcome.nFlags = nKept;
    entry.second->quality = twintone::QualityMeasures();
    entry.second->bQualityFromStore = false;
    entry.second->pNearFounder = nullptr;
    entry.second->fNearScore = 0.0f;
  }
}

void CDedupeMusic::NoteKeyFailure(InerMusicDedupInfo* pRecord, KeyOutcome outcome) {
  const std::string& strPath = pRecord->strPath;
  if (outcome == KeyOutcome::kMissing) {
    // Nothing answered at the path; a file that appeared since counts as missing.
    Skip(pRecord, AccessReason(strPath, TWINTONE_SKIP_MISSING));
  } else if (outcome == KeyOutcome::kNoFingerprint) {
    Skip(pRecord, AccessReason(strPath, TWINTONE_SKIP_UNDECODABLE));
  } else if ((pRecord->outcome.nFlags & TWINTONE_FILE_TAGS_UNREAD) != 0) {
    Skip(pRecord, AccessReason(strPath, TWINTONE_SKIP_NO_TAGS));
  } else {
    Skip(pRecord, TWINTONE_SKIP_NO_TAGS);
  }
}

void CDedupeMusic::NoteFiling(InerMusicDedupInfo* pRecord, FilingOutcome outcome) {
  switch (outcome) {
    case FilingOutcome::kFiled:
      // Alone until the result groups show it in one.
      pRecord->outcome.nOutcome = TWINTONE_OUTCOME_ALONE;
      break;
    case FilingOutcome::kTooShort:
      Skip(pRecord, TWINTONE_SKIP_TOO_SHORT);
      break;
    case FilingOutcome::kKeyCollision:
      Skip(pRecord, TWINTONE_SKIP_KEY_COLLISION);
      break;
  }
}

void CDedupeMusic::NoteResultGroups(size_t nFirstGroup) {
  for (size_t g = nFirstGroup; g < vecGroups.size(); ++g) {
    const ResultGroup& group = *vecGroups[g];
    for (size_t m = 0; m < group.size(); ++m) {
      auto found = mapLoaded.find(group[m]->pszPath);
      if (found == mapLoaded.end()) continue;
      InerMusicDedupInfo::Outcome& outcome = found->second->outcome;
      if (outcome.nOutcome == TWINTONE_OUTCOME_GROUPED) continue;  // listed twice
      outcome.nOutcome = TWINTONE_OUTCOME_GROUPED;
      outcome.nGroup = static_cast<int32_t>(g);
      outcome.nMember = static_cast<int32_t>(m);
    }
  }
}

const InerMusicDedupInfo* CDedupeMusic::RecordAt(int nIndex) {
  if (nIndex < 0 || static_cast<size_t>(nIndex) >= mapLoaded.size()) return nullptr;
  // Intake only adds records and DedupeDealloc clears this cache, so an order of the
  // table's size (with the same ends, compared as addresses only) is the table's order.
  if (vecFileOrder_.size() != mapLoaded.size() ||
      vecFileOrder_.front() != mapLoaded.begin()->second ||
      vecFileOrder_.back() != mapLoaded.rbegin()->second) {
    vecFileOrder_.clear();
    vecFileOrder_.reserve(mapLoaded.size());
    for (const auto& entry : mapLoaded) vecFileOrder_.push_back(entry.second);
  }
  return vecFileOrder_[static_cast<size_t>(nIndex)];
}

int CDedupeMusic::FileInfoAt(int nIndex, twintone_file_info* pInfo) {
  const InerMusicDedupInfo* pRecord = RecordAt(nIndex);
  if (pRecord == nullptr) return -2;
  const InerMusicDedupInfo& record = *pRecord;
  const uint32_t nStructSize = pInfo->nStructSize;
  memset(pInfo, 0, sizeof(*pInfo));
  pInfo->nStructSize = nStructSize;
  pInfo->pszPath = record.strPath.c_str();
  pInfo->nOutcome = record.outcome.nOutcome;
  pInfo->nReason = record.outcome.nReason;
  pInfo->pszReason = twintone::SkipReasonText(record.outcome.nReason);
  pInfo->nGroup = record.outcome.nGroup;
  pInfo->nMember = record.outcome.nMember;
  pInfo->nDecodedMs = record.nDecodedMs;
  pInfo->nFingerLen = record.pGroupKey != nullptr ? record.pGroupKey->nFingerLen : 0;
  pInfo->nFileSize = record.nFileSize64 != 0 ? record.nFileSize64 : record.nFileSize;
  pInfo->nDurationMs = record.nDuration;
  pInfo->nBitrate = record.nBitrate;
  pInfo->nFlags = record.outcome.nFlags | (record.bFromStore ? TWINTONE_FILE_FROM_STORE : 0u);
  return 0;
}
