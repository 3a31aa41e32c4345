// The GBK conversion and its reverse on arbitrary bytes, through the helpers and
// through the converter class with its smallest workable buffers. Every result must
// be valid in its target encoding, and ASCII passes through unchanged.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "iconvcpp.h"
#include "twintone.h"

namespace {

// Well-formed UTF-8: no stray continuation bytes, no overlong forms, no surrogates,
// nothing above U+10FFFF.
bool IsUtf8(const std::string& strText) {
  size_t i = 0;
  while (i < strText.size()) {
    const unsigned char c = static_cast<unsigned char>(strText[i]);
    size_t nMore;
    uint32_t nCode;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      nMore = 1, nCode = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      nMore = 2, nCode = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      nMore = 3, nCode = c & 0x07;
    } else {
      return false;
    }
    if (i + nMore >= strText.size()) return false;
    for (size_t k = 1; k <= nMore; ++k) {
      const unsigned char d = static_cast<unsigned char>(strText[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      nCode = (nCode << 6) | (d & 0x3F);
    }
    if ((nMore == 2 && nCode < 0x800) || (nMore == 3 && nCode < 0x10000)) return false;
    if ((nCode >= 0xD800 && nCode <= 0xDFFF) || nCode > 0x10FFFF) return false;
    i += nMore + 1;
  }
  return true;
}

bool IsAscii(const std::string& strText) {
  for (char ch : strText) {
    if (static_cast<unsigned char>(ch) >= 0x80) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  FuzzedDataProvider input(pData, nSize);
  const unsigned long nChunk = input.ConsumeIntegralInRange<unsigned long>(4, 64);
  const bool bSkipInvalid = input.ConsumeBool();
  const std::string strText = input.ConsumeRemainingBytesAsString();

  const std::string strUtf8 = ANSIToUTF8(strText);
  if (!IsUtf8(strUtf8)) abort();
  if (IsAscii(strText) && strUtf8 != strText) abort();

  // Back to GBK and forth again: still valid, nothing invented.
  const std::string strGbk = UTF8ToANSI(strUtf8);
  const std::string strAgain = ANSIToUTF8(strGbk);
  if (!IsUtf8(strAgain)) abort();
  UTF8ToANSI(strText);

  try {
    converter conv("utf8", "gbk", bSkipInvalid, nChunk);
    std::string strOut = "untouched";
    try {
      conv.convert(strText, strOut);
      if (!IsUtf8(strOut)) abort();
      if (bSkipInvalid && strOut != strUtf8) abort();  // the chunk size changes nothing
    } catch (const std::runtime_error&) {
      if (bSkipInvalid || strOut != "untouched") abort();
    }
  } catch (const std::runtime_error&) {
    abort();  // gbk to utf8 is always available
  }
  return 0;
}
