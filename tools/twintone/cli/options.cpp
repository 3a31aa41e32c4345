#include "cli/options.h"

#include <getopt.h>
#include <iconv.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "decide/keeper.h"
#include "scan/filing_choice.h"
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

// What the options tell besides Options, for the checks made once all are read.
struct ParseState {
  Options* pOptions;
  ParseOutcome outcome = ParseOutcome::kRun;
  bool bBy = false;               // --by was given
  bool bKeep = false;             // --keep was given
  bool bFingerprintOnly = false;  // an option that implies --fingerprint was given
  bool bJson = false;
  bool bCsv = false;
};

// Applies an option (with its value, if it takes one). False with *pstrError for a bad
// value.
using ApplyFn = bool (*)(ParseState* pState, const std::string& strValue, std::string* pstrError);

struct OptionDef {
  const char* pszLong;
  char cShort;  // 0: long form only
  bool bTakesValue;
  ApplyFn pfnApply;
};

template <auto pMember>
bool SetFlag(ParseState* pState, const std::string&, std::string*) {
  pState->pOptions->*pMember = true;
  return true;
}

// A file or folder option: any value but an empty one, which strNeed refuses.
bool SetName(const std::string& strValue, const std::string& strNeed, std::string* pstrTarget,
             std::string* pstrError) {
  if (strValue.empty()) {
    *pstrError = strNeed;
    return false;
  }
  *pstrTarget = strValue;
  return true;
}

// Every option, in the order of the help text; adding one is an entry here and its
// lines in HelpText.
const OptionDef kOptionDefs[] = {
    {"by", 0, true,
     [](ParseState* pState, const std::string& strValue, std::string* pstrError) {
       pState->bBy = true;
       return ParseFields(strValue, &pState->pOptions->nMatchFlags, &pState->pOptions->vecFields,
                          pstrError);
     }},
    {"fingerprint", 'f', false, SetFlag<&Options::bFingerprint>},
    {"seconds", 0, true,
     [](ParseState* pState, const std::string& strValue, std::string* pstrError) {
       pState->bFingerprintOnly = true;
       if (ParseBoundedInt(strValue, 0, 600, &pState->pOptions->nSeconds)) return true;
       *pstrError =
           "--seconds takes a whole number from 0 (the whole file) to 600, not '" + strValue + "'";
       return false;
     }},
    {"similarity", 0, true,
     [](ParseState* pState, const std::string& strValue, std::string* pstrError) {
       pState->bFingerprintOnly = true;
       std::string strNumber = strValue;
       if (!strNumber.empty() && strNumber.back() == '%') strNumber.pop_back();
       if (ParseBoundedInt(strNumber, 1, 100, &pState->pOptions->nSimilarity)) return true;
       *pstrError = "--similarity takes a whole percentage from 1 to 100, not '" + strValue + "'";
       return false;
     }},
    {"fast", 0, false,
     [](ParseState* pState, const std::string&, std::string*) {
       pState->bFingerprintOnly = pState->pOptions->bFast = true;
       return true;
     }},
    {"exact", 0, false,
     [](ParseState* pState, const std::string&, std::string*) {
       pState->bFingerprintOnly = pState->pOptions->bExact = true;
       return true;
     }},
    {"near", 0, true,
     [](ParseState* pState, const std::string& strValue, std::string* pstrError) {
       pState->bFingerprintOnly = true;
       std::string strNumber = strValue;
       if (!strNumber.empty() && strNumber.back() == '%') strNumber.pop_back();
       if (ParseBoundedInt(strNumber, 0, 100, &pState->pOptions->nNearFloor)) return true;
       *pstrError = "--near takes a whole percentage from 0 (none) to 100, not '" + strValue + "'";
       return false;
     }},
    {"no-near", 0, false,
     [](ParseState* pState, const std::string&, std::string*) {
       pState->pOptions->nNearFloor = 0;
       return true;
     }},
    {"recursive", 'r', false, SetFlag<&Options::bRecursive>},
    {"follow-symlinks", 0, false, SetFlag<&Options::bFollowSymlinks>},
    {"exclude", 0, true,
     [](ParseState* pState, const std::string& strValue, std::string* pstrError) {
       if (strValue.empty()) {
         *pstrError = "--exclude needs a pattern, such as '*.wav' or 'Podcasts/**'";
         return false;
       }
       // "Downloads/" means the folder: a trailing slash is dropped, as the walk matches
       // a folder by its name or path without one.
       std::string strPattern = strValue;
       while (strPattern.size() > 1 && strPattern.back() == '/') strPattern.pop_back();
       pState->pOptions->vecExclude.push_back(strPattern);
       return true;
     }},
    {"loose", 0, false, SetFlag<&Options::bLoose>},
    {"legacy-encoding", 0, true,
     [](ParseState* pState, const std::string& strValue, std::string* pstrError) {
       if (IsKnownEncoding(strValue)) {
         pState->pOptions->strLegacyEncoding = strValue;
         return true;
       }
       *pstrError = "unknown encoding '" + strValue +
                    "' for --legacy-encoding (any name iconv knows, such as latin1, cp1252, gbk)";
       return false;
     }},
    {"json", 0, false,
     [](ParseState* pState, const std::string&, std::string*) {
       pState->bJson = true;
       pState->pOptions->format = OutputFormat::kJson;
       return true;
     }},
    {"csv", 0, false,
     [](ParseState* pState, const std::string&, std::string*) {
       pState->bCsv = true;
       pState->pOptions->format = OutputFormat::kCsv;
       return true;
     }},
    {"quiet", 'q', false, SetFlag<&Options::bQuiet>},
    {"verbose", 'v', false, SetFlag<&Options::bVerbose>},
    {"keep", 0, true,
     [](ParseState* pState, const std::string& strValue, std::string* pstrError) {
       // Given again, the lists join in the order given.
       std::vector<KeepPolicy> vecMore;
       if (!ParseKeepPolicies(strValue, &vecMore, pstrError)) return false;
       std::vector<KeepPolicy>& vecKeep = pState->pOptions->vecKeep;
       if (!pState->bKeep) vecKeep.clear();  // the default, best, until a --keep
       pState->bKeep = true;
       vecKeep.insert(vecKeep.end(), vecMore.begin(), vecMore.end());
       return true;
     }},
    {"move-duplicates", 0, true,
     [](ParseState* pState, const std::string& strValue, std::string* pstrError) {
       return SetName(strValue, "--move-duplicates needs a folder", &pState->pOptions->strMoveDir,
                      pstrError);
     }},
    {"trash", 0, false, SetFlag<&Options::bTrash>},
    {"link", 0, true,
     [](ParseState* pState, const std::string& strValue, std::string* pstrError) {
       if (strValue == "hard" || strValue == "symbolic") {
         pState->pOptions->strLink = strValue;
         return true;
       }
       *pstrError = "--link takes hard or symbolic, not '" + strValue + "'";
       return false;
     }},
    {"dry-run", 'n', false, SetFlag<&Options::bDryRun>},
    {"journal", 0, true,
     [](ParseState* pState, const std::string& strValue, std::string* pstrError) {
       return SetName(strValue, "--journal needs a file name", &pState->pOptions->strJournal,
                      pstrError);
     }},
    {"undo", 0, true,
     [](ParseState* pState, const std::string& strValue, std::string* pstrError) {
       return SetName(strValue, "--undo needs a file name", &pState->pOptions->strUndo, pstrError);
     }},
    {"html", 0, true,
     [](ParseState* pState, const std::string& strValue, std::string* pstrError) {
       return SetName(strValue, "--html needs a file name", &pState->pOptions->strHtml, pstrError);
     }},
    {"interactive", 'i', false, SetFlag<&Options::bInteractive>},
    {"apply", 0, true,
     [](ParseState* pState, const std::string& strValue, std::string* pstrError) {
       return SetName(strValue, "--apply needs a file name", &pState->pOptions->strApply,
                      pstrError);
     }},
    {"cache", 0, true,
     [](ParseState* pState, const std::string& strValue, std::string* pstrError) {
       return SetName(strValue, "--cache needs a file", &pState->pOptions->strCacheFile, pstrError);
     }},
    {"no-cache", 0, false, SetFlag<&Options::bNoCache>},
    {"no-quality", 0, false, SetFlag<&Options::bNoQuality>},
    {"no-wait", 0, false, SetFlag<&Options::bNoWait>},
    {"prune-cache", 0, false, SetFlag<&Options::bPruneCache>},
    {"forget-distinct", 0, false, SetFlag<&Options::bForgetDistinct>},
    {"print-fingerprints", 0, false,
     [](ParseState* pState, const std::string&, std::string*) {
       pState->bFingerprintOnly = pState->pOptions->bPrintFingerprints = true;
       return true;
     }},
    {"help", 'h', false,
     [](ParseState* pState, const std::string&, std::string*) {
       pState->outcome = ParseOutcome::kHelp;
       return true;
     }},
    {"version", 'V', false,
     [](ParseState* pState, const std::string&, std::string*) {
       if (pState->outcome != ParseOutcome::kHelp) pState->outcome = ParseOutcome::kVersion;
       return true;
     }},
};

constexpr int kLongBase = 256;  // getopt_long's value for kOptionDefs[i] is kLongBase + i

// The name of the long option written in pszArg ("--name" or "--name=value").
std::string LongName(const char* pszArg) {
  std::string strName = pszArg + 2;
  return strName.substr(0, strName.find('='));
}

// Reads argv's options in order through getopt_long into *pState; the operands (in
// order, those after "--" included) go to vecPaths. False with *pstrError at the first
// mistake. Long names must be written out: getopt_long's abbreviations are refused.
bool ReadOptions(int argc, char* const argv[], ParseState* pState, std::string* pstrError) {
  std::vector<option> vecLong;
  std::string strShort = "-:";  // operands in order, as option 1; ':' tells a missing value
  for (const OptionDef& def : kOptionDefs) {
    int nValue = kLongBase + static_cast<int>(vecLong.size());
    vecLong.push_back(
        {def.pszLong, def.bTakesValue ? required_argument : no_argument, nullptr, nValue});
    if (def.cShort != 0) strShort += std::string(1, def.cShort) + (def.bTakesValue ? ":" : "");
  }
  vecLong.push_back({nullptr, 0, nullptr, 0});
  auto fail = [pstrError](const std::string& strReason) {
    *pstrError = strReason;
    return false;
  };
  optind = 0;  // glibc starts afresh
  opterr = 0;
  for (int c; (c = getopt_long(argc, argv, strShort.c_str(), vecLong.data(), nullptr)) != -1;) {
    if (c == 1) {
      pState->pOptions->vecPaths.push_back(optarg);
      continue;
    }
    int nCode = c == '?' || c == ':' ? optopt : c;  // the option a mistake is about
    const OptionDef* pDef = nullptr;
    if (nCode >= kLongBase) {
      pDef = &kOptionDefs[nCode - kLongBase];
      // The argument that named it: the one before its value when that came apart.
      const char* pszArg = argv[optind - 1];
      if (c == nCode && pDef->bTakesValue && optarg == pszArg) pszArg = argv[optind - 2];
      if (LongName(pszArg) != pDef->pszLong) {
        return fail("unknown option '--" + LongName(pszArg) + "'");
      }
    } else if (nCode != 0) {
      for (const OptionDef& def : kOptionDefs) {
        if (def.cShort == nCode) pDef = &def;
      }
      if (pDef == nullptr) {
        return fail(std::string("unknown option '-") + static_cast<char>(nCode) + "'");
      }
    } else {  // a long name that is no option's, or that abbreviates several
      return fail("unknown option '--" + LongName(argv[optind - 1]) + "'");
    }
    if (c == '?') return fail("option '--" + std::string(pDef->pszLong) + "' takes no value");
    if (c == ':') return fail("option '--" + std::string(pDef->pszLong) + "' needs a value");
    if (!pDef->pfnApply(pState, pDef->bTakesValue ? optarg : "", pstrError)) return false;
  }
  for (int i = optind; i < argc; ++i) pState->pOptions->vecPaths.push_back(argv[i]);
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
  ParseState state{pOptions};
  if (!ReadOptions(argc, argv, &state, pstrError)) return ParseOutcome::kUsageError;

  if (state.outcome != ParseOutcome::kRun) return state.outcome;
  if (state.bFingerprintOnly) pOptions->bFingerprint = true;
  if (state.bBy && pOptions->bFingerprint) {
    return fail("--by groups by tags and cannot be combined with fingerprint options");
  }
  if (pOptions->bLoose && pOptions->bFingerprint) {
    return fail("--loose compares tags and cannot be combined with fingerprint options");
  }
  if (state.bJson && state.bCsv) return fail("choose one of --json and --csv");
  if (pOptions->bFast && pOptions->bExact) return fail("choose one of --fast and --exact");
  int nActions = !pOptions->strMoveDir.empty() + pOptions->bTrash + !pOptions->strLink.empty();
  if (nActions > 1) return fail("choose one of --move-duplicates, --trash and --link");
  if (pOptions->bDryRun && nActions == 0) {
    return fail("--dry-run only applies to --move-duplicates, --trash or --link");
  }
  if (pOptions->bNoCache && (pOptions->bPruneCache || pOptions->bForgetDistinct ||
                             !pOptions->strCacheFile.empty())) {
    return fail("--no-cache cannot be combined with --cache, --prune-cache or --forget-distinct");
  }
  if (pOptions->bPrintFingerprints && (state.bJson || state.bCsv)) {
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
  if (pOptions->bInteractive) {
    if (nActions == 0) return fail("--interactive needs --move-duplicates DIR, --trash or --link");
    if (!pOptions->strApply.empty() || pOptions->bPrintFingerprints) {
      return fail("--interactive makes its own plan; leave out --apply and --print-fingerprints");
    }
  }
  bool bNoScan = !pOptions->strUndo.empty() || !pOptions->strApply.empty() ||
                pOptions->bPruneCache || pOptions->bForgetDistinct;
  if (pOptions->vecPaths.empty() && !bNoScan) return fail("no file or folder given");
  if (!pOptions->bFingerprint && !state.bBy) {
    pOptions->nMatchFlags = TWINTONE_MATCH_TITLE | TWINTONE_MATCH_ARTIST;
    pOptions->vecFields = {"title", "artist"};
  }
  if (pOptions->bFingerprint) {
    pOptions->nMatchFlags = TWINTONE_MATCH_FINGERPRINT;
    pOptions->vecFields.clear();
  }
  return ParseOutcome::kRun;
}

namespace {

// How many files exact filing takes about a minute for here, for the help text: with
// near misses listed (the default), and without.
std::string ExactLimitText() {
  return GroupedDigits(AutomaticExactLimit(true)) + " files (" +
         GroupedDigits(AutomaticExactLimit(false)) + " with --no-near)";
}

}  // namespace

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
      --fast           file through an index: compare each file only with the groups
                       that share exact fingerprint words with it; may miss a heavily
                       altered copy (implies --fingerprint)
      --exact          compare each file with every group, however many there are
                       (implies --fingerprint)
  Without either, up to )" + ExactLimitText() + R"(,
  what this computer compares with every group in about a minute, are filed exactly,
  more through the index; the summary says which.
      --near FLOOR     list as near misses the pairs that agree on more than FLOOR
                       percent but not on more than --similarity: not grouped, never
                       acted on; what a lower --similarity would add (default 50;
                       --near 0 or --no-near lists none; slows the grouping; implies
                       --fingerprint)

Input:
  -r, --recursive      also take every folder below the given folders (symbolic links
                       to folders are followed, each folder is taken once; hidden
                       folders are not entered)
      --follow-symlinks
                       take the file a symbolic link points to, under its real path
                       (default: links to files are left out)
      --exclude PATTERN
                       leave out the files and folders PATTERN matches (a folder is
                       not entered); repeatable. A shell glob on the path as given and
                       on the path below the folder given; "**" crosses folders. A
                       pattern with no slash matches a name at any depth: '*.wav',
                       'Podcasts', 'Live/**/*.mp3'. The move target is always left out;
                       a pattern that leaves nothing out is said on standard error.

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
                       which copy of each group to keep (default best); given
                       again, the lists join in order
  Each group lists the copy to keep first, then the others best first. A copy that
  looks damaged (far smaller than its length and bitrate imply, or with --fingerprint
  decoding far short) is never kept over a whole one; when every copy of a group looks
  damaged, all are kept and none is moved. Then --keep decides, policies in order of
  weight:
    best       the full-length copy (lengths within 5 s count as equal); then by
               what each copy sounds like: no silence added at an edge where
               another has none, not clipped where another is not, true stereo
               over mono, the wider band (within 5 % or 500 Hz is equal); then
               really lossless over lossy (a lossless file made from a lossy one
               counts below lossy); then the higher bitrate, Opus, Vorbis and AAC
               counting as MP3 at 1.4 times their rate (never between two lossless
               copies); then the fuller tags (title, artist, album)
    longest    the longest playing time
    largest    the largest file
    newest     the latest modification time
    oldest     the earliest modification time
    under=DIR  a file inside DIR
  A tie goes to the next policy, then to best, then to path order.
      --no-quality     do not listen to the grouped copies (about 5 s of each); best
                       then goes by length, format and bitrate alone

The report lists each group, the files with no duplicate are counted, and every file
skipped (and why) is named at the end. Sizes are in KiB, MiB and GiB (powers of 1024);
similarity is the percentage of fingerprint agreement with the group's reference copy.
Tag groups show "same tags" instead, as nothing was heard. With an action (or --apply of
a plan made by tags), each tag group is first checked by ear: its files are fingerprinted
(from the cache when it has them) and one that does not agree with the kept copy on more
than 80 percent is listed as "same tags, different recording" and never acted on.

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
                       the copy to keep, leave files out or mark one not a duplicate,
                       and save a plan
      --apply PLAN     carry out a saved plan with the action given beside it; refused
                       unless its scan is known here and every file in it is one that
                       scan grouped, named once, unchanged since
  -i, --interactive    review each group in the terminal before the action given
                       beside it: keys 1-9 (then a, b, ...) keep that copy, l N
                       leaves copy N alone, n N marks it not a duplicate, Enter takes
                       the group as shown and goes on, s skips it (nothing of it is
                       done), q stops and acts on the groups taken, Ctrl-C acts on
                       nothing.
                       The choices are a plan, held to the scan as --apply holds one.
                       Standard input must be a terminal

Fingerprint cache (fingerprint mode): fingerprints are kept in a cache, by default
$XDG_CACHE_HOME/twintone/fingerprints.sqlite (else ~/.cache/twintone/...), so a file
that has not changed, or was only moved or renamed, is not decoded again.
      --cache FILE     keep the cache in FILE (created with its folder if missing)
      --no-cache       neither read nor write a cache
      --prune-cache    drop the entries of files that are gone and say how many (no
                       PATH needed)
      --forget-distinct
                       forget every pair of copies marked "not a duplicate" (in
                       --interactive or on the review page; no PATH needed). Until
                       then a fingerprint run with the cache keeps such a pair apart,
                       even renamed or moved, and says how many pairs it kept apart
      --print-fingerprints
                       instead of the report, one JSON object per file and line: path,
                       duration (s), seconds fingerprinted, fingerprint (raw 32-bit
                       words; implies --fingerprint)

  -h, --help           this text
  -V, --version        the version

Ctrl-C (or SIGTERM) stops the run after the file in hand and prints the groups found
so far, marked as partial; a second Ctrl-C quits at once.

Exit status: 0 done; 1 a path could not be read, an action failed or was refused, or
the library refused; 2 wrong usage (a path or --keep under= folder that does not exist
included); 130 stopped by Ctrl-C, 143 by SIGTERM (partial results).

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
