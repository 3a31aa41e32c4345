/* Both public headers compiled as C: the records' layouts and the flag values hosts
 * store, and the entry points linking and answering from C. */
#include <stddef.h>
#include <stdio.h>

#include "twintone_ext.h"

#define CHECK(cond)                                              \
  do {                                                           \
    if (!(cond)) {                                               \
      fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #cond); \
      return 1;                                                  \
    }                                                            \
  } while (0)

#define P sizeof(void*)
_Static_assert(sizeof(tagInMusicDedupInfo) == (P == 8 ? 64 : 44), "record size");
_Static_assert(offsetof(tagInMusicDedupInfo, nFileSize) == 4 * P, "nFileSize");
_Static_assert(offsetof(tagInMusicDedupInfo, pszPath) == 4 * P + 8, "pszPath");
_Static_assert(offsetof(tagInMusicDedupInfo, fSimilarity) == 5 * P + 12, "fSimilarity");
_Static_assert(offsetof(tagInMusicDedupInfo, nUserData) == 5 * P + 20, "nUserData");
_Static_assert(TWINTONE_MATCH_ARTIST == 0x400 && TWINTONE_MATCH_ALBUM == 0x800 &&
                   TWINTONE_MATCH_FINGERPRINT == 0x20000 && TWINTONE_MATCH_TITLE == 0x1000000 &&
                   TWINTONE_MATCH_SIZE == 0x10000000 && TWINTONE_MATCH_DURATION == 0x20000000,
               "flags hosts store");
#if UINTPTR_MAX == 0xffffffffffffffffu
_Static_assert(sizeof(twintone_file_info) == 72, "file record size");
_Static_assert(offsetof(twintone_file_info, pszReason) == 24, "pszReason");
_Static_assert(offsetof(twintone_file_info, nFileSize) == 48, "nFileSize");
_Static_assert(offsetof(twintone_file_info, nFlags) == 64, "nFlags");
#endif
_Static_assert(sizeof(twintone_quality) == 48, "quality record size");
_Static_assert(offsetof(twintone_quality, nBandwidthHz) == 16, "nBandwidthHz");
_Static_assert(offsetof(twintone_quality, nAddedLeadMs) == 36, "nAddedLeadMs");
_Static_assert(offsetof(twintone_quality, nMeasuredMs) == 44, "nMeasuredMs");

int main(void) {
  /* Without an engine every non-creating entry point answers -1. */
  CHECK(QuitDedupeThread() == -1 && PauseDedupeThread() == -1 && ContinueDedupeThread() == -1);
  CHECK(DedupeDealloc() == -1 && GetLoadCounts() == -1 && GetGroupIdCounts() == -1);
  CHECK(GetGroupRef(0, NULL, NULL, 0) == -1);
  CHECK(twintone_file_count() == 0);
  CHECK(twintone_set_tag_text_mode(TWINTONE_TAGTEXT_AS_STORED) == 0);
  CHECK(twintone_set_legacy_encoding("no-such-encoding") == -2);

  tagInMusicDedupInfo info = {"T", "A", "", "", 1000, 60000, "/nonexistent/c.mp3", 7, 0.0f, 128, 42};
  CHECK(AddToDedupeListsByInfo(&info) == 0 && AddToDedupeListsByInfo(&info) == -2);
  const uint32_t words[3] = {1, 2, 3};
  CHECK(twintone_set_fingerprint("/nonexistent/c.mp3", words, 3, 1000) == 0);
  CHECK(StartDedupeThread(NULL, NULL, TWINTONE_MATCH_TITLE, 0, 80) == 0);
  CHECK(GetLoadCounts() == 1 && GetGroupIdCounts() == 0);

  twintone_file_info file = {0};
  file.nStructSize = sizeof(file);
  CHECK(twintone_file_info_at(0, &file) == 0);
  CHECK(file.nOutcome == TWINTONE_OUTCOME_SKIPPED && file.nReason == TWINTONE_SKIP_MISSING);
  CHECK(file.nFingerLen == 3 && file.nDecodedMs == 1000 && file.nGroup == -1);
  twintone_quality quality = {0};
  quality.nStructSize = sizeof(quality);
  CHECK(twintone_quality_at(0, &quality) == 0 && quality.nFlags == 0 && quality.nAddedLeadMs == -1);
  CHECK(twintone_measure_quality("/nonexistent/c.mp3", &quality) == -2);
  CHECK(QuitDedupeThread() == 0 && DedupeDealloc() == 0 && GetLoadCounts() == 0);
  CHECK(match_fingerprints3(words, 3, words, 3, 1) == 1.0f);
  return 0;
}
