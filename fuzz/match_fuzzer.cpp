// The three matching functions and SimilarCompare on arbitrary lengths and words.
// The fast matchers must agree bit for bit with the straightforward reference ones,
// scores must lie in 0..1, the engine's threshold scorer must decide as
// match_fingerprints3 scores, and SimilarCompare must answer with one of its codes.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "grouping/acoustid_compare.h"
#include "twintone.h"

using namespace twintone;

namespace {

bool SameFloat(float x, float y) { return memcmp(&x, &y, sizeof x) == 0; }

void CheckScore(float fScore) {
  if (!(fScore >= 0.0f && fScore <= 1.0f)) abort();
}

// A length as the caller passes it: mostly the real one, sometimes negative or 0
// (the functions must then read nothing and score 0).
int PassedLength(FuzzedDataProvider* pInput, size_t nReal) {
  switch (pInput->ConsumeIntegralInRange<int>(0, 7)) {
    case 0:
      return -pInput->ConsumeIntegralInRange<int>(1, 1 << 30);
    case 1:
      return 0;
    default:
      return static_cast<int>(nReal);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  FuzzedDataProvider input(pData, nSize);
  const int nOffset = input.ConsumeIntegral<int>();
  const int nSmallOffset = input.ConsumeIntegralInRange<int>(-2, 200);
  const float fThreshold = input.ConsumeProbability<float>();
  const int nTolerance = input.ConsumeIntegralInRange<int>(-8, 40);
  const size_t nWords = input.remaining_bytes() / 4;
  const size_t nSplit = input.ConsumeIntegralInRange<size_t>(0, nWords);
  const int nLenA = PassedLength(&input, nSplit);
  const int nLenB = PassedLength(&input, nWords - nSplit);

  std::vector<uint32_t> vecWords(nWords);
  const std::vector<uint8_t> vecBytes = input.ConsumeRemainingBytes<uint8_t>();
  // Integers were taken from the input's end, so fewer bytes than words may remain.
  const size_t nCopy = std::min(vecBytes.size(), nWords * 4);
  if (nCopy > 0) memcpy(vecWords.data(), vecBytes.data(), nCopy);
  // Separate allocations, so a read past either end is caught.
  const std::vector<uint32_t> a(vecWords.begin(), vecWords.begin() + nSplit);
  const std::vector<uint32_t> b(vecWords.begin() + nSplit, vecWords.end());

  const float f1 = match_fingerprints(a.data(), nLenA, b.data(), nLenB);
  CheckScore(f1);
  if (!SameFloat(f1, reference::match_fingerprints(a.data(), nLenA, b.data(), nLenB))) abort();

  for (int nMax : {nOffset, nSmallOffset}) {
    const float f2 = match_fingerprints2(a.data(), nLenA, b.data(), nLenB, nMax);
    CheckScore(f2);
    const float fRef2 = reference::match_fingerprints2(a.data(), nLenA, b.data(), nLenB, nMax);
    if (!SameFloat(f2, fRef2)) abort();

    const float f3 = match_fingerprints3(a.data(), nLenA, b.data(), nLenB, nMax);
    CheckScore(f3);
    const float fRef3 = reference::match_fingerprints3(a.data(), nLenA, b.data(), nLenB, nMax);
    if (!SameFloat(f3, fRef3)) abort();

    float fScore = -1.0f;
    const bool bAbove =
        MatchAboveThreshold(a.data(), nLenA, b.data(), nLenB, nMax, fThreshold, &fScore);
    if (bAbove != (f3 > fThreshold)) abort();
    if (bAbove ? !SameFloat(fScore, f3) : fScore != -1.0f) abort();
  }

  // SimilarCompare takes two fingerprints of one length.
  const size_t nCommon = std::min(a.size(), b.size());
  // One spare word each, so that even an empty pair passes real pointers.
  std::vector<int> first(nCommon + 1), second(nCommon + 1);
  if (nCommon > 0) {
    memcpy(first.data(), a.data(), nCommon * 4);
    memcpy(second.data(), b.data(), nCommon * 4);
  }
  const int nSimilar =
      SimilarCompare(first.data(), second.data(), static_cast<int>(nCommon), nTolerance);
  if (nSimilar != 0 && nSimilar != 1 && nSimilar != -2) abort();
  if ((nSimilar == -2) != (nCommon < 100)) abort();
  // A fingerprint is the same recording as itself under any tolerance from 0 up.
  if (nCommon >= 100 && nTolerance >= 0 &&
      SimilarCompare(first.data(), first.data(), static_cast<int>(nCommon), nTolerance) != 1) {
    abort();
  }
  return 0;
}
