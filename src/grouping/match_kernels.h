// The inner loops of the fingerprint matchers, one set per instruction set. A
// diagonal of two fingerprints is walked as two arrays read in step: pa[k]
// against pb[k]; the vector sets can also walk a block of neighbouring
// diagonals at once, one per lane. The best set the processor offers is chosen
// once, at first use; every set gives the same integers.
#ifndef TWINTONE_GROUPING_MATCH_KERNELS_H
#define TWINTONE_GROUPING_MATCH_KERNELS_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace twintone {

struct MatchKernel {
  const char* pszName;  // "avx512", "avx2", "popcnt" or "portable"

  // Sum over k < n of min(popcount(pa[k] ^ pb[k]), 16): what the pairs lose
  // against the 16 points a perfect pair scores in match_fingerprints3. Stops
  // early and returns some partial sum above nBudget once the sum exceeds it;
  // otherwise returns the whole sum.
  uint64_t (*pfnLoss)(const uint32_t* pa, const uint32_t* pb, size_t n, uint64_t nBudget);

  // Number of k < n for which pa[k] and pb[k] differ in at most 2 bits.
  uint64_t (*pfnCountClose)(const uint32_t* pa, const uint32_t* pb, size_t n);

  // Diagonals pfnBlockLoss sums at once (at most kMaxBlockWidth); 0 when the
  // kernel has no block loss and pfnBlockLoss is null.
  int nBlockWidth;

  // The loss of nBlockWidth neighbouring diagonals of a (asize words) against
  // b (bsize words): lane k takes diagonal nTop - k, the pairs (a[i], b[i - nTop
  // + k]) with both indices in range, and stores its loss in pnLoss[k]; a lane
  // with no pairs loses 0. Each pnLoss[k] is the whole loss, or some value above
  // pnBudget[k] that the whole loss is known to exceed: the kernel may stop once
  // every lane is above its budget, so a lane nobody needs gets a budget of -1.
  // asize and bsize are positive.
  void (*pfnBlockLoss)(const uint32_t* a, int64_t asize, const uint32_t* b, int64_t bsize,
                       int64_t nTop, const int64_t* pnBudget, uint64_t* pnLoss);
};

// Widest block any kernel sums, for callers' lane arrays.
constexpr int kMaxBlockWidth = 16;

// For the kernels: how many pairs (or rows of a block) to sum before the first
// budget check. A pair loses at most 16, so fewer than nBudget / 16 + 1 pairs
// cannot pass nBudget and need no check; the result is at least nStep, the
// kernel's distance between later checks.
inline uint64_t FirstLossCheck(uint64_t nBudget, uint64_t nStep) {
  const uint64_t nQuiet = nBudget / 16 + 1;
  return nQuiet > nStep ? nQuiet : nStep;
}

// The kernel the exported matchers and the engine's filing use: the fastest this
// processor runs, unless UseMatchKernel chose another. Any thread.
const MatchKernel& ActiveMatchKernel();

// Makes the named kernel (one of AvailableMatchKernels) the active one, so that
// benchmarks and tests can run everything as on a processor without the faster
// sets; null restores the fastest. False, with nothing changed, for a name this
// processor does not run. Not while a match is running on another thread.
bool UseMatchKernel(const char* pszName);

// Every kernel this processor can run, fastest first; the last is "portable".
const std::vector<MatchKernel>& AvailableMatchKernels();

// The fast matchers on a given kernel; the exported functions and
// MatchAboveThreshold pass ActiveMatchKernel(). Tests and benchmarks use these to
// run every kernel. Contracts as in acoustid_compare.h.
float MatchFingerprintsWith(const MatchKernel& kernel, const uint32_t* a, int asize,
                            const uint32_t* b, int bsize);
float MatchFingerprints3With(const MatchKernel& kernel, const uint32_t* a, int asize,
                             const uint32_t* b, int bsize, int maxoffset);
bool MatchAboveThresholdWith(const MatchKernel& kernel, const uint32_t* a, int asize,
                             const uint32_t* b, int bsize, int maxoffset, float fThreshold,
                             float* pfScore);

// Implementations behind the table; the x86 ones are only present on x86 builds
// and may only be called where the processor supports them.
uint64_t PortableLoss(const uint32_t* pa, const uint32_t* pb, size_t n, uint64_t nBudget);
uint64_t PortableCountClose(const uint32_t* pa, const uint32_t* pb, size_t n);
#if defined(__x86_64__) || defined(__i386__)
#define TWINTONE_X86_KERNELS 1
uint64_t PopcntLoss(const uint32_t* pa, const uint32_t* pb, size_t n, uint64_t nBudget);
uint64_t Avx2Loss(const uint32_t* pa, const uint32_t* pb, size_t n, uint64_t nBudget);
uint64_t Avx2CountClose(const uint32_t* pa, const uint32_t* pb, size_t n);
uint64_t Avx512Loss(const uint32_t* pa, const uint32_t* pb, size_t n, uint64_t nBudget);
uint64_t Avx512CountClose(const uint32_t* pa, const uint32_t* pb, size_t n);
void Avx2BlockLoss(const uint32_t* a, int64_t asize, const uint32_t* b, int64_t bsize,
                   int64_t nTop, const int64_t* pnBudget, uint64_t* pnLoss);
void Avx512BlockLoss(const uint32_t* a, int64_t asize, const uint32_t* b, int64_t bsize,
                     int64_t nTop, const int64_t* pnBudget, uint64_t* pnLoss);
#endif

}  // namespace twintone

#endif  // TWINTONE_GROUPING_MATCH_KERNELS_H
