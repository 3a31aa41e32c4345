// A small JSON reader for the documents the command writes itself and reads back: the
// journal's lines and a review page's plan. Strict: one value, nothing after it, no
// repeated keys; numbers are whole (the command writes no fractions it reads back).
#ifndef TWINTONE_TOOLS_COMMON_JSON_VALUE_H
#define TWINTONE_TOOLS_COMMON_JSON_VALUE_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace twintone_cli {

struct JsonValue {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind kind = Kind::kNull;
  bool bValue = false;
  int64_t nValue = 0;
  std::string strValue;  // UTF-8
  std::vector<JsonValue> vecItems;
  std::map<std::string, JsonValue> mapFields;

  // The field's value, or a null value when this is not an object or lacks it.
  const JsonValue& operator[](const std::string& strKey) const;
  // Typed reads with a fallback for a missing field or another kind.
  std::string Str(const std::string& strKey, const std::string& strDefault = "") const;
  int64_t Int(const std::string& strKey, int64_t nDefault = 0) const;
  bool Bool(const std::string& strKey, bool bDefault = false) const;
};

// Parses strText into *pValue. False with a short reason (and its offset) on any fault.
bool ParseJson(const std::string& strText, JsonValue* pValue, std::string* pstrError);

// Decodes lower-case or upper-case hex (as HexBytes writes) into bytes; false on a
// stray character or an odd length.
bool UnhexBytes(const std::string& strHex, std::string* pstrBytes);

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_COMMON_JSON_VALUE_H
