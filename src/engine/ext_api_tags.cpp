// Extension entry points for tag text: how single-byte and Unicode tag text becomes
// UTF-8, and how tag mode compares key text. Thin: check, forward, return; no
// exception leaves.
#include "engine/ext_api_support.h"
#include "support/legacy_text.h"
#include "twintone_ext.h"

extern "C" {

TWINTONE_EXPORT int twintone_set_tag_text_mode(int nMode) {
  if (nMode != TWINTONE_TAGTEXT_LEGACY && nMode != TWINTONE_TAGTEXT_AS_STORED) return -1;
  return twintone::WithIdleEngine([&](CDedupeMusic& e) {
    CDedupeMusic::ExtSettings settings = e.Settings();
    settings.nTagTextMode = nMode;
    e.SetSettings(settings);
    return 0;
  });
}

TWINTONE_EXPORT int twintone_set_legacy_encoding(const char* pszIconvName) {
  return twintone::WithIdleEngine([&](CDedupeMusic& e) {
    std::string strName = pszIconvName != nullptr && pszIconvName[0] != '\0'
                              ? pszIconvName
                              : twintone::kDefaultLegacyEncoding;
    if (!twintone::IsKnownLegacyEncoding(strName)) return -2;
    CDedupeMusic::ExtSettings settings = e.Settings();
    settings.strLegacyEncoding = strName;
    e.SetSettings(settings);
    return 0;
  });
}

TWINTONE_EXPORT int twintone_set_key_compare(int nMode) {
  if (nMode != TWINTONE_KEY_EXACT && nMode != TWINTONE_KEY_LOOSE) return -1;
  return twintone::WithIdleEngine([&](CDedupeMusic& e) {
    CDedupeMusic::ExtSettings settings = e.Settings();
    settings.nKeyCompare = nMode;
    e.SetSettings(settings);
    return 0;
  });
}

}  // extern "C"
