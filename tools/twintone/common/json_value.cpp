#include "common/json_value.h"

#include <cstdlib>

namespace twintone_cli {
namespace {

class Parser {
 public:
  explicit Parser(const std::string& strText) : m_str(strText) {}

  bool Document(JsonValue* pValue, std::string* pstrError) {
    bool bOk = Value(pValue, 0);
    SkipBlanks();
    if (bOk && m_nPos != m_str.size()) bOk = Fail("text after the value");
    if (!bOk) *pstrError = m_strError + " at byte " + std::to_string(m_nPos);
    return bOk;
  }

 private:
  bool Fail(const char* pszWhy) {
    if (m_strError.empty()) m_strError = pszWhy;
    return false;
  }
  void SkipBlanks() {
    while (m_nPos < m_str.size() && (m_str[m_nPos] == ' ' || m_str[m_nPos] == '\t' ||
                                     m_str[m_nPos] == '\n' || m_str[m_nPos] == '\r')) {
      ++m_nPos;
    }
  }
  bool Literal(const char* pszWord) {
    std::string strWord = pszWord;
    if (m_str.compare(m_nPos, strWord.size(), strWord) != 0) return Fail("unknown word");
    m_nPos += strWord.size();
    return true;
  }

  bool Value(JsonValue* pValue, int nDepth) {
    if (nDepth > 64) return Fail("nested too deeply");
    SkipBlanks();
    if (m_nPos >= m_str.size()) return Fail("value expected");
    char c = m_str[m_nPos];
    if (c == '{') return Object(pValue, nDepth);
    if (c == '[') return Array(pValue, nDepth);
    if (c == '"') {
      pValue->kind = JsonValue::Kind::kString;
      return String(&pValue->strValue);
    }
    if (c == 't' || c == 'f') {
      pValue->kind = JsonValue::Kind::kBool;
      pValue->bValue = c == 't';
      return Literal(c == 't' ? "true" : "false");
    }
    if (c == 'n') return Literal("null");
    return Number(pValue);
  }

  bool Number(JsonValue* pValue) {
    size_t nStart = m_nPos;
    if (m_nPos < m_str.size() && m_str[m_nPos] == '-') ++m_nPos;
    size_t nDigits = m_nPos;
    while (m_nPos < m_str.size() && m_str[m_nPos] >= '0' && m_str[m_nPos] <= '9') ++m_nPos;
    if (m_nPos == nDigits || m_nPos - nDigits > 18) return Fail("whole number expected");
    pValue->kind = JsonValue::Kind::kNumber;
    pValue->nValue = std::strtoll(m_str.c_str() + nStart, nullptr, 10);
    return true;
  }

  bool Hex4(unsigned* pnCode) {
    if (m_nPos + 4 > m_str.size()) return Fail("short \\u escape");
    *pnCode = 0;
    for (int i = 0; i < 4; ++i) {
      char c = m_str[m_nPos++];
      int nDigit = c >= '0' && c <= '9'   ? c - '0'
                   : c >= 'a' && c <= 'f' ? c - 'a' + 10
                   : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                          : -1;
      if (nDigit < 0) return Fail("bad \\u escape");
      *pnCode = *pnCode * 16 + static_cast<unsigned>(nDigit);
    }
    return true;
  }

  static void AppendUtf8(unsigned nCode, std::string* pstr) {
    if (nCode < 0x80) {
      *pstr += static_cast<char>(nCode);
    } else if (nCode < 0x800) {
      *pstr += static_cast<char>(0xc0 | (nCode >> 6));
      *pstr += static_cast<char>(0x80 | (nCode & 0x3f));
    } else if (nCode < 0x10000) {
      *pstr += static_cast<char>(0xe0 | (nCode >> 12));
      *pstr += static_cast<char>(0x80 | ((nCode >> 6) & 0x3f));
      *pstr += static_cast<char>(0x80 | (nCode & 0x3f));
    } else {
      *pstr += static_cast<char>(0xf0 | (nCode >> 18));
      *pstr += static_cast<char>(0x80 | ((nCode >> 12) & 0x3f));
      *pstr += static_cast<char>(0x80 | ((nCode >> 6) & 0x3f));
      *pstr += static_cast<char>(0x80 | (nCode & 0x3f));
    }
  }

  bool String(std::string* pstr) {
    ++m_nPos;  // the opening quote
    while (m_nPos < m_str.size()) {
      char c = m_str[m_nPos++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return Fail("control character in a string");
      if (c != '\\') {
        *pstr += c;
        continue;
      }
      if (m_nPos >= m_str.size()) break;
      char e = m_str[m_nPos++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          *pstr += e;
          break;
        case 'b':
          *pstr += '\b';
          break;
        case 'f':
          *pstr += '\f';
          break;
        case 'n':
          *pstr += '\n';
          break;
        case 'r':
          *pstr += '\r';
          break;
        case 't':
          *pstr += '\t';
          break;
        case 'u': {
          unsigned nCode = 0;
          if (!Hex4(&nCode)) return false;
          if (nCode >= 0xd800 && nCode < 0xdc00) {
            unsigned nLow = 0;
            if (m_str.compare(m_nPos, 2, "\\u") != 0) return Fail("lone surrogate");
            m_nPos += 2;
            if (!Hex4(&nLow) || nLow < 0xdc00 || nLow > 0xdfff) return Fail("lone surrogate");
            nCode = 0x10000 + ((nCode - 0xd800) << 10) + (nLow - 0xdc00);
          } else if (nCode >= 0xdc00 && nCode < 0xe000) {
            return Fail("lone surrogate");
          }
          AppendUtf8(nCode, pstr);
          break;
        }
        default:
          return Fail("bad escape");
      }
    }
    return Fail("unterminated string");
  }

  bool Array(JsonValue* pValue, int nDepth) {
    pValue->kind = JsonValue::Kind::kArray;
    ++m_nPos;
    SkipBlanks();
    if (m_nPos < m_str.size() && m_str[m_nPos] == ']') return ++m_nPos, true;
    while (true) {
      pValue->vecItems.emplace_back();
      if (!Value(&pValue->vecItems.back(), nDepth + 1)) return false;
      SkipBlanks();
      if (m_nPos >= m_str.size()) return Fail("unterminated array");
      char c = m_str[m_nPos++];
      if (c == ']') return true;
      if (c != ',') return Fail("',' or ']' expected");
    }
  }

  bool Object(JsonValue* pValue, int nDepth) {
    pValue->kind = JsonValue::Kind::kObject;
    ++m_nPos;
    SkipBlanks();
    if (m_nPos < m_str.size() && m_str[m_nPos] == '}') return ++m_nPos, true;
    while (true) {
      SkipBlanks();
      std::string strKey;
      if (m_nPos >= m_str.size() || m_str[m_nPos] != '"') return Fail("key expected");
      if (!String(&strKey)) return false;
      if (pValue->mapFields.count(strKey) != 0) return Fail("repeated key");
      SkipBlanks();
      if (m_nPos >= m_str.size() || m_str[m_nPos++] != ':') return Fail("':' expected");
      if (!Value(&pValue->mapFields[strKey], nDepth + 1)) return false;
      SkipBlanks();
      if (m_nPos >= m_str.size()) return Fail("unterminated object");
      char c = m_str[m_nPos++];
      if (c == '}') return true;
      if (c != ',') return Fail("',' or '}' expected");
    }
  }

  const std::string& m_str;
  size_t m_nPos = 0;
  std::string m_strError;
};

}  // namespace

const JsonValue& JsonValue::operator[](const std::string& strKey) const {
  static const JsonValue kNull;
  auto it = mapFields.find(strKey);
  return it == mapFields.end() ? kNull : it->second;
}

std::string JsonValue::Str(const std::string& strKey, const std::string& strDefault) const {
  const JsonValue& value = (*this)[strKey];
  return value.kind == Kind::kString ? value.strValue : strDefault;
}

int64_t JsonValue::Int(const std::string& strKey, int64_t nDefault) const {
  const JsonValue& value = (*this)[strKey];
  return value.kind == Kind::kNumber ? value.nValue : nDefault;
}

bool JsonValue::Bool(const std::string& strKey, bool bDefault) const {
  const JsonValue& value = (*this)[strKey];
  return value.kind == Kind::kBool ? value.bValue : bDefault;
}

bool ParseJson(const std::string& strText, JsonValue* pValue, std::string* pstrError) {
  *pValue = JsonValue();
  return Parser(strText).Document(pValue, pstrError);
}

bool UnhexBytes(const std::string& strHex, std::string* pstrBytes) {
  if (strHex.size() % 2 != 0) return false;
  pstrBytes->clear();
  for (size_t i = 0; i < strHex.size(); i += 2) {
    int nByte = 0;
    for (size_t j = i; j < i + 2; ++j) {
      char c = strHex[j];
      int nDigit = c >= '0' && c <= '9'   ? c - '0'
                   : c >= 'a' && c <= 'f' ? c - 'a' + 10
                   : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                          : -1;
      if (nDigit < 0) return false;
      nByte = nByte * 16 + nDigit;
    }
    *pstrBytes += static_cast<char>(nByte);
  }
  return true;
}

}  // namespace twintone_cli
