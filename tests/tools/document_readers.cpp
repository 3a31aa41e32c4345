// Strict readers for the command's JSON and CSV output, so that a test proves the
// documents are well-formed rather than merely looking right.
#include <cstdlib>

#include "cli_runner.h"

namespace twintone_cli_test {
namespace {

class JsonParser {
 public:
  explicit JsonParser(const std::string& strText) : m_strText(strText) {}

  bool ParseDocument(JsonValue* pValue) {
    if (!ParseValue(pValue, 0)) return false;
    SkipSpace();
    return m_nPos == m_strText.size() || Fail("text after the document");
  }
  const std::string& Error() const { return m_strError; }

 private:
  bool Fail(const std::string& strWhat) {
    if (m_strError.empty()) m_strError = strWhat + " at byte " + std::to_string(m_nPos);
    return false;
  }
  void SkipSpace() {
    while (m_nPos < m_strText.size() &&
           std::string(" \t\r\n").find(m_strText[m_nPos]) != std::string::npos) {
      ++m_nPos;
    }
  }
  bool Literal(const char* pszWord) {
    std::string strWord = pszWord;
    if (m_strText.compare(m_nPos, strWord.size(), strWord) != 0) return Fail("bad literal");
    m_nPos += strWord.size();
    return true;
  }
  bool Hex4(unsigned* pnCode) {
    if (m_nPos + 4 > m_strText.size()) return Fail("short \\u escape");
    std::string strHex = m_strText.substr(m_nPos, 4);
    if (strHex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
      return Fail("bad \\u escape");
    }
    *pnCode = static_cast<unsigned>(std::strtoul(strHex.c_str(), nullptr, 16));
    m_nPos += 4;
    return true;
  }
  static void AppendUtf8(unsigned nCode, std::string* pstrOut) {
    if (nCode < 0x80) {
      *pstrOut += static_cast<char>(nCode);
    } else if (nCode < 0x800) {
      *pstrOut += static_cast<char>(0xC0 | (nCode >> 6));
      *pstrOut += static_cast<char>(0x80 | (nCode & 0x3F));
    } else if (nCode < 0x10000) {
      *pstrOut += static_cast<char>(0xE0 | (nCode >> 12));
      *pstrOut += static_cast<char>(0x80 | ((nCode >> 6) & 0x3F));
      *pstrOut += static_cast<char>(0x80 | (nCode & 0x3F));
    } else {
      *pstrOut += static_cast<char>(0xF0 | (nCode >> 18));
      *pstrOut += static_cast<char>(0x80 | ((nCode >> 12) & 0x3F));
      *pstrOut += static_cast<char>(0x80 | ((nCode >> 6) & 0x3F));
      *pstrOut += static_cast<char>(0x80 | (nCode & 0x3F));
    }
  }
  bool ParseString(std::string* pstrOut) {
    ++m_nPos;  // the opening quote
    while (m_nPos < m_strText.size()) {
      unsigned char c = static_cast<unsigned char>(m_strText[m_nPos++]);
      if (c == '"') return true;
      if (c < 0x20) return Fail("raw control character in a string");
      if (c != '\\') {
        *pstrOut += static_cast<char>(c);
        continue;
      }
      if (m_nPos >= m_strText.size()) break;
      char cEscape = m_strText[m_nPos++];
      const std::string strSimple = "\"\\/bfnrt";
      const std::string strMeaning = "\"\\/\b\f\n\r\t";
      size_t nSimple = strSimple.find(cEscape);
      if (nSimple != std::string::npos) {
        *pstrOut += strMeaning[nSimple];
      } else if (cEscape == 'u') {
        unsigned nCode = 0;
        if (!Hex4(&nCode)) return false;
        if (nCode >= 0xD800 && nCode < 0xDC00) {
          unsigned nLow = 0;
          if (!Literal("\\u") || !Hex4(&nLow) || nLow < 0xDC00 || nLow > 0xDFFF) {
            return Fail("lone surrogate");
          }
          nCode = 0x10000 + ((nCode - 0xD800) << 10) + (nLow - 0xDC00);
        } else if (nCode >= 0xDC00 && nCode < 0xE000) {
          return Fail("lone surrogate");
        }
        AppendUtf8(nCode, pstrOut);
      } else {
        return Fail("bad escape");
      }
    }
    return Fail("unterminated string");
  }
  bool ParseNumber(JsonValue* pValue) {
    size_t nStart = m_nPos;
    auto digits = [this]() {
      size_t nFirst = m_nPos;
      while (m_nPos < m_strText.size() && isdigit(static_cast<unsigned char>(m_strText[m_nPos]))) {
        ++m_nPos;
      }
      return m_nPos > nFirst;
    };
    if (m_strText[m_nPos] == '-') ++m_nPos;
    if (m_nPos < m_strText.size() && m_strText[m_nPos] == '0') {
      ++m_nPos;
    } else if (!digits()) {
      return Fail("bad number");
    }
    if (m_nPos < m_strText.size() && m_strText[m_nPos] == '.') {
      ++m_nPos;
      if (!digits()) return Fail("bad fraction");
    }
    if (m_nPos < m_strText.size() && (m_strText[m_nPos] == 'e' || m_strText[m_nPos] == 'E')) {
      ++m_nPos;
      if (m_nPos < m_strText.size() && (m_strText[m_nPos] == '+' || m_strText[m_nPos] == '-')) {
        ++m_nPos;
      }
      if (!digits()) return Fail("bad exponent");
    }
    pValue->kind = JsonValue::Kind::kNumber;
    pValue->fValue = std::strtod(m_strText.substr(nStart, m_nPos - nStart).c_str(), nullptr);
    return true;
  }
  bool ParseValue(JsonValue* pValue, int nDepth) {
    SkipSpace();
    if (nDepth > 64) return Fail("too deep");
    if (m_nPos >= m_strText.size()) return Fail("unexpected end");
    char c = m_strText[m_nPos];
    if (c == '{' || c == '[') {
      bool bObject = c == '{';
      pValue->kind = bObject ? JsonValue::Kind::kObject : JsonValue::Kind::kArray;
      ++m_nPos;
      SkipSpace();
      if (m_nPos < m_strText.size() && m_strText[m_nPos] == (bObject ? '}' : ']')) {
        ++m_nPos;
        return true;
      }
      while (true) {
        JsonValue item;
        if (bObject) {
          SkipSpace();
          std::string strKey;
          if (m_nPos >= m_strText.size() || m_strText[m_nPos] != '"') return Fail("key expected");
          if (!ParseString(&strKey)) return false;
          SkipSpace();
          if (m_nPos >= m_strText.size() || m_strText[m_nPos++] != ':') return Fail("':' expected");
          if (!ParseValue(&item, nDepth + 1)) return false;
          if (!pValue->mapMembers.emplace(strKey, item).second) return Fail("repeated key");
        } else {
          if (!ParseValue(&item, nDepth + 1)) return false;
          pValue->vecItems.push_back(item);
        }
        SkipSpace();
        if (m_nPos >= m_strText.size()) return Fail("unexpected end");
        char cNext = m_strText[m_nPos++];
        if (cNext == (bObject ? '}' : ']')) return true;
        if (cNext != ',') return Fail("',' expected");
      }
    }
    if (c == '"') {
      pValue->kind = JsonValue::Kind::kString;
      return ParseString(&pValue->strValue);
    }
    if (c == 't' || c == 'f') {
      pValue->kind = JsonValue::Kind::kBool;
      pValue->bValue = c == 't';
      return Literal(c == 't' ? "true" : "false");
    }
    if (c == 'n') return Literal("null");
    return ParseNumber(pValue);
  }

  const std::string& m_strText;
  size_t m_nPos = 0;
  std::string m_strError;
};

}  // namespace

const JsonValue& JsonValue::operator[](const std::string& strKey) const {
  static const JsonValue kNull;
  auto it = mapMembers.find(strKey);
  return it == mapMembers.end() ? kNull : it->second;
}

bool ParseJson(const std::string& strText, JsonValue* pValue, std::string* pstrError) {
  JsonParser parser(strText);
  *pValue = JsonValue();
  if (parser.ParseDocument(pValue)) return true;
  *pstrError = parser.Error();
  return false;
}

bool ParseCsv(const std::string& strText, std::vector<std::vector<std::string>>* pvecRows,
              std::string* pstrError) {
  pvecRows->clear();
  std::vector<std::string> vecRow(1);
  bool bQuoted = false;
  for (size_t i = 0; i < strText.size(); ++i) {
    char c = strText[i];
    if (bQuoted) {
      if (c != '"') {
        vecRow.back() += c;
      } else if (i + 1 < strText.size() && strText[i + 1] == '"') {
        vecRow.back() += '"';
        ++i;
      } else {
        bQuoted = false;
      }
    } else if (c == '"' && vecRow.back().empty()) {
      bQuoted = true;
    } else if (c == ',') {
      vecRow.emplace_back();
    } else if (c == '\r') {
      if (i + 1 >= strText.size() || strText[i + 1] != '\n') {
        *pstrError = "bare CR outside quotes";
        return false;
      }
      pvecRows->push_back(vecRow);
      vecRow.assign(1, std::string());
      ++i;
    } else if (c == '\n' || c == '"') {
      *pstrError = std::string("bare ") + (c == '"' ? "quote" : "LF") + " outside quotes";
      return false;
    } else {
      vecRow.back() += c;
    }
  }
  if (bQuoted || vecRow.size() != 1 || !vecRow[0].empty()) {
    *pstrError = "the last record is not closed";
    return false;
  }
  return true;
}

}  // namespace twintone_cli_test
