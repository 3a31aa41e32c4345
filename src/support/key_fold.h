// Loose key text: tag text compared without regard to case or blanks.
#ifndef TWINTONE_SUPPORT_KEY_FOLD_H
#define TWINTONE_SUPPORT_KEY_FOLD_H

#include <string>

namespace twintone {

// strText (UTF-8) with Unicode full case folding applied ("Straße" and "STRASSE"
// both become "strasse"), white space (any Unicode White_Space character) trimmed at
// both ends, and every inner run of it replaced by one blank. Text that is not valid
// UTF-8 is returned unchanged: folding it could make unrelated byte strings equal.
// Throws std::bad_alloc only; keeps no state, so any thread may call it.
std::string FoldedKeyText(const std::string& strText);

}  // namespace twintone

#endif  // TWINTONE_SUPPORT_KEY_FOLD_H
