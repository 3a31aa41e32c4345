// What a file's name says about its format, and whether a copy looks whole.
#include <algorithm>
#include <cctype>
#include <cstdint>

#include "keeper.h"

namespace twintone_cli {
namespace {

struct FormatName {
  const char* pszExtension;
  const char* pszFormat;
  bool bLossless;
};

constexpr FormatName kFormats[] = {
    {"flac", "FLAC", true},     {"wav", "WAV", true},     {"aif", "AIFF", true},
    {"aiff", "AIFF", true},     {"ape", "APE", true},     {"wv", "WavPack", true},
    {"tta", "TTA", true},       {"alac", "ALAC", true},   {"mp3", "MP3", false},
    {"mp2", "MP2", false},      {"mp1", "MP1", false},    {"mpa", "MPA", false},
    {"ogg", "Ogg", false},      {"oga", "Ogg", false},    {"opus", "Opus", false},
    {"m4a", "M4A", false},      {"m4b", "M4B", false},    {"mp4", "MP4", false},
    {"aac", "AAC", false},      {"ac3", "AC-3", false},   {"wma", "WMA", false},
    {"mpc", "Musepack", false},
};

// A file holding less than this per second of claimed playing time cannot hold that
// much audio in any format (lossless digital silence still takes over 1000 bit/s).
constexpr int64_t kMinBitsPerSecond = 500;

// Below half the size its bitrate and playing time imply, a file has lost its end.
constexpr int64_t kTruncatedRatioPercent = 50;

// A decode may fall short of the expected audio by this much, or by a tenth, before
// it counts as cut short (encoder padding, whole-second header lengths).
constexpr int kDecodeSlackMs = 3000;

// The longest audio a fingerprint run decodes of one file.
constexpr int kMaxFingerprintMs = 600 * 1000;

}  // namespace

void DescribeFormat(const std::string& strPath, std::string* pstrFormat, bool* pbLossless) {
  size_t nSlash = strPath.find_last_of('/');
  size_t nDot = strPath.find_last_of('.');
  *pstrFormat = "";
  *pbLossless = false;
  if (nDot == std::string::npos || (nSlash != std::string::npos && nDot < nSlash)) return;
  std::string strExtension = strPath.substr(nDot + 1);
  for (char& c : strExtension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const FormatName& format : kFormats) {
    if (strExtension == format.pszExtension) {
      *pstrFormat = format.pszFormat;
      *pbLossless = format.bLossless;
      return;
    }
  }
  for (char& c : strExtension) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  *pstrFormat = strExtension;
}

std::string WholenessProblem(const Member& member, const WholenessContext& context) {
  const int64_t nSize = member.nSizeBytes;
  const int64_t nDurationMs = member.nDurationMs;
  // Without a playing time nothing can show the copy whole: a cut Ogg stream loses the
  // last page its length is read from, and a file whose tags could not be read has none.
  if (nDurationMs <= 0) return "length unknown: no playing time could be read";
  if (nSize > 0) {
    // The header's playing time against the bytes there are: for a bitrate TagLib
    // derives from the size (FLAC, Opus, VBR MP3 without a header) this always holds,
    // so it only flags claims no file of that size could make.
    if (nSize * 8 * 1000 < nDurationMs * kMinBitsPerSecond) {
      return "damaged header: claims " + FormatDuration(member.nDurationMs) +
             " of audio in " + FormatBytes(nSize);
    }
    if (member.nBitrateKbps > 0) {
      int64_t nExpected = nDurationMs * member.nBitrateKbps / 8;  // kbit/s * ms / 8 = bytes
      if (nSize * 100 < nExpected * kTruncatedRatioPercent) {
        return "truncated: " + FormatBytes(nSize) + ", where " +
               FormatDuration(member.nDurationMs) + " at " +
               std::to_string(member.nBitrateKbps) + " kbit/s takes about " +
               FormatBytes(nExpected);
      }
    }
  }
  if (context.bFingerprint && member.nDecodedMs >= 0 && member.nDurationMs > 0) {
    int nWanted = context.nSeconds > 0 ? context.nSeconds * 1000 : kMaxFingerprintMs;
    int nExpectedMs = std::min(nWanted, member.nDurationMs);
    int nSlackMs = std::max(kDecodeSlackMs, nExpectedMs / 10);
    if (member.nDecodedMs + nSlackMs < nExpectedMs) {
      std::string strDecoded =
          member.nDecodedMs < 1000 ? "under a second" : FormatDuration(member.nDecodedMs);
      return "decoding stopped early: " + strDecoded + " of the " + FormatDuration(nExpectedMs) +
             " expected";
    }
  }
  return "";
}

}  // namespace twintone_cli
