/*
 * twintone: finds duplicate music files for a host application.
 *
 * Conventions
 *  - Every entry point returns an int: 0 or a count on success, a negative code on
 *    failure. -1 always means one of: no engine yet, the engine is busy (a run holds
 *    the data lock), or a bad argument. Further codes are listed per function.
 *  - The engine is created by the first StartDedupeThread, AddToDedupeLists or
 *    AddToDedupeListsByInfo and lives until the process ends. Make that first call
 *    from one thread.
 *  - The callback runs on the library's worker thread, never on the host's. The start
 *    and progress events are sent while the worker holds the data lock: from inside
 *    them the host may call PauseDedupeThread, ContinueDedupeThread and
 *    QuitDedupeThread, but not GetLoadCounts, GetGroupIdCounts or GetGroupRef: the
 *    lock they wait for is held by the calling thread, so there they return -1 at
 *    once instead of waiting. Intake calls from there return -1 too. The end event is sent after the lock is released, so the
 *    results may be read from inside it.
 *  - Records returned by GetGroupRef belong to the library. Read them, do not free or
 *    change them, and stop using them (and their text pointers) at DedupeDealloc.
 *  - Records handed to AddToDedupeListsByInfo stay the host's: the library copies what
 *    it needs during the call. A null text pointer in them is taken as "".
 *  - No C++ exception ever leaves the library.
 */
#ifndef TWINTONE_H
#define TWINTONE_H

#include <stdint.h>

#if defined(TWINTONE_BUILDING_LIBRARY)
#define TWINTONE_EXPORT __attribute__((visibility("default")))
#else
#define TWINTONE_EXPORT
#endif

#define TWINTONE_VERSION_MAJOR 1
#define TWINTONE_VERSION_MINOR 0
#define TWINTONE_VERSION_PATCH 0

/* Grouping flags for StartDedupeThread's nMatchFlags. Text fields are joined, in the
 * order title, artist, album, size, duration, into one key; files with equal keys are
 * duplicates. TWINTONE_MATCH_FINGERPRINT ignores the text flags and groups by
 * acoustic fingerprint similarity instead. */
#define TWINTONE_MATCH_ARTIST 0x00000400      /* empty artist: file not grouped */
#define TWINTONE_MATCH_ALBUM 0x00000800       /* empty album: file not grouped */
#define TWINTONE_MATCH_FINGERPRINT 0x00020000 /* group by fingerprint */
#define TWINTONE_MATCH_TITLE 0x01000000       /* missing title: the file's bare name */
#define TWINTONE_MATCH_SIZE 0x10000000        /* file size 0: file not grouped */
#define TWINTONE_MATCH_DURATION 0x20000000    /* duration 0: file not grouped */

#ifdef __cplusplus
extern "C" {
#endif

/* One file as the host and the library exchange it. Laid out naturally (no packing);
 * hosts rely on this layout, so it never changes. */
typedef struct tagInMusicDedupInfo {
  const char* pszTitle;  /* UTF-8 when read from the file's tags */
  const char* pszArtist;
  const char* pszAlbum;
  const char* pszGenre;
  int32_t nFileSize;     /* bytes (low 32 bits) */
  int32_t nDuration;     /* milliseconds, whole seconds times 1000 when read from tags */
  const char* pszPath;   /* the path as stored by the library */
  int32_t nUserTag;      /* carried through, never interpreted */
  float fSimilarity;     /* score against the group's first member; 1.0 for the first */
  int32_t nBitrate;      /* kbit/s */
  int32_t nUserData;     /* the host's integer from AddToDedupeLists, or its record's */
} tagInMusicDedupInfo;

/* Host callback, always called on the worker thread with the host's pUser.
 *   code -1:          run started; data points at an int holding N, the file count.
 *   code 1..N:        file k was keyed and filed or skipped; data points at the
 *                     record's nUserData, text is its stored path.
 *   code N + 1:       run ended (also after a stop); data points at an int 0.
 * The ints behind data live only for the call. text is "" for start and end. */
typedef void (*DedupeNotifyProc)(void* data, int code, const char* text, void* user);

/* Creates the engine if needed, stores the configuration and starts a run on the
 * worker thread. nFingerSeconds: seconds to fingerprint (capped at 600; 0 or less:
 * the whole file). nPercent: fingerprint threshold in percent, 1..100; any other
 * value means 80. With pfn null the call returns when the run has ended; with a
 * callback it returns at once. Returns 0, or -1 when the thread cannot be created or
 * a run is already active. */
TWINTONE_EXPORT int StartDedupeThread(DedupeNotifyProc pfn, void* pUser, int nMatchFlags,
                                      int nFingerSeconds, int nPercent);
/* Holds the run before its next file. 0, or -1 without an engine. */
TWINTONE_EXPORT int PauseDedupeThread(void);
/* Lets a paused run go on; does not undo a stop. 0, or -1 without an engine. */
TWINTONE_EXPORT int ContinueDedupeThread(void);
/* Asks the run to stop and clears every loaded file, group and record. Returns 0, or
 * -1 without an engine or while a run still holds the data (call again after the end
 * event). Clear before the next run: a run over files already run files them again
 * and appends its groups after the earlier ones. */
TWINTONE_EXPORT int DedupeDealloc(void);
/* Number of loaded files. Stops an active run and waits for its end. -1: no engine. */
TWINTONE_EXPORT int GetLoadCounts(void);
/* Number of duplicate groups. Stops an active run and waits for its end. -1: no
 * engine. */
TWINTONE_EXPORT int GetGroupIdCounts(void);
/* Reads group nGroup: stores its member count in *pnCount and, when 0 <= nIndex <
 * count, member nIndex in *ppInfo (member 0 is the one to keep). Returns 0, or -1
 * without an engine or when nGroup is out of range (nothing written). Stops an active
 * run and waits for its end. */
TWINTONE_EXPORT int GetGroupRef(unsigned int nGroup, tagInMusicDedupInfo** ppInfo, int* pnCount,
                                int nIndex);
/* Adds one file (any name), or every supported audio file directly inside a
 * directory. nUserData is kept for a single file. Returns 0; -1 busy, null or a path
 * longer than 2048 bytes; -2 the file is already loaded; -3 nothing at that path. */
TWINTONE_EXPORT int AddToDedupeLists(const char* pszPath, int nUserData);
/* Adds one file described by the host; a non-empty title (and, for fingerprints, a
 * non-zero duration) means its tags are not read again. Returns 0; -1 busy or null;
 * -2 the path is already loaded. */
TWINTONE_EXPORT int AddToDedupeListsByInfo(const tagInMusicDedupInfo* pInfo);

/* Fingerprint scores from 0.0 to 1.0 of two raw Chromaprint fingerprints. For an
 * empty or negative length, or a null pointer, they return 0.0. */
/* Exact-word votes on the diagonals within 120 words. */
TWINTONE_EXPORT float match_fingerprints(const uint32_t* a, int asize, const uint32_t* b,
                                         int bsize);
/* Alignment by rare 14-bit keys, then bit error rate; maxoffset 0 means no limit. */
TWINTONE_EXPORT float match_fingerprints2(const uint32_t* a, int asize, const uint32_t* b,
                                          int bsize, int maxoffset);
/* Weighted votes (16 - differing bits) on the diagonals within maxoffset; a negative
 * maxoffset searches every diagonal, 0 none. The engine groups with this one. */
TWINTONE_EXPORT float match_fingerprints3(const uint32_t* a, int asize, const uint32_t* b,
                                          int bsize, int maxoffset);

/* Population-count masks, read-only. */
TWINTONE_EXPORT extern const uint64_t m1, m2, m4, m8, m16, m32, hff, h01;

#ifdef __cplusplus
} /* extern "C" */
#endif

#ifdef __cplusplus
#include <string>
#include <vector>

/* Asks a running or paused run to stop before its next file. 0, or -1 without an
 * engine. (Exported under its C++ name.) */
TWINTONE_EXPORT int QuitDedupeThread();

class InerMusicDedupInfo;

/* Tags and properties of one file as GetDupMusicInfo reads them. */
struct DupMusicInfo {
  std::string strTitle;  /* UTF-8; the file's bare name when the tag has none */
  std::string strArtist;
  std::string strAlbum;
  std::string strGenre;
  int64_t nFileSize = 0; /* bytes */
  int64_t nDuration = 0; /* milliseconds, whole seconds times 1000 */
  int64_t nBitrate = 0;  /* kbit/s */
};

/* Reads one file's tags. 0 read; -1 not a readable tagged file; -2 a standard
 * exception was raised (its text goes to standard error). */
TWINTONE_EXPORT int GetDupMusicInfo(const char* path, DupMusicInfo* info);
/* Removes every blank (0x20) in place; returns its argument. */
TWINTONE_EXPORT std::string& trim(std::string& s);

/* 1 when two equal-length fingerprints are the same recording under tolerance t, 0
 * when not, -1 for a null pointer, -2 for n below 100. */
TWINTONE_EXPORT int SimilarCompare(const int* first, const int* second, int n, int t);
/* True when newcomer outranks member: a higher bitrate (then a longer duration) while
 * the durations differ by less than 30 s, else the longer duration. */
TWINTONE_EXPORT bool IsMaxFinger(InerMusicDedupInfo* member, InerMusicDedupInfo* newcomer);

/* Appends the supported audio files directly inside directory to *files, printing
 * "load[path]" for each; always 0. */
TWINTONE_EXPORT int GetDirAllAudioFiles(const char* directory, std::vector<std::string>* files);

/* Path helpers; none keeps state. */
TWINTONE_EXPORT bool IsFileExists(std::string path);
TWINTONE_EXPORT bool IsDirExits(std::string path);
TWINTONE_EXPORT void string_replace(std::string& text, const std::string& pattern,
                                    const std::string& replacement);
TWINTONE_EXPORT void GetPathShortName(std::string& path);
TWINTONE_EXPORT std::string GetFilePosfix(std::string path);
TWINTONE_EXPORT bool IsSupportPos(const std::string& ext, const std::string& list);
TWINTONE_EXPORT std::string GetAppPath();

/* Text conversion. ANSIToUTF8 reads GBK; the wide-string ones return empty strings. */
TWINTONE_EXPORT std::string ANSIToUTF8(std::string text);
TWINTONE_EXPORT std::string UTF8ToANSI(std::string text);
TWINTONE_EXPORT std::string UnicodeToUTF8(const std::wstring& text);
TWINTONE_EXPORT std::wstring UTF8ToUnicode(std::string text);
TWINTONE_EXPORT std::wstring ANSIToUnicode(std::string text);
TWINTONE_EXPORT std::string UnicodeToANSI(const std::wstring& text);

#else /* C: QuitDedupeThread is reached under its C++ symbol. */
int QuitDedupeThread(void) __asm__("_Z16QuitDedupeThreadv");
#endif

#endif /* TWINTONE_H */
