// The portable and popcnt kernels, and the choice of kernel at run time.
#include "grouping/match_kernels.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace twintone {

namespace {

// Pairs between two budget checks of the scalar loss kernels.
constexpr size_t kLossBlock = 16;

// Set bits of each 32-bit half of x, without a popcount instruction: the count
// of the low half lands in bits 0..7, that of the high half in bits 32..39.
inline uint64_t HalfPopcounts(uint64_t x) {
  x -= (x >> 1) & 0x5555555555555555ULL;
  x = (x & 0x3333333333333333ULL) + ((x >> 2) & 0x3333333333333333ULL);
  x = (x + (x >> 4)) & 0x0f0f0f0f0f0f0f0fULL;
  x += x >> 8;
  x += x >> 16;
  return x;
}

inline uint64_t CappedLoss(uint64_t nBits) { return nBits < 16 ? nBits : 16; }

// True when x has at most two set bits: clearing the lowest set bit twice
// leaves nothing.
inline bool AtMostTwoBits(uint32_t x) {
  x &= x - 1;
  x &= x - 1;
  return x == 0;
}

#ifdef TWINTONE_X86_KERNELS
bool HasAvx512Popcount() {
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vpopcntdq");
}
bool HasAvx2() { return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt"); }
bool HasPopcnt() { return __builtin_cpu_supports("popcnt"); }
#endif
bool Always() { return true; }

// Feature queries may run before the runtime's own constructors (from a host's
// static initialiser), so the feature data is filled in first.
void InitCpuFeatures() {
#ifdef TWINTONE_X86_KERNELS
  __builtin_cpu_init();
#endif
}

struct Candidate {
  MatchKernel kernel;
  bool (*pfnSupported)();
};

// Fastest first; the portable kernel runs everywhere and closes the list.
const Candidate kCandidates[] = {
#ifdef TWINTONE_X86_KERNELS
    {{"avx512", Avx512Loss, Avx512CountClose, 16, Avx512BlockLoss}, HasAvx512Popcount},
    {{"avx2", Avx2Loss, Avx2CountClose, 8, Avx2BlockLoss}, HasAvx2},
    {{"popcnt", PopcntLoss, PortableCountClose, 0, nullptr}, HasPopcnt},
#endif
    {{"portable", PortableLoss, PortableCountClose, 0, nullptr}, Always},
};

// The first supported candidate. Allocates nothing, so it cannot throw.
const MatchKernel& ChooseKernel() {
  InitCpuFeatures();
  for (const Candidate& candidate : kCandidates) {
    if (candidate.pfnSupported()) return candidate.kernel;
  }
  return kCandidates[sizeof kCandidates / sizeof kCandidates[0] - 1].kernel;
}

}  // namespace

uint64_t PortableLoss(const uint32_t* pa, const uint32_t* pb, size_t n, uint64_t nBudget) {
  uint64_t nLoss = 0;
  size_t k = 0;
  uint64_t nCheck = FirstLossCheck(nBudget, kLossBlock);
  while (k < n) {
    const size_t nEnd = static_cast<size_t>(std::min<uint64_t>(n, nCheck));
    nCheck = nEnd + kLossBlock;
    for (; k + 2 <= nEnd; k += 2) {
      uint64_t x, y;
      memcpy(&x, pa + k, sizeof x);
      memcpy(&y, pb + k, sizeof y);
      const uint64_t nCounts = HalfPopcounts(x ^ y);
      nLoss += CappedLoss(nCounts & 0xff) + CappedLoss((nCounts >> 32) & 0xff);
    }
    if (k < nEnd) {
      nLoss += CappedLoss(HalfPopcounts(pa[k] ^ pb[k]) & 0xff);
      ++k;
    }
    if (nLoss > nBudget) return nLoss;
  }
  return nLoss;
}

uint64_t PortableCountClose(const uint32_t* pa, const uint32_t* pb, size_t n) {
  uint64_t nClose = 0;
  for (size_t k = 0; k < n; ++k) nClose += AtMostTwoBits(pa[k] ^ pb[k]) ? 1 : 0;
  return nClose;
}

#ifdef TWINTONE_X86_KERNELS
__attribute__((target("popcnt"))) uint64_t PopcntLoss(const uint32_t* pa, const uint32_t* pb,
                                                      size_t n, uint64_t nBudget) {
  uint64_t nLoss = 0;
  size_t k = 0;
  uint64_t nCheck = FirstLossCheck(nBudget, kLossBlock);
  while (k < n) {
    const size_t nEnd = static_cast<size_t>(std::min<uint64_t>(n, nCheck));
    nCheck = nEnd + kLossBlock;
    for (; k < nEnd; ++k) nLoss += CappedLoss(__builtin_popcount(pa[k] ^ pb[k]));
    if (nLoss > nBudget) return nLoss;
  }
  return nLoss;
}
#endif

namespace {

// The kernel UseMatchKernel chose; null for the fastest.
std::atomic<const MatchKernel*> g_pChosenKernel{nullptr};

}  // namespace

const MatchKernel& ActiveMatchKernel() {
  static const MatchKernel& fastest = ChooseKernel();
  const MatchKernel* pChosen = g_pChosenKernel.load(std::memory_order_acquire);
  return pChosen != nullptr ? *pChosen : fastest;
}

bool UseMatchKernel(const char* pszName) {
  if (pszName == nullptr) {
    g_pChosenKernel.store(nullptr, std::memory_order_release);
    return true;
  }
  for (const MatchKernel& kernel : AvailableMatchKernels()) {
    if (strcmp(kernel.pszName, pszName) != 0) continue;
    g_pChosenKernel.store(&kernel, std::memory_order_release);
    return true;
  }
  return false;
}

const std::vector<MatchKernel>& AvailableMatchKernels() {
  static const std::vector<MatchKernel> vecKernels = [] {
    InitCpuFeatures();
    std::vector<MatchKernel> vec;
    for (const Candidate& candidate : kCandidates) {
      if (candidate.pfnSupported()) vec.push_back(candidate.kernel);
    }
    return vec;
  }();
  return vecKernels;
}

}  // namespace twintone
