/* The extension header compiled as C: the file record's layout, and its entry points
 * linking and answering from C. */
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

#if UINTPTR_MAX == 0xffffffffffffffffu
_Static_assert(sizeof(twintone_file_info) == 72, "record size");
_Static_assert(offsetof(twintone_file_info, nStructSize) == 0, "nStructSize");
_Static_assert(offsetof(twintone_file_info, pszPath) == 8, "pszPath");
_Static_assert(offsetof(twintone_file_info, nOutcome) == 16, "nOutcome");
_Static_assert(offsetof(twintone_file_info, nReason) == 20, "nReason");
_Static_assert(offsetof(twintone_file_info, pszReason) == 24, "pszReason");
_Static_assert(offsetof(twintone_file_info, nGroup) == 32, "nGroup");
_Static_assert(offsetof(twintone_file_info, nMember) == 36, "nMember");
_Static_assert(offsetof(twintone_file_info, nDecodedMs) == 40, "nDecodedMs");
_Static_assert(offsetof(twintone_file_info, nFingerLen) == 44, "nFingerLen");
_Static_assert(offsetof(twintone_file_info, nFileSize) == 48, "nFileSize");
_Static_assert(offsetof(twintone_file_info, nDurationMs) == 56, "nDurationMs");
_Static_assert(offsetof(twintone_file_info, nBitrate) == 60, "nBitrate");
_Static_assert(offsetof(twintone_file_info, nFlags) == 64, "nFlags");
#endif

int main(void) {
  CHECK(twintone_file_count() == 0);
  CHECK(twintone_set_tag_text_mode(TWINTONE_TAGTEXT_AS_STORED) == 0);
  CHECK(twintone_set_legacy_encoding("latin1") == 0);
  CHECK(twintone_set_legacy_encoding("no-such-encoding") == -2);
  CHECK(twintone_set_key_compare(TWINTONE_KEY_LOOSE) == 0);

  tagInMusicDedupInfo record = {"T", "A", "", "", 1000, 60000, "/nonexistent/c.mp3",
                                0, 0.0f, 128, 0};
  CHECK(AddToDedupeListsByInfo(&record) == 0);
  const uint32_t words[3] = {1, 2, 3};
  CHECK(twintone_set_fingerprint("/nonexistent/c.mp3", words, 3, 1000) == 0);
  uint32_t back[3] = {0, 0, 0};
  CHECK(twintone_get_fingerprint("/nonexistent/c.mp3", back, 3) == 3 && back[2] == 3);
  CHECK(StartDedupeThread(NULL, NULL, TWINTONE_MATCH_TITLE, 0, 80) == 0);

  twintone_file_info info = {0};
  info.nStructSize = sizeof(info);
  CHECK(twintone_file_count() == 1);
  CHECK(twintone_file_info_at(0, &info) == 0);
  CHECK(info.nOutcome == TWINTONE_OUTCOME_SKIPPED && info.nReason == TWINTONE_SKIP_MISSING);
  CHECK(info.nFingerLen == 3 && info.nDecodedMs == 1000 && info.nGroup == -1);
  CHECK(twintone_file_info_at(1, &info) == -2);
  return 0;
}
