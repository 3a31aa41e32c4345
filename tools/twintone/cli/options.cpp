#include "cli/options.h"

#include <iconv.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "decide/keeper.h"
#include "twintone.h"

namespace twintone_cli {
namespace {

struct FieldName {
  const char* pszName;
  int nFlag;
};

// In the order the library joins them into a key.
constexpr FieldName kFields[] = {
    {"title", TWINTONE_MATCH_TITLE},       {"artist", TWINTONE_MATCH_ARTIST},
    {"album", TWINTONE_MATCH_ALBUM},       {"size", TWINTONE_MATCH_SIZE},
    {"duration", TWINTONE_MATCH_DURATION},
};

// Whole decimal integer in [nMin, nMax]; no sign games, no trailing text.
bool ParseBoundedInt(const std::string& strText, int nMin, int nMax, int* pnValue) {
  if (strText.empty() || strText.size() > 9) return false;
  for (char c : strText) {
    if (c < '0' || c > '9') return false;
  }
  long nValue = std::strtol(strText.c_str(), nullptr, 10);
  if (nValue < nMin || nValue > nMax) return false;
  *pnValue = static_cast<int>(nValue);
  return true;
}

// Whether iconv can read text in strName.
bool IsKnownEncoding(const std::string& strName) {
  if (strName.empty()) return false;
  iconv_t hConverter = iconv_open("UTF-8", strName.c_str());
  if (hConverter == reinterpret_cast<iconv_t>(-1)) return false;
  iconv_close(hConverter);
  return true;
}

enum class OptionId {
  kRecursive,
  kFollowSymlinks,
  kBy,
  kFingerprint,
  kSeconds,
  kSimilarity,
  kFast,
  kJson,
  kCsv,
  kQuiet,
  kVerbose,
  kMove,
  kDryRun,
  kKeep,
  kLoose,
  kLegacyEncoding,
  kTrash,
  kLink,
  kJournal,
  kHtml,
  kApply,
  kUndo,
  kHelp,
  kVersion,
  kCache,
  kNoCache,
  kPruneCache,
  kPrintFingerprints,
  kNoWait
};

struct OptionDef {
  const char* pszLong;
  char cShort;  // 0: long form only
  bool bTakesValue;
  OptionId id;
};

constexpr OptionDef kOptionDefs[] = {
    {"recursive", 'r', false, OptionId::kRecursive},
    {"follow-symlinks", 0, false, OptionId::kFollowSymlinks},
    {"by", 0, true, OptionId::kBy},
    {"fingerprint", 'f', false, OptionId::kFingerprint},
    {"seconds", 0, true, OptionId::kSeconds},
    {"similarity", 0, true, OptionId::kSimilarity},
    {"fast", 0, false, OptionId::kFast},
    {"json", 0, false, OptionId::kJson},
    {"csv", 0, false, OptionId::kCsv},
    {"quiet", 'q', false, OptionId::kQuiet},
    {"verbose", 'v', false, OptionId::kVerbose},
    {"move-duplicates", 0, true, OptionId::kMove},
    {"dry-run", 'n', false, OptionId::kDryRun},
    {"keep", 0, true, OptionId::kKeep},
    {"loose", 0, false, OptionId::kLoose},
    {"legacy-encoding", 0, true, OptionId::kLegacyEncoding},
    {"trash", 0, false, OptionId::kTrash},
    {"link", 0, true, OptionId::kLink},
    {"journal", 0, true, OptionId::kJournal},
    {"html", 0, true, OptionId::kHtml},
    {"apply", 0, true, OptionId::kApply},
    {"undo", 0, true, OptionId::kUndo},
    {"help", 'h', false, OptionId::kHelp},
    {"version", 'V', false, OptionId::kVersion},
    {"cache", 0, true, OptionId::kCache},
    {"no-cache", 0, false, OptionId::kNoCache},
    {"prune-cache", 0, false, OptionId::kPruneCache},
    {"print-fingerprints", 0, false, OptionId::kPrintFingerprints},
    {"no-wait", 0, false, OptionId::kNoWait},
};

const OptionDef* FindLong(const std::string& strName) {
  for (const OptionDef& def : kOptionDefs) {
    if (strName == def.pszLong) return &def;
  }
  return nullptr;
}

const OptionDef* FindShort(char c) {
  for (const OptionDef& def : kOptionDefs) {
    if (def.cShort == c) return &def;
  }
  return nullptr;
}

// Applies one option. Returns false with *pstrError set for a bad value.
bool Apply(const OptionDef& def, const std::string& strValue, Options* pOptions, bool* pbBy,
           bool* pbFingerprintOnly, ParseOutcome* pOutcome, std::string* pstrError) {
  switch (def.id) {
    case OptionId::kRecursive:
      pOptions->bRecursive = true;
      break;
    case OptionId::kFollowSymlinks:
      pOptions->bFollowSymlinks = true;
      break;
    case OptionId::kBy:
      *pbBy = true;
      pOptions->nMatchFlags = 0;
      pOptions->vecFields.clear();
      return ParseFields(strValue, &pOptions->nMatchFlags, &pOptions->vecFields, pstrError);
    case OptionId::kFingerprint:
      pOptions->bFingerprint = true;
      break;
    case OptionId::kSeconds:
      *pbFingerprintOnly = true;
      if (!ParseBoundedInt(strValue, 0, 600, &pOptions->nSeconds)) {
        *pstrError =
            "--seconds takes a whole number from 0 (the whole file) to 600, not '" + strValue + "'";
        return false;
      }
      break;
    case OptionId::kSimilarity: {
      *pbFingerprintOnly = true;
      std::string strNumber = strValue;
      if (!strNumber.empty() && strNumber.back() == '%') strNumber.pop_back();
      if (!ParseBoundedInt(strNumber, 1, 100, &pOptions->nSimilarity)) {
        *pstrError = "--similarity takes a whole percentage from 1 to 100, not '" + strValue + "'";
        return false;
      }
      break;
    }
    case OptionId::kFast:
      *pbFingerprintOnly = true;
      pOptions->bFast = true;
      break;
    case OptionId::kJson:
      pOptions->format = OutputFormat::kJson;
      break;
    case OptionId::kCsv:
      pOptions->format = OutputFormat::kCsv;
      break;
    case OptionId::kQuiet:
      pOptions->bQuiet = true;
      break;
    case OptionId::kVerbose:
      pOptions->bVerbose = true;
      break;
    case OptionId::kMove:
      if (strValue.empty()) {
        *pstrError = "--move-duplicates needs a folder";
        return false;
      }
      pOptions->strMoveDir = strValue;
      break;
    case OptionId::kDryRun:
      pOptions->bDryRun = true;
      break;
    case OptionId::kKeep:
      return ParseKeepPolicies(strValue, &pOptions->vecKeep, pstrError);
    case OptionId::kLoose:
      pOptions->bLoose = true;
      break;
    case OptionId::kLegacyEncoding:
      if (!IsKnownEncoding(strValue)) {
        *pstrError = "unknown encoding '" + strValue +
                     "' for --legacy-encoding (any name iconv knows, such as latin1, cp1252, gbk)";
        return false;
      }
      pOptions->strLegacyEncoding = strValue;
      break;
    case OptionId::kTrash:
      pOptions->bTrash = true;
      break;
    case OptionId::kLink:
      if (strValue != "hard" && strValue != "symbolic") {
        *pstrError = "--link takes hard or symbolic, not '" + strValue + "'";
        return false;
      }
      pOptions->strLink = strValue;
      break;
    case OptionId::kJournal:
    case OptionId::kHtml:
    case OptionId::kApply:
    case OptionId::kUndo: {
      std::string* pstrTarget = def.id == OptionId::kJournal ? &pOptions->strJournal
                                : def.id == OptionId::kHtml  ? &pOptions->strHtml
                                : def.id == OptionId::kApply ? &pOptions->strApply
                                                             : &pOptions->strUndo;
      if (strValue.empty()) {
        *pstrError = std::string("--") + def.pszLong + " needs a file name";
        return false;
      }
      *pstrTarget = strValue;
      break;
    }
    case OptionId::kHelp:
      *pOutcome = ParseOutcome::kHelp;
      break;
    case OptionId::kVersion:
      if (*pOutcome != ParseOutcome::kHelp) *pOutcome = ParseOutcome::kVersion;
      break;
    case OptionId::kCache:
      if (strValue.empty()) {
        *pstrError = "--cache needs a file";
        return false;
      }
      pOptions->strCacheFile = strValue;
      break;
    case OptionId::kNoCache:
      pOptions->bNoCache = true;
      break;
    case OptionId::kPruneCache:
      pOptions->bPruneCache = true;
      break;
    case OptionId::kPrintFingerprints:
      *pbFingerprintOnly = true;
      pOptions->bPrintFingerprints = true;
      break;
    case OptionId::kNoWait:
      pOptions->bNoWait = true;
      break;
  }
  return true;
}

}  // namespace

bool ParseFields(const std::string& strList, int* pnFlags, std::vector<std::string>* pvecFields,
                 std::string* pstrError) {
  int nFlags = 0;
  size_t nStart = 0;
  while (true) {
    size_t nComma = strList.find(',', nStart);
    std::string strName =
        strList.substr(nStart, nComma == std::string::npos ? std::string::npos : nComma - nStart);
    if (strName.empty()) {
      *pstrError = "--by takes field names separated by commas, such as title,artist";
      return false;
    }
    const FieldName* pField = nullptr;
    for (const FieldName& field : kFields) {
      if (strName == field.pszName) pField = &field;
    }
    if (pField == nullptr) {
      *pstrError = "unknown field '" + strName +
                   "' for --by (choose from title, artist, album, size, duration)";
      return false;
    }
    if (nFlags & pField->nFlag) {
      *pstrError = "field '" + strName + "' is given twice to --by";
      return false;
    }
    nFlags |= pField->nFlag;
    if (nComma == std::string::npos) break;
    nStart = nComma + 1;
  }
  pvecFields->clear();
  for (const FieldName& field : kFields) {
    if (nFlags & field.nFlag) pvecFields->push_back(field.pszName);
  }
  *pnFlags = nFlags;
  return true;
}

ParseOutcome ParseOptions(int argc, char* const argv[], Options* pOptions, std::string* pstrError) {
  *pOptions = Options();
  pstrError->clear();
  ParseOutcome outcome = ParseOutcome::kRun;
  bool bBy = false;
  bool bFingerprintOnly = false;
  bool bJson = false;
  bool bCsv = false;
  bool bOptionsEnded = false;
  auto fail = [pstrError](const std::string& strReason) {
    *pstrError = strReason;
    return ParseOutcome::kUsageError;
  };

  // --help answers whatever else the line holds, mistakes included.
  for (int i = 1; i < argc; ++i) {
    std::string strArg = argv[i];
    if (strArg == "--") break;
    if (strArg == "--help" || strArg == "-h") return ParseOutcome::kHelp;
  }

  for (int i = 1; i < argc; ++i) {
    std::string strArg = argv[i];
    if (bOptionsEnded || strArg.size() < 2 || strArg[0] != '-') {
      pOptions->vecPaths.push_back(strArg);
      continue;
    }
    if (strArg == "--") {
      bOptionsEnded = true;
      continue;
    }
    std::vector<std::pair<const OptionDef*, std::string>> vecFound;
    if (strArg.compare(0, 2, "--") == 0) {
      size_t nEqual = strArg.find('=');
      std::string strName =
          strArg.substr(2, nEqual == std::string::npos ? std::string::npos : nEqual - 2);
      const OptionDef* pDef = FindLong(strName);
      if (pDef == nullptr) return fail("unknown option '--" + strName + "'");
      std::string strValue;
      if (pDef->bTakesValue) {
        if (nEqual != std::string::npos) {
          strValue = strArg.substr(nEqual + 1);
        } else if (i + 1 < argc) {
          strValue = argv[++i];
        } else {
          return fail("option '--" + strName + "' needs a value");
        }
      } else if (nEqual != std::string::npos) {
        return fail("option '--" + strName + "' takes no value");
      }
      vecFound.emplace_back(pDef, strValue);
    } else {
      for (size_t j = 1; j < strArg.size(); ++j) {
        const OptionDef* pDef = FindShort(strArg[j]);
        if (pDef == nullptr) return fail(std::string("unknown option '-") + strArg[j] + "'");
        vecFound.emplace_back(pDef, std::string());
      }
    }
    for (const auto& found : vecFound) {
      if (found.first->id == OptionId::kJson) bJson = true;
      if (found.first->id == OptionId::kCsv) bCsv = true;
      if (!Apply(*found.first, found.second, pOptions, &bBy, &bFingerprintOnly, &outcome,
                 pstrError)) {
        return ParseOutcome::kUsageError;
      }
    }
  }

  if (outcome != ParseOutcome::kRun) return outcome;
  if (bFingerprintOnly) pOptions->bFingerprint = true;
  if (bBy && pOptions->bFingerprint) {
    return fail("--by groups by tags and cannot be combined with fingerprint options");
  }
  if (pOptions->bLoose && pOptions->bFingerprint) {
    return fail("--loose compares tags and cannot be combined with fingerprint options");
  }
  if (bJson && bCsv) return fail("choose one of --json and --csv");
  int nActions = !pOptions->strMoveDir.empty() + pOptions->bTrash + !pOptions->strLink.empty();
  if (nActions > 1) return fail("choose one of --move-duplicates, --trash and --link");
  if (pOptions->bDryRun && nActions == 0) {
    return fail("--dry-run only applies to --move-duplicates, --trash or --link");
  }
  if (pOptions->bNoCache && (pOptions->bPruneCache || !pOptions->strCacheFile.empty())) {
    return fail("--no-cache cannot be combined with --cache or --prune-cache");
  }
  if (pOptions->bPrintFingerprints && (bJson || bCsv)) {
    return fail("--print-fingerprints replaces the report; leave out --json and --csv");
  }
  if (!pOptions->strUndo.empty() && (nActions > 0 || !pOptions->vecPaths.empty() ||
                                     !pOptions->strApply.empty())) {
    return fail("--undo JOURNAL takes no paths and no other action");
  }
  if (!pOptions->strApply.empty()) {
    if (!pOptions->vecPaths.empty()) return fail("--apply PLAN takes no paths");
    if (nActions == 0) return fail("--apply PLAN needs --move-duplicates DIR, --trash or --link");
  }
  bool bNoScan = !pOptions->strUndo.empty() || !pOptions->strApply.empty() ||
                pOptions->bPruneCache;
  if (pOptions->vecPaths.empty() && !bNoScan) return fail("no file or folder given");
  if (!pOptions->bFingerprint && !bBy) {
    pOptions->nMatchFlags = TWINTONE_MATCH_TITLE | TWINTONE_MATCH_ARTIST;
    pOptions->vecFields = {"title", "artist"};
  }
  if (pOptions->bFingerprint) {
    pOptions->nMatchFlags = TWINTONE_MATCH_FINGERPRINT;
    pOptions->vecFields.clear();
  }
  return ParseOutcome::kRun;
}

std::string VersionText() { return std::string("twintone ") + TWINTONE_CLI_VERSION + "\n"; }

std::string HelpText(const std::string& strProgram) {
  return "Usage: " + strProgram + " [options] PATH...\n       " + strProgram +
         " --apply PLAN (--move-duplicates DIR | --trash | --link KIND)\n       " + strProgram +
         " --undo JOURNAL\n" +
         R"(Finds duplicate music files among the given files and folders.

A folder contributes the audio files directly inside it (aac alac ac3 aif aiff ape flac
m4a mp4 mp3 mp2 mp1 mpa mpc ogg tta wav wma wv opus oga m4b m4r); a file given by
name is taken whatever its name. Every other file met in a folder is listed as left
out, with the reason: not audio, hidden (a name beginning with a dot), symbolic link,
unreadable, path too long, or "same file as" another name of a file already taken.
A file reached under several names (a linked folder, "..", given twice) is taken once.

Grouping:
  --by FIELDS          group files whose tags agree on FIELDS, a comma-separated list of
                       title, artist, album, size, duration (default: title,artist).
                       A file with no title tag uses its file name; a file lacking any
                       other chosen field is not grouped.
  -f, --fingerprint    group files that sound the same, by acoustic fingerprint
      --seconds N      seconds of audio to fingerprint, 1..600, or 0 for the whole file
                       (default 120; implies --fingerprint)
      --similarity P   percent of fingerprint agreement that makes a duplicate, 1..100
                       (default 80; implies --fingerprint)
      --fast           compare each file only with groups that share exact fingerprint
                       words with it: much faster on large libraries, may miss a
                       heavily altered copy (implies --fingerprint)

Input:
  -r, --recursive      also take every folder below the given folders (symbolic links
                       to folders are followed, each folder is taken once; hidden
                       folders are not entered)
      --follow-symlinks
                       take the file a symbolic link points to, under its real path
                       (default: links to files are left out)

Tags:
      --loose          compare titles and artists ignoring case and extra blanks
      --legacy-encoding NAME
                       read single-byte tag text (ID3v1, ID3v2 Latin-1 frames) in NAME,
                       any encoding iconv knows, such as cp1252 or latin1 (default gbk)

Output:
      --json           one JSON document on standard output
      --csv            CSV (RFC 4180) on standard output, one row per file examined
                       (both layouts: twintone(1) and docs/reports.md)
  -q, --quiet          no progress bar
  -v, --verbose        one line per scanned file on standard error

Keeping:
      --keep POLICY[,POLICY...]
                       which copy of each group to keep (default best)
  Each group lists the copy to keep first, then the others best first. A copy that
  looks damaged (far smaller than its length and bitrate imply, or with --fingerprint
  decoding far short) is never kept over a whole one; when every copy of a group looks
  damaged, all are kept and none is moved. Then --keep decides, policies in order of
  weight:
    best       the full-length copy (lengths within 5 s count as equal), then
               lossless over lossy, then the higher bitrate
    longest    the longest playing time
    largest    the largest file
    newest     the latest modification time
    oldest     the earliest modification time
    under=DIR  a file inside DIR
  A tie goes to the next policy, then to best, then to path order.

The report lists each group, the files with no duplicate are counted, and every file
skipped (and why) is named at the end. Sizes are in KiB, MiB and GiB (powers of 1024);
similarity is the percentage of fingerprint agreement with the group's reference copy.

Acting on the duplicates (every member but the first; choose one):
      --move-duplicates DIR
                       move them into DIR (created if missing), each at its path
                       relative to the folder argument it was found under (a file
                       given by name keeps only its name). A taken name gets a number,
                       "song (1).mp3"; nothing is overwritten.
      --trash          move them to the trash (freedesktop.org layout, so desktop
                       trash tools can restore them)
      --link hard|symbolic
                       replace each by a link to the kept copy; the original goes to
                       the trash (a hard link cannot cross file systems)
  -n, --dry-run        make every check the action makes and show what it would do
      --journal FILE   where the action's journal goes (default:
                       $XDG_CACHE_HOME/twintone/journals/TIME.jsonl)
      --undo JOURNAL   put every file the journalled action touched back; safe to run
                       twice, from any folder, and after an action stopped at any
                       moment; a file is put back only unchanged and never over another
      --no-wait        when another twintone run is acting on the same folders, stop
                       (exit 1) instead of waiting for it to finish
Just before each file the action checks it again and skips it (saying why) if it is
gone, is not the file scanned, or is the kept copy under another name or behind a
kept link, or if the kept copy changed. A failed file is reported and the others go
on. One acting run at a time per library: another waits (docs/safety.md).

Review:
      --html FILE      write a review page: every group with players, to listen, pick
                       the copy to keep or leave files out, and save a plan
      --apply PLAN     carry out a saved plan with the action given beside it; refused
                       unless its scan is known here and every file in it is one that
                       scan grouped, named once, unchanged since

Fingerprint cache (fingerprint mode): fingerprints are kept in a cache, by default
$XDG_CACHE_HOME/twintone/fingerprints.sqlite (else ~/.cache/twintone/...), so a file
that has not changed, or was only moved or renamed, is not decoded again.
      --cache FILE     keep the cache in FILE (created with its folder if missing)
      --no-cache       neither read nor write a cache
      --prune-cache    drop the entries of files that are gone and say how many (no
                       PATH needed)
      --print-fingerprints
                       instead of the report, one JSON object per file and line: path,
                       duration (s), seconds fingerprinted, fingerprint (raw 32-bit
                       words; implies --fingerprint)

  -h, --help           this text
  -V, --version        the version

Ctrl-C (or SIGTERM) stops the run after the file in hand and prints the groups found
so far, marked as partial; a second Ctrl-C quits at once.

Exit status: 0 done; 1 a path could not be read, an action failed or was refused, or
the library refused; 2 wrong usage; 130 stopped by Ctrl-C, 143 by SIGTERM (partial
results).

Examples:
  )" + strProgram +
         R"( ~/Music
  )" + strProgram +
         R"( -r --by title,artist,album ~/Music
  )" + strProgram +
         R"( -r --fingerprint --seconds 60 --similarity 90 ~/Music /mnt/backup
  )" + strProgram +
         R"( -r --fingerprint --json ~/Music > groups.json
  )" + strProgram +
         R"( -r --fingerprint --move-duplicates ~/Duplicates --dry-run ~/Music
  )" + strProgram +
         R"( -r --fingerprint --html review.html ~/Music
  )" + strProgram +
         R"( --apply twintone-plan.json --trash
)";
}

}  // namespace twintone_cli
