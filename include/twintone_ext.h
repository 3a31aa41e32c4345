/*
 * twintone extensions: powers a host opts into, beside twintone.h.
 *
 * Conventions (those of twintone.h, plus what is said here)
 *  - C ABI, every name prefixed twintone_. A host that never calls a function of this
 *    header sees exactly the library of twintone.h: every default below is today's
 *    behaviour.
 *  - Every function returns an int: 0 or a count on success, a negative code on
 *    failure. -1 always means: the engine is busy (a run holds the data lock), or a
 *    bad argument. Further codes are listed per function.
 *  - The setters create the engine if needed (as AddToDedupeLists does) and refuse with
 *    -1 while a run is active: a run reads its settings once, when it starts. Settings
 *    stay until changed; DedupeDealloc does not reset them.
 *  - The readers wait for an active run to end (without stopping it); called from
 *    inside the start or progress events they return -1 at once instead.
 *  - Text handed back (paths, reasons) belongs to the library; it stays valid until
 *    DedupeDealloc or the next run, whichever comes first. Reason texts are static.
 *  - Fingerprints cross this header as raw Chromaprint words: uint32_t, Chromaprint's
 *    default algorithm, computed from 11025 Hz mono 16-bit PCM of the file's first N
 *    seconds (N as given to StartDedupeThread, capped at 600).
 *  - No C++ exception ever leaves the library.
 */
#ifndef TWINTONE_EXT_H
#define TWINTONE_EXT_H

#include <stdint.h>

#include "twintone.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Tag text --------------------------------------------------------------------- */

/* How tag text is turned into UTF-8.
 *   TWINTONE_TAGTEXT_LEGACY (default): any text whose characters all fit in one byte
 *     is taken as single-byte legacy text and converted from the legacy encoding,
 *     whatever the file stored (twintone.h's behaviour).
 *   TWINTONE_TAGTEXT_AS_STORED: only text the file stores in single-byte form (ID3v1,
 *     ID3v2 frames marked Latin-1) is converted from the legacy encoding; text the file
 *     stores as Unicode (Vorbis comments, MP4 atoms, APE, ID3v2 UTF-8 and UTF-16
 *     frames) is taken as it is. No byte is dropped: a single-byte string that is not
 *     valid in the legacy encoding is read, as a whole, as Windows-1252 (its five
 *     undefined bytes as the C1 controls U+0081, U+008D, U+008F, U+0090, U+009D), so
 *     two different stored strings read alike only when they hold the same characters,
 *     one in each encoding. */
#define TWINTONE_TAGTEXT_LEGACY 0
#define TWINTONE_TAGTEXT_AS_STORED 1
/* 0, or -1 busy or an unknown mode. */
TWINTONE_EXPORT int twintone_set_tag_text_mode(int nMode);

/* The encoding single-byte tag text is read in: any name iconv knows ("gbk",
 * "latin1", "cp1252", "shift_jis"...). NULL or "" restores the default, "gbk".
 * 0; -1 busy; -2 iconv does not know the name (the setting is unchanged). */
TWINTONE_EXPORT int twintone_set_legacy_encoding(const char* pszIconvName);

/* How tag mode compares key text.
 *   TWINTONE_KEY_EXACT (default): byte for byte (twintone.h's behaviour).
 *   TWINTONE_KEY_LOOSE: titles and artists compared case-folded, with blanks trimmed
 *     at both ends and runs of blanks inside collapsed to one, Unicode-aware (full
 *     case folding and Unicode white space). Albums, sizes and durations stay exact. */
#define TWINTONE_KEY_EXACT 0
#define TWINTONE_KEY_LOOSE 1
/* 0, or -1 busy or an unknown mode. */
TWINTONE_EXPORT int twintone_set_key_compare(int nMode);

/* ---- What became of each loaded file ---------------------------------------------- */

/* Outcomes. */
#define TWINTONE_OUTCOME_PENDING 0 /* not reached: no run yet, or the run was stopped */
#define TWINTONE_OUTCOME_GROUPED 1 /* in a result group (nGroup tells which) */
#define TWINTONE_OUTCOME_ALONE 2   /* keyed and filed, but no other file matched it */
#define TWINTONE_OUTCOME_SKIPPED 3 /* left out of the grouping; nReason tells why */

/* Why a file was skipped. */
#define TWINTONE_SKIP_NONE 0
#define TWINTONE_SKIP_MISSING 1       /* nothing exists at the path */
#define TWINTONE_SKIP_NOT_REGULAR 2   /* a folder, FIFO, device or socket */
#define TWINTONE_SKIP_UNREADABLE 3    /* exists but cannot be opened for reading */
#define TWINTONE_SKIP_NO_TAGS 4       /* tag mode: a field the grouping needs is empty */
#define TWINTONE_SKIP_UNDECODABLE 5   /* fingerprint mode: the audio could not be decoded */
#define TWINTONE_SKIP_TOO_SHORT 6     /* fingerprint mode: under 20 fingerprint words */
#define TWINTONE_SKIP_KEY_COLLISION 7 /* fingerprint mode: an equal map key was taken */

typedef struct twintone_file_info {
  uint32_t nStructSize; /* set by the host to sizeof(twintone_file_info) */
  const char* pszPath;  /* the stored path */
  int32_t nOutcome;     /* TWINTONE_OUTCOME_* */
  int32_t nReason;      /* TWINTONE_SKIP_*; TWINTONE_SKIP_NONE unless skipped */
  const char* pszReason; /* short English text for nReason ("" for none); static */
  int32_t nGroup;       /* result group index for GROUPED, else -1 */
  int32_t nMember;      /* index within that group, else -1 */
  int32_t nDecodedMs;   /* fingerprint mode: milliseconds of audio decoded; -1 unknown */
  int32_t nFingerLen;   /* fingerprint mode: words in the fingerprint; 0 none */
  int64_t nFileSize;    /* bytes as read from the tags' file, 64 bits; 0 unknown */
  int32_t nDurationMs;  /* as in the record */
  int32_t nBitrate;     /* as in the record */
  uint32_t nFlags;      /* TWINTONE_FILE_* bits */
} twintone_file_info;

/* nFlags bits. */
#define TWINTONE_FILE_TAGS_UNREAD 0x1 /* the run could not read the file's tags; its title
                                         is its file name */
#define TWINTONE_FILE_FROM_STORE 0x2  /* the fingerprint came from the store */

/* Number of loaded files (as GetLoadCounts, but without stopping a run). */
TWINTONE_EXPORT int twintone_file_count(void);
/* Fills *pInfo for loaded file nIndex, 0 <= nIndex < twintone_file_count(), in the
 * load table's order (ascending byte order of the stored paths, the order of the
 * progress events). 0; -1 busy, null, or pInfo->nStructSize too small; -2 nIndex out
 * of range. */
TWINTONE_EXPORT int twintone_file_info_at(int nIndex, twintone_file_info* pInfo);

/* ---- Fingerprints in and out ------------------------------------------------------ */

/* Copies the fingerprint of the loaded file pszPath (a stored path) into pWords, at
 * most nCapacity words. Returns the fingerprint's full length in words (0 when it has
 * none); with pWords NULL or nCapacity 0 only the length. -1 busy or null path; -2 not
 * loaded. */
TWINTONE_EXPORT int twintone_get_fingerprint(const char* pszPath, uint32_t* pWords,
                                             int nCapacity);
/* Gives the loaded file pszPath a fingerprint, so a fingerprint run does not decode
 * it. The words are copied. nDecodedMs is the audio it covers (for the outcome), -1
 * unknown. 0; -1 busy, null or nWords < 1; -2 not loaded. */
TWINTONE_EXPORT int twintone_set_fingerprint(const char* pszPath, const uint32_t* pWords,
                                             int nWords, int32_t nDecodedMs);

/* ---- The fingerprint store -------------------------------------------------------- */

/* Opens (creating if needed) a persistent fingerprint store, an SQLite database, and
 * uses it in every later fingerprint run: a file unchanged since it was stored (path,
 * size, modification time in nanoseconds, device, inode; same seconds, decoder and
 * fingerprint version) is not decoded; one moved or renamed but otherwise unchanged
 * (size, modification time, hash of its first and last 64 KiB) takes over its entry
 * once nothing like it is left at the old path (a file still there, a hard link or a
 * copy keeps it), and one entry goes to one file per run; fresh fingerprints are
 * written back. Each file keeps one entry per seconds value. A store that fails later
 * (full disk, corruption) is dropped for the rest of the run and the run goes on
 * without it. A file that is not a store (another program's database, an empty file,
 * anything else) or a store of a newer version is refused without a byte written.
 * 0; -1 busy or null; -2 cannot be opened or created; -3 written by a newer version;
 * -4 not a store or damaged. twintone_store_message() says more. Opening another store
 * closes the current one first. */
TWINTONE_EXPORT int twintone_open_store(const char* pszPath);
/* Closes the store; 0 also when none is open; -1 busy. */
TWINTONE_EXPORT int twintone_close_store(void);
/* Drops every entry (of every seconds value) whose file is gone. Returns how many
 * entries were dropped; -1 busy; -2 no store open or it failed. */
TWINTONE_EXPORT int twintone_prune_store(void);
/* Counts of the last fingerprint run: files whose fingerprint came from the store, and
 * fingerprints written to it. 0; -1 busy or null. */
TWINTONE_EXPORT int twintone_store_stats(int* pnReused, int* pnWritten);
/* A message about the store's last failure or warning (English, one line), or "" when
 * none. Static until the next store call. */
TWINTONE_EXPORT const char* twintone_store_message(void);

/* ---- Copies that are not duplicates ----------------------------------------------- */

/* A person may say that two copies the library grouped are not duplicates. The open
 * store remembers such pairs by fingerprint identity, so a copy renamed or moved keeps
 * its mark; the library itself still groups them, the host keeps them apart.
 * An identity is FNV-1a 64 of the fingerprint's words, each as four little-endian
 * bytes: it belongs to the fingerprint of the seconds the run took, not to the path. */
/* The identity of the loaded file pszPath (a stored path) after a fingerprint run.
 * 0; -1 busy or null; -2 not loaded, or no fingerprint. */
TWINTONE_EXPORT int twintone_fingerprint_identity(const char* pszPath, uint64_t* pnIdentity);
/* Marks the two identities as not duplicates (in either order; again is no change).
 * 0; -1 busy, or the two are one; -2 no store open, or it failed. */
TWINTONE_EXPORT int twintone_mark_distinct(uint64_t nIdentityA, uint64_t nIdentityB);
/* Readers, which wait for a run to end: 1 when the pair is marked, 0 when not; -1
 * from inside an event; -2 no store open, or it failed. */
TWINTONE_EXPORT int twintone_is_distinct(uint64_t nIdentityA, uint64_t nIdentityB);
/* Forgets every pair: the number forgotten; -1 busy; -2 no store open, or it failed. */
TWINTONE_EXPORT int twintone_forget_distinct(void);
/* The number of marked pairs; -1 and -2 as twintone_is_distinct. */
TWINTONE_EXPORT int twintone_distinct_count(void);

/* ---- Filing large libraries ------------------------------------------------------- */

/* Fingerprint filing strategy.
 *   TWINTONE_FILING_EXACT (default): every group the engine's order would score is
 *     considered; bounds that prove a group cannot pass may skip its scoring, so the
 *     groups are exactly those of plain filing.
 *   TWINTONE_FILING_FAST: only groups found through an index of fingerprint sub-keys
 *     are scored (always with the exact scorer, so no false pair is added); a true
 *     duplicate can be missed in the cases docs/ lists. */
#define TWINTONE_FILING_EXACT 0
#define TWINTONE_FILING_FAST 1
/* 0; -1 busy or an unknown strategy. */
TWINTONE_EXPORT int twintone_set_filing(int nStrategy);

/* Advice for a host choosing the strategy: the most files that exact filing files in
 * about a minute on this computer. Exact filing compares each file with every group
 * before it, so its time grows with the square of the number of files; the figure
 * depends on the fingerprint comparison this processor runs (AVX-512, AVX2 or
 * neither) and grows with the square root of its cores. Above it, TWINTONE_FILING_FAST
 * files in seconds what exact filing would take many minutes or hours for. Measured on
 * distinct 120-second fingerprints (longer ones cost more). Always positive; needs no
 * engine and changes nothing. */
TWINTONE_EXPORT int twintone_exact_filing_limit(void);

/* ---- What each grouped copy sounds like ------------------------------------------- */

/* Quality measures, taken from a file's audio at its own rate and channels over a few
 * one-second windows: after its first sound, through it, and at its end (about 5 s of
 * audio in all, whatever its length), so that a host can tell which copy of a group is
 * the better one by what it sounds like rather than by what it claims. docs/host-guide.md
 * says how each is measured and one way to rank copies by them.
 *
 * Opt-in: with twintone_set_quality(1) every later run, after filing, measures each
 * file that ended in one of its result groups (and no other), on one thread per core,
 * before the end event. With a store open (twintone_open_store) a file measured before
 * and unchanged since (path, size, modification time, device, inode) is read from it
 * instead, and fresh measures are written to it; this holds in tag mode too. A stop
 * request ends the measuring: files not reached read as unmeasured. Music files are
 * only ever read. */

/* nStereo: which channels carry the music. */
#define TWINTONE_STEREO_UNKNOWN 0   /* not measured, or silent */
#define TWINTONE_STEREO_TRUE 1      /* two or more channels carrying different audio */
#define TWINTONE_STEREO_MONO 2      /* one channel, or one that carries all the audio */
#define TWINTONE_STEREO_DUAL_MONO 3 /* two channels carrying the same audio, at equal or
                                       different levels */

/* nFlags bits. */
#define TWINTONE_QUALITY_MEASURED 0x1 /* the audio was decoded and measured; without it
                                         every other field is unknown */
#define TWINTONE_QUALITY_LOSSY_EDGE 0x2 /* the spectrum ends in a sharp low-pass edge
                                           (tens of dB within a few hundred Hz) well
                                           below Nyquist, as a lossy encoder, or a copy
                                           made from a lower sample rate, leaves */
#define TWINTONE_QUALITY_LOSSLESS 0x4   /* the file's codec is lossless (FLAC, ALAC,
                                           WavPack, PCM...) */
#define TWINTONE_QUALITY_LOSSY_SOURCE 0x8 /* LOSSLESS and LOSSY_EDGE: a lossless
                                             container holding a lossy source; rank it
                                             as lossy of nBandwidthHz */
#define TWINTONE_QUALITY_FROM_STORE 0x10  /* read from the store, not measured now */
#define TWINTONE_QUALITY_LEAD_CAPPED 0x20 /* the lead silence is at least the value
                                             given, which is the longest looked for */
#define TWINTONE_QUALITY_TRAIL_CAPPED 0x40 /* the same for the trailing silence */

typedef struct twintone_quality {
  uint32_t nStructSize;    /* set by the host to sizeof(twintone_quality) */
  uint32_t nFlags;         /* TWINTONE_QUALITY_* bits */
  int32_t nSampleRate;     /* Hz, as the file stores its audio; 0 unknown */
  int32_t nChannels;       /* as the file stores its audio; 0 unknown */
  int32_t nBandwidthHz;    /* effective bandwidth: the highest frequency still carrying
                              the music's energy above the floor (0 for silence); -1
                              unknown */
  int32_t nStereo;         /* TWINTONE_STEREO_* */
  int32_t nClippedPpm;     /* samples at full scale in runs of two or more, per million
                              samples measured; -1 unknown */
  int32_t nLeadSilenceMs;  /* silence (below -60 dBFS) before the first sound; -1
                              unknown */
  int32_t nTrailSilenceMs; /* silence after the last sound; -1 unknown */
  int32_t nAddedLeadMs;    /* read in a group: nLeadSilenceMs less the least lead silence
                              among the group's measured members; -1 otherwise */
  int32_t nAddedTrailMs;   /* the same for the trailing silence */
  int32_t nMeasuredMs;     /* audio the spectrum, stereo and clipping measures cover */
} twintone_quality;

/* Turns the measuring of grouped files on (bOn non-zero) or off (default). 0; -1 busy. */
TWINTONE_EXPORT int twintone_set_quality(int bOn);
/* Fills *pQuality for loaded file nIndex, in twintone_file_info_at's order, with what
 * the last run measured (nFlags without TWINTONE_QUALITY_MEASURED when it measured
 * nothing for the file). 0; -1 busy, null or nStructSize too small; -2 nIndex out of
 * range. */
TWINTONE_EXPORT int twintone_quality_at(int nIndex, twintone_quality* pQuality);
/* The same for the loaded file pszPath (a stored path). 0; -1 busy, null or nStructSize
 * too small; -2 not loaded. */
TWINTONE_EXPORT int twintone_quality_of(const char* pszPath, twintone_quality* pQuality);
/* Measures the file at pszPath now, on the calling thread, whether loaded or not. Needs
 * no engine, takes no lock and touches no store, so any thread may call it at any time,
 * from inside the events too. nAddedLeadMs and nAddedTrailMs are -1. 0 measured; -1
 * null or nStructSize too small; -2 no audio could be decoded from the file (*pQuality
 * then holds what is known, without TWINTONE_QUALITY_MEASURED). */
TWINTONE_EXPORT int twintone_measure_quality(const char* pszPath, twintone_quality* pQuality);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* TWINTONE_EXT_H */
