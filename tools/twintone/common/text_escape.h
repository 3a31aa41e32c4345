// Turning byte strings (paths, tag text) into text that each output can carry safely,
// and measuring text in terminal columns. Paths on Linux are bytes, not necessarily
// UTF-8; nothing here drops information without saying so: where a byte cannot be
// shown, the caller also gets the bytes in hex. UTF-8 is decoded by ICU, ill-formed
// sequences taken in maximal subparts as Unicode recommends.
#ifndef TWINTONE_TOOLS_COMMON_TEXT_ESCAPE_H
#define TWINTONE_TOOLS_COMMON_TEXT_ESCAPE_H

#include <string>

namespace twintone_cli {

// True when strBytes is well-formed UTF-8 (no overlong forms, no surrogates, nothing
// above U+10FFFF).
bool IsValidUtf8(const std::string& strBytes);

// strBytes with every ill-formed UTF-8 sequence replaced by U+FFFD. Valid input comes
// back unchanged.
std::string SanitizeUtf8(const std::string& strBytes);

// Lower-case hex of every byte, two digits each.
std::string HexBytes(const std::string& strBytes);

// Decodes lower-case or upper-case hex (as HexBytes writes) into bytes; false on a
// stray character or an odd length.
bool UnhexBytes(const std::string& strHex, std::string* pstrBytes);

// One CSV field per RFC 4180 of SanitizeUtf8(strBytes): quoted (inner quotes doubled)
// when it holds a comma, a quote, CR or LF, else as it is.
std::string CsvField(const std::string& strBytes);

// For a terminal line: control characters (below 0x20, and 0x7f) become '?', so a
// name cannot move the cursor or break the layout; a byte that is not UTF-8 is shown
// as \xNN. Everything else passes unchanged.
std::string TerminalSafe(const std::string& strBytes);

// Columns a terminal gives the UTF-8 text strText (made TerminalSafe first): two for
// an East Asian wide or fullwidth character, none for combining marks, format and
// zero-width characters; a grapheme cluster takes the columns of its widest member.
size_t TextColumns(const std::string& strText);

// The end of strText (made TerminalSafe first) that fits in nColumns, led by "..."
// when cut; a grapheme cluster is never cut. Empty when not even "..." fits.
std::string TailToFit(const std::string& strText, size_t nColumns);

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_COMMON_TEXT_ESCAPE_H
