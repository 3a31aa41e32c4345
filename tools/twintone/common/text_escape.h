// Turning byte strings (paths, tag text) into text that each output can carry safely.
// Paths on Linux are bytes, not necessarily UTF-8; nothing here drops information
// without saying so: where a byte cannot be shown, the caller also gets the bytes in hex.
#ifndef TWINTONE_TOOLS_COMMON_TEXT_ESCAPE_H
#define TWINTONE_TOOLS_COMMON_TEXT_ESCAPE_H

#include <string>

namespace twintone_cli {

// True when strBytes is well-formed UTF-8 (no overlong forms, no surrogates, nothing
// above U+10FFFF).
bool IsValidUtf8(const std::string& strBytes);

// strBytes with every byte that is not part of a well-formed UTF-8 sequence replaced
// by U+FFFD. Valid input comes back unchanged.
std::string SanitizeUtf8(const std::string& strBytes);

// Lower-case hex of every byte, two digits each.
std::string HexBytes(const std::string& strBytes);

// A JSON string literal, quotes included, of SanitizeUtf8(strBytes): '"', '\\' and the
// control characters escaped, everything else as UTF-8.
std::string JsonString(const std::string& strBytes);

// One CSV field per RFC 4180 of SanitizeUtf8(strBytes): quoted (inner quotes doubled)
// when it holds a comma, a quote, CR or LF, else as it is.
std::string CsvField(const std::string& strBytes);

// For a terminal line: control characters (below 0x20, and 0x7f) become '?', so a
// name cannot move the cursor or break the layout; a byte that is not UTF-8 is shown
// as \xNN. Everything else passes unchanged.
std::string TerminalSafe(const std::string& strBytes);

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_COMMON_TEXT_ESCAPE_H
