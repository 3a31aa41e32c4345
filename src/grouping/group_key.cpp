// Grouping keys: the key text of text mode and the fingerprint of fingerprint mode.
// Runs on the worker thread under hDataLock.
#include <cstdio>
#include <string>

#include "analysis/fingerprint.h"
#include "analysis/tag_reader.h"
#include "audio_decoder.h"
#include "engine/dedupe_music.h"
#include "engine/fingerprint_prefetch.h"
#include "support/key_fold.h"

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

// Reads the record's tags into it; a file whose tags cannot be read is flagged and
// keeps what it had.
void ReadTagsInto(InerMusicDedupInfo* pRecord, const twintone::TagTextOptions& options) {
  DupMusicInfo info;
  if (twintone::ReadDupMusicInfo(pRecord->strPath.c_str(), &info, options) == 0) {
    CopyTags(info, pRecord);
  } else {
    pRecord->outcome.nFlags |= TWINTONE_FILE_TAGS_UNREAD;
  }
}

void TitleFromFileName(InerMusicDedupInfo* pRecord) {
  pRecord->strTitle = pRecord->strPath;
  GetPathShortName(pRecord->strTitle);
}

void AppendNumber(std::string* pKey, int32_t nValue) {
  char szBuffer[16];
  snprintf(szBuffer, sizeof(szBuffer), "%d", nValue);
  pKey->append(szBuffer);
}

}  // namespace

void ApplyPrefetchedTags(const PrefetchedKey& ahead, InerMusicDedupInfo* pRecord) {
  if (ahead.nTagResult == 0) {
    CopyTags(ahead.tags, pRecord);
  } else {
    pRecord->outcome.nFlags |= TWINTONE_FILE_TAGS_UNREAD;
  }
  if (pRecord->strTitle.empty()) TitleFromFileName(pRecord);
}

int CDedupeMusic::GetGroupKey(InerMusicDedupInfo* pRecord) {
  if (!IsFileExists(pRecord->strPath)) return -2;
  if ((nMatchFlags & TWINTONE_MATCH_FINGERPRINT) != 0) {
    return GetDeepKey(pRecord, nFingerSeconds);
  }

  std::string& strKey = pRecord->pGroupKey->strKey;
  strKey.clear();
  if (pRecord->strTitle.empty()) {
    ReadTagsInto(pRecord, TagTextSettings());
    std::string strBare = pRecord->strTitle;
    if (pRecord->strTitle.empty() || trim(strBare).empty()) TitleFromFileName(pRecord);
    if (pRecord->strTitle.empty()) return -4;
  }

  // Loose comparison folds the title and the artist in the key only; the record
  // keeps the text as read.
  const bool bLoose = ext.nKeyCompare == TWINTONE_KEY_LOOSE;
  if (nMatchFlags & TWINTONE_MATCH_TITLE) {
    strKey += bLoose ? twintone::FoldedKeyText(pRecord->strTitle) : pRecord->strTitle;
  }
  if (nMatchFlags & TWINTONE_MATCH_ARTIST) {
    const std::string strArtist =
        bLoose ? twintone::FoldedKeyText(pRecord->strArtist) : pRecord->strArtist;
    if (strArtist.empty()) return -5;
    strKey += strArtist;
  }
  if (nMatchFlags & TWINTONE_MATCH_ALBUM) {
    if (pRecord->strAlbum.empty()) return -6;
    strKey += pRecord->strAlbum;
  }
  if (nMatchFlags & TWINTONE_MATCH_SIZE) {
    if (pRecord->nFileSize == 0) return -7;
    AppendNumber(&strKey, pRecord->nFileSize);
  }
  if (nMatchFlags & TWINTONE_MATCH_DURATION) {
    if (pRecord->nDuration == 0) return -8;
    AppendNumber(&strKey, pRecord->nDuration);
  }
  return strKey.empty() ? -9 : 0;
}

int CDedupeMusic::GetDeepKey(InerMusicDedupInfo* pRecord, int nSeconds) {
  // A fingerprint computed ahead of the filing loop holds exactly what the steps
  // below would compute now.
  if (pPrefetch != nullptr) {
    int nResult = 0;
    if (pPrefetch->Take(pRecord, &nResult)) return nResult;
  }

  tagCChromaPrintInfo info{};
  if (pRecord->strTitle.empty() || pRecord->nDuration == 0) {
    ReadTagsInto(pRecord, TagTextSettings());
    if (pRecord->strTitle.empty()) TitleFromFileName(pRecord);
  }
  int nResult = GetMusicFinger(pRecord, &info, nSeconds);
  // The decoder task is released on every path, failed decodes included.
  if (info.handle != nullptr) DestroyConvertTask(&info.handle);
  return nResult == 0 ? 0 : -23;
}
