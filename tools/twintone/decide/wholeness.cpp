// Whether a copy looks whole.
#include <algorithm>
#include <cstdint>

#include "decide/keeper.h"

namespace twintone_cli {
namespace {

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
