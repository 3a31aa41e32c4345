// converter: a thin RAII wrapper over one iconv conversion descriptor that reports
// failures as std::runtime_error. Only the text conversion helpers of encoding_convert
// use it, and they catch everything it throws.
//
// Threads: a converter keeps conversion state in its descriptor, so one object must
// not be used by two threads at once; separate objects are independent.
#ifndef TWINTONE_ICONVCPP_H
#define TWINTONE_ICONVCPP_H

#include <iconv.h>

#include <cstddef>
#include <string>

class converter {
 public:
  // Opens a conversion from from_encoding to to_encoding (target first, as iconv_open
  // takes them). chunk_size is the output buffer size of each iconv call and must be
  // at least the longest sequence the target writes for one character (4 for UTF-8),
  // or convert makes no progress. Throws std::runtime_error:
  //   "buffer size must be greater than zero" for chunk_size 0 (nothing opened),
  //   "not supported from <from> to <to>" when iconv does not know the pair,
  //   "unknown error" for any other failure of iconv_open.
  converter(const std::string& to_encoding, const std::string& from_encoding, bool skip_invalid,
            unsigned long chunk_size);
  // Closes the descriptor; the result of iconv_close is ignored.
  ~converter();
  converter(const converter&) = delete;
  converter& operator=(const converter&) = delete;

  // Converts all of input and replaces output with the result. With skip_invalid,
  // each byte where the conversion stops (invalid or truncated sequence) is dropped
  // and the conversion goes on; without it, such a byte throws "invalid multibyte
  // chars" (or "unknown error" for any other iconv failure) and output is left
  // untouched. No flush call is made and the shift state is not reset between calls.
  void convert(const std::string& input, std::string& output) const;

  // Turns the errno of a failed iconv call into an exception; always throws.
  [[noreturn]] void check_convert_error() const;

 private:
  iconv_t descriptor;  // owned; closed by the destructor
  bool skip_invalid;   // drop unconvertible bytes instead of throwing
  size_t chunk_size;   // bytes of output per iconv call; never 0
};

#endif  // TWINTONE_ICONVCPP_H
