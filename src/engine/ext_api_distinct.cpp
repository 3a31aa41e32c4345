// Extension entry points for copies a person has said are not duplicates: fingerprint
// identities, and pairs of them kept in the open store. Thin: check, forward, return;
// no exception leaves.
#include "engine/ext_api_support.h"
#include "engine/store_use.h"
#include "twintone_ext.h"

namespace {

// op(store) on a store open that has not failed; -2 when none, or when op fails.
template <typename Op>
int OnStore(Op op) {
  twintone::FingerprintStore* pStore = twintone::EngineStore();
  if (pStore == nullptr || pStore->Failed()) return -2;
  int nResult = op(*pStore);
  return nResult < 0 ? -2 : nResult;
}

// Writers refuse while a run is active; readers wait for it to end.
template <typename Op>
int WithIdleStore(Op op) {
  return twintone::WithIdleEngine([&](CDedupeMusic&) { return OnStore(op); });
}
template <typename Op>
int WithStoreData(Op op) {
  return twintone::WithEngineData(-2, [&](CDedupeMusic&) { return OnStore(op); });
}

}  // namespace

extern "C" {

TWINTONE_EXPORT int twintone_fingerprint_identity(const char* pszPath, uint64_t* pnIdentity) {
  if (pszPath == nullptr || pnIdentity == nullptr) return -1;
  return twintone::WithEngineData(-2, [&](CDedupeMusic& e) {
    auto found = e.mapLoaded.find(pszPath);
    if (found == e.mapLoaded.end()) return -2;
    const GroupKey& key = *found->second->pGroupKey;
    if (key.pFinger == nullptr || key.nFingerLen < 1) return -2;
    *pnIdentity = twintone::FingerprintIdentity(key.pFinger, key.nFingerLen);
    return 0;
  });
}

TWINTONE_EXPORT int twintone_mark_distinct(uint64_t nIdentityA, uint64_t nIdentityB) {
  if (nIdentityA == nIdentityB) return -1;
  return WithIdleStore([&](twintone::FingerprintStore& store) {
    return store.MarkDistinct(nIdentityA, nIdentityB) ? 0 : -2;
  });
}

TWINTONE_EXPORT int twintone_is_distinct(uint64_t nIdentityA, uint64_t nIdentityB) {
  return WithStoreData(
      [&](twintone::FingerprintStore& store) { return store.IsDistinct(nIdentityA, nIdentityB); });
}

TWINTONE_EXPORT int twintone_forget_distinct(void) {
  return WithIdleStore([](twintone::FingerprintStore& store) { return store.ForgetDistinct(); });
}

TWINTONE_EXPORT int twintone_distinct_count(void) {
  return WithStoreData([](twintone::FingerprintStore& store) { return store.DistinctCount(); });
}

}  // extern "C"
