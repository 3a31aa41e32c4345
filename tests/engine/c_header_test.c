/* The public header compiled as C: the record's layout is what hosts rely on, and
 * the entry points, QuitDedupeThread included, link from C. */
#include <stddef.h>
#include <stdio.h>

#include "twintone.h"

#define CHECK(cond)                                     \
  do {                                                  \
    if (!(cond)) {                                      \
      fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #cond); \
      return 1;                                         \
    }                                                   \
  } while (0)

#if UINTPTR_MAX == 0xffffffffffffffffu
_Static_assert(sizeof(tagInMusicDedupInfo) == 64, "record size");
_Static_assert(offsetof(tagInMusicDedupInfo, pszTitle) == 0, "pszTitle");
_Static_assert(offsetof(tagInMusicDedupInfo, pszArtist) == 8, "pszArtist");
_Static_assert(offsetof(tagInMusicDedupInfo, pszAlbum) == 16, "pszAlbum");
_Static_assert(offsetof(tagInMusicDedupInfo, pszGenre) == 24, "pszGenre");
_Static_assert(offsetof(tagInMusicDedupInfo, nFileSize) == 32, "nFileSize");
_Static_assert(offsetof(tagInMusicDedupInfo, nDuration) == 36, "nDuration");
_Static_assert(offsetof(tagInMusicDedupInfo, pszPath) == 40, "pszPath");
_Static_assert(offsetof(tagInMusicDedupInfo, nUserTag) == 48, "nUserTag");
_Static_assert(offsetof(tagInMusicDedupInfo, fSimilarity) == 52, "fSimilarity");
_Static_assert(offsetof(tagInMusicDedupInfo, nBitrate) == 56, "nBitrate");
_Static_assert(offsetof(tagInMusicDedupInfo, nUserData) == 60, "nUserData");
#endif

int main(void) {
  /* Without an engine every non-creating entry point answers -1. */
  CHECK(QuitDedupeThread() == -1);
  CHECK(PauseDedupeThread() == -1);
  CHECK(GetGroupIdCounts() == -1);

  tagInMusicDedupInfo info = {"Title", "Artist", "", "", 1000, 60000, "/nonexistent/c.mp3",
                              7, 0.0f, 128, 42};
  CHECK(AddToDedupeListsByInfo(&info) == 0);
  CHECK(AddToDedupeListsByInfo(&info) == -2);
  CHECK(GetLoadCounts() == 1);
  CHECK(StartDedupeThread(NULL, NULL, TWINTONE_MATCH_TITLE, 0, 80) == 0);
  CHECK(GetGroupIdCounts() == 0);
  CHECK(QuitDedupeThread() == 0);
  CHECK(DedupeDealloc() == 0);
  CHECK(GetLoadCounts() == 0);

  const uint32_t words[3] = {1, 2, 3};
  CHECK(match_fingerprints3(words, 3, words, 3, 1) == 1.0f);
  return 0;
}
