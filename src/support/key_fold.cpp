#include "support/key_fold.h"

#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <cstdint>

namespace twintone {

namespace {

bool IsValidUtf8(const std::string& strText) {
  const auto* pBytes = reinterpret_cast<const uint8_t*>(strText.data());
  const int32_t nLength = static_cast<int32_t>(strText.size());
  for (int32_t i = 0; i < nLength;) {
    UChar32 c;
    U8_NEXT(pBytes, i, nLength, c);
    if (c < 0) return false;
  }
  return true;
}

}  // namespace

std::string FoldedKeyText(const std::string& strText) {
  if (strText.size() > INT32_MAX || !IsValidUtf8(strText)) return strText;
  icu::UnicodeString folded = icu::UnicodeString::fromUTF8(strText);
  folded.foldCase(U_FOLD_CASE_DEFAULT);

  icu::UnicodeString collapsed;
  bool bPendingBlank = false;  // white space seen since the last kept character
  for (int32_t i = 0; i < folded.length(); i = folded.moveIndex32(i, 1)) {
    UChar32 c = folded.char32At(i);
    if (u_isUWhiteSpace(c)) {
      bPendingBlank = !collapsed.isEmpty();
      continue;
    }
    if (bPendingBlank) collapsed.append(static_cast<UChar>(0x20));
    bPendingBlank = false;
    collapsed.append(c);
  }
  std::string strOut;
  collapsed.toUTF8String(strOut);
  return strOut;
}

}  // namespace twintone
