#include "iconvcpp.h"

#include <cerrno>
#include <stdexcept>
#include <utility>
#include <vector>

namespace {

const iconv_t kInvalidDescriptor = reinterpret_cast<iconv_t>(-1);
const size_t kIconvFailed = static_cast<size_t>(-1);

}  // namespace

converter::converter(const std::string& to_encoding, const std::string& from_encoding,
                     bool skip_invalid, unsigned long chunk_size)
    : descriptor(kInvalidDescriptor), skip_invalid(skip_invalid), chunk_size(chunk_size) {
  if (chunk_size == 0) {
    throw std::runtime_error("buffer size must be greater than zero");
  }
  iconv_t hConv = iconv_open(to_encoding.c_str(), from_encoding.c_str());
  if (hConv == kInvalidDescriptor) {
    if (errno == EINVAL) {
      throw std::runtime_error("not supported from " + from_encoding + " to " + to_encoding);
    }
    throw std::runtime_error("unknown error");
  }
  descriptor = hConv;
}

converter::~converter() {
  // The constructor either stores a valid descriptor or throws, so a constructed
  // object always owns one.
  iconv_close(descriptor);
}

void converter::convert(const std::string& input, std::string& output) const {
  // iconv wants non-const input pointers, so it reads from a private copy.
  std::vector<char> vecInput(input.begin(), input.end());
  char* pIn = vecInput.data();
  size_t nInLeft = vecInput.size();

  std::vector<char> vecChunk(chunk_size, '\0');
  std::string strResult;
  while (nInLeft > 0) {
    char* pOut = vecChunk.data();
    size_t nOutLeft = chunk_size;
    size_t nRet = iconv(descriptor, &pIn, &nInLeft, &pOut, &nOutLeft);
    if (nRet == kIconvFailed && errno != E2BIG) {
      if (!skip_invalid) check_convert_error();
      // Drop the byte the conversion stopped at and carry on after it.
      ++pIn;
      --nInLeft;
    }
    strResult.append(vecChunk.data(), chunk_size - nOutLeft);
  }
  output.swap(strResult);
}

void converter::check_convert_error() const {
  switch (errno) {
    case EINVAL:  // truncated sequence at the end of the input
    case EILSEQ:  // invalid sequence
      throw std::runtime_error("invalid multibyte chars");
    default:
      throw std::runtime_error("unknown error");
  }
}
