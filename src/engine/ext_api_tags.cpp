// Extension entry points for tag text: how single-byte and Unicode tag text becomes
// UTF-8, and how tag mode compares key text. Thin: check, forward, return; no
// exception leaves.
#include "engine/ext_api_support.h"
#include "support/legacy_text.h"
#include "twintone_ext.h"

extern "C" {

TWINTONE_EXPORT int twintone_set_tag_text_mode(int nMode) {
  if (nMode != TWINTONE_TAGTEXT_LEGACY && nMode != TWINTONE_TAGTEXT_AS_STORED) return -1;
  return twintone::ChangeIdleSettings([&](CDedupeMusic::ExtSettings& settings) {
    settings.nTagTextMode = nMode;
    return 0;
  });
}

TWINTONE_EXPORT int twintone_set_legacy_encoding(const char* pszIconvName) {
  return twintone::ChangeIdleSettings([&](CDedupeMusic::ExtSettings& settings) {
    std::string strName = pszIconvName != nullptr && pszIconvName[0] != '\0'
                              ? pszIconvName
                              : twintone::kDefaultLegacyEncoding;
    if (!twintone::IsKnownLegacyEncoding(strName)) return -2;
    settings.strLegacyEncoding = strName;
    return 0;
  });
}

TWINTONE_EXPORT int twintone_set_key_compare(int nMode) {
  if (nMode != TWINTONE_KEY_EXACT && nMode != TWINTONE_KEY_LOOSE) return -1;
  return twintone::ChangeIdleSettings([&](CDedupeMusic::ExtSettings& settings) {
    settings.nKeyCompare = nMode;
    return 0;
  });
}

}  // extern "C"
