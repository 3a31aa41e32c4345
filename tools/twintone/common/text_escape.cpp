#include "common/text_escape.h"

#include <unicode/ubrk.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

namespace twintone_cli {
namespace {

// Calls fnVisit(nStart, nEnd, nCodePoint) for each UTF-8 sequence of strBytes, with a
// negative nCodePoint for an ill-formed one.
template <typename Visit>
void ForEachCodePoint(const std::string& strBytes, Visit fnVisit) {
  const auto* pBytes = reinterpret_cast<const uint8_t*>(strBytes.data());
  int64_t nLength = static_cast<int64_t>(strBytes.size());
  for (int64_t nPos = 0; nPos < nLength;) {
    int64_t nStart = nPos;
    UChar32 nCode;
    U8_NEXT(pBytes, nPos, nLength, nCode);
    fnVisit(static_cast<size_t>(nStart), static_cast<size_t>(nPos), nCode);
  }
}

int CodePointColumns(UChar32 nCode) {
  int nCategory = u_charType(nCode);
  if (nCategory == U_NON_SPACING_MARK || nCategory == U_ENCLOSING_MARK ||
      nCategory == U_FORMAT_CHAR || nCategory == U_CONTROL_CHAR) {
    return 0;
  }
  int nJamo = u_getIntPropertyValue(nCode, UCHAR_HANGUL_SYLLABLE_TYPE);
  if (nJamo == U_HST_VOWEL_JAMO || nJamo == U_HST_TRAILING_JAMO) return 0;  // join the lead
  int nWidth = u_getIntPropertyValue(nCode, UCHAR_EAST_ASIAN_WIDTH);
  return nWidth == U_EA_WIDE || nWidth == U_EA_FULLWIDTH ? 2 : 1;
}

struct Cluster {
  size_t nEnd;  // byte offset just past the cluster
  size_t nColumns;
};

// The grapheme clusters of strText in order. Should ICU fail or not reach the end, each
// code point counts as a cluster of its own.
std::vector<Cluster> Clusters(const std::string& strText) {
  std::vector<size_t> vecBounds;
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<UText, decltype(&utext_close)> text(
      utext_openUTF8(nullptr, strText.data(), static_cast<int64_t>(strText.size()), &status),
      &utext_close);
  std::unique_ptr<UBreakIterator, decltype(&ubrk_close)> breaker(
      ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &status), &ubrk_close);
  if (U_SUCCESS(status)) ubrk_setUText(breaker.get(), text.get(), &status);
  if (U_SUCCESS(status)) {
    ubrk_first(breaker.get());
    for (int32_t nEnd = ubrk_next(breaker.get()); nEnd != UBRK_DONE;
         nEnd = ubrk_next(breaker.get())) {
      vecBounds.push_back(static_cast<size_t>(nEnd));
    }
  }
  if (vecBounds.empty() || vecBounds.back() != strText.size()) {
    vecBounds.clear();
    ForEachCodePoint(strText, [&](size_t, size_t nEnd, UChar32) { vecBounds.push_back(nEnd); });
  }
  std::vector<Cluster> vecClusters;
  for (size_t nEnd : vecBounds) vecClusters.push_back({nEnd, 0});
  size_t nCluster = 0;
  ForEachCodePoint(strText, [&](size_t nStart, size_t, UChar32 nCode) {
    while (nCluster + 1 < vecClusters.size() && vecClusters[nCluster].nEnd <= nStart) ++nCluster;
    size_t nColumns = nCode < 0 ? 1 : static_cast<size_t>(CodePointColumns(nCode));
    if (nColumns > vecClusters[nCluster].nColumns) vecClusters[nCluster].nColumns = nColumns;
  });
  return vecClusters;
}

}  // namespace

bool IsValidUtf8(const std::string& strBytes) {
  bool bValid = true;
  ForEachCodePoint(strBytes, [&bValid](size_t, size_t, UChar32 nCode) { bValid &= nCode >= 0; });
  return bValid;
}

std::string SanitizeUtf8(const std::string& strBytes) {
  std::string strOut;
  strOut.reserve(strBytes.size());
  ForEachCodePoint(strBytes, [&](size_t nStart, size_t nEnd, UChar32 nCode) {
    if (nCode < 0) {
      strOut += "\xEF\xBF\xBD";
    } else {
      strOut.append(strBytes, nStart, nEnd - nStart);
    }
  });
  return strOut;
}

std::string HexBytes(const std::string& strBytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string strOut;
  strOut.reserve(strBytes.size() * 2);
  for (char c : strBytes) {
    unsigned char byte = static_cast<unsigned char>(c);
    strOut += kDigits[byte >> 4];
    strOut += kDigits[byte & 0x0F];
  }
  return strOut;
}

bool UnhexBytes(const std::string& strHex, std::string* pstrBytes) {
  auto digit = [](char c) {
    int nLower = c | 0x20;
    return c >= '0' && c <= '9' ? c - '0' : nLower >= 'a' && nLower <= 'f' ? nLower - 'a' + 10 : -1;
  };
  if (strHex.size() % 2 != 0) return false;
  std::string strBytes;
  for (size_t i = 0; i < strHex.size(); i += 2) {
    int nHigh = digit(strHex[i]), nLow = digit(strHex[i + 1]);
    if (nHigh < 0 || nLow < 0) return false;
    strBytes += static_cast<char>(nHigh * 16 + nLow);
  }
  *pstrBytes = std::move(strBytes);
  return true;
}

std::string CsvField(const std::string& strBytes) {
  std::string strText = SanitizeUtf8(strBytes);
  if (strText.find_first_of(",\"\r\n") == std::string::npos) return strText;
  std::string strOut = "\"";
  for (char c : strText) {
    if (c == '"') strOut += '"';
    strOut += c;
  }
  strOut += '"';
  return strOut;
}

std::string TerminalSafe(const std::string& strBytes) {
  std::string strOut;
  strOut.reserve(strBytes.size());
  ForEachCodePoint(strBytes, [&](size_t nStart, size_t nEnd, UChar32 nCode) {
    if (nCode < 0) {
      for (size_t i = nStart; i < nEnd; ++i) {
        char szEscape[8];
        std::snprintf(szEscape, sizeof(szEscape), "\\x%02x",
                      static_cast<unsigned char>(strBytes[i]));
        strOut += szEscape;
      }
    } else if (nCode < 0x20 || nCode == 0x7F) {
      strOut += '?';
    } else {
      strOut.append(strBytes, nStart, nEnd - nStart);
    }
  });
  return strOut;
}

size_t TextColumns(const std::string& strText) {
  size_t nColumns = 0;
  for (const Cluster& cluster : Clusters(strText)) nColumns += cluster.nColumns;
  return nColumns;
}

std::string TailToFit(const std::string& strText, size_t nColumns) {
  std::vector<Cluster> vecClusters = Clusters(strText);
  size_t nTotal = 0;
  for (const Cluster& cluster : vecClusters) nTotal += cluster.nColumns;
  if (nTotal <= nColumns) return strText;
  if (nColumns <= 3) return "";
  size_t nRoom = nColumns - 3;
  size_t nStart = strText.size();
  for (size_t i = vecClusters.size(); i > 0; --i) {
    if (vecClusters[i - 1].nColumns > nRoom) break;
    nRoom -= vecClusters[i - 1].nColumns;
    nStart = i >= 2 ? vecClusters[i - 2].nEnd : 0;
  }
  return "..." + strText.substr(nStart);
}

}  // namespace twintone_cli
