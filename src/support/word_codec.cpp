#include "support/word_codec.h"

namespace twintone {
namespace {

constexpr char kFormPlain = 0;
constexpr char kFormBitGaps = 1;
// In the gap form: nibble 0 ends a word, 1..14 is a gap, 15 says the gap follows in
// the next two nibbles (low first).
constexpr unsigned kEndOfWord = 0;
constexpr unsigned kEscape = 15;
// The most words a stored fingerprint may hold: 600 s of audio is under 5,000.
constexpr uint32_t kMaxWords = 1u << 20;

class NibbleWriter {
 public:
  explicit NibbleWriter(std::string* pOut) : pOut_(pOut) {}
  void Put(unsigned nNibble) {
    if (bHigh_) {
      pOut_->back() = static_cast<char>(static_cast<unsigned char>(pOut_->back()) | (nNibble << 4));
    } else {
      pOut_->push_back(static_cast<char>(nNibble));
    }
    bHigh_ = !bHigh_;
  }

 private:
  std::string* pOut_;
  bool bHigh_ = false;
};

class NibbleReader {
 public:
  NibbleReader(const std::string& strIn, size_t nStart) : strIn_(strIn), nByte_(nStart) {}
  bool Get(unsigned* pnNibble) {
    if (nByte_ >= strIn_.size()) return false;
    unsigned nByte = static_cast<unsigned char>(strIn_[nByte_]);
    *pnNibble = bHigh_ ? nByte >> 4 : nByte & 0xf;
    if (bHigh_) ++nByte_;
    bHigh_ = !bHigh_;
    return true;
  }

 private:
  const std::string& strIn_;
  size_t nByte_;
  bool bHigh_ = false;
};

void PutCount(std::string* pOut, uint32_t nCount) {
  for (int i = 0; i < 4; ++i) pOut->push_back(static_cast<char>((nCount >> (8 * i)) & 0xff));
}

bool GetCount(const std::string& strIn, uint32_t* pnCount) {
  if (strIn.size() < 5) return false;
  uint32_t nCount = 0;
  for (int i = 0; i < 4; ++i)
    nCount |= static_cast<uint32_t>(static_cast<unsigned char>(strIn[1 + i])) << (8 * i);
  *pnCount = nCount;
  return nCount <= kMaxWords;
}

std::string EncodeBitGaps(const uint32_t* pWords, size_t nWords) {
  std::string strOut(1, kFormBitGaps);
  PutCount(&strOut, static_cast<uint32_t>(nWords));
  NibbleWriter writer(&strOut);
  uint32_t nPrevious = 0;
  for (size_t i = 0; i < nWords; ++i) {
    uint32_t nChanged = pWords[i] ^ nPrevious;
    nPrevious = pWords[i];
    int nLast = -1;
    for (int nBit = 0; nBit < 32; ++nBit) {
      if ((nChanged >> nBit & 1u) == 0) continue;
      unsigned nGap = static_cast<unsigned>(nBit - nLast);  // 1..32
      nLast = nBit;
      if (nGap < kEscape) {
        writer.Put(nGap);
      } else {
        writer.Put(kEscape);
        writer.Put(nGap & 0xf);
        writer.Put(nGap >> 4);
      }
    }
    writer.Put(kEndOfWord);
  }
  return strOut;
}

bool DecodeBitGaps(const std::string& strIn, std::vector<uint32_t>* pvecWords) {
  uint32_t nCount = 0;
  if (!GetCount(strIn, &nCount)) return false;
  pvecWords->assign(nCount, 0);
  NibbleReader reader(strIn, 5);
  uint32_t nPrevious = 0;
  for (uint32_t i = 0; i < nCount; ++i) {
    uint32_t nChanged = 0;
    int nBit = -1;
    for (;;) {
      unsigned nGap = 0;
      if (!reader.Get(&nGap)) return false;
      if (nGap == kEndOfWord) break;
      if (nGap == kEscape) {
        unsigned nLow = 0, nHigh = 0;
        if (!reader.Get(&nLow) || !reader.Get(&nHigh)) return false;
        nGap = nLow | nHigh << 4;
      }
      nBit += static_cast<int>(nGap);
      if (nGap == 0 || nBit > 31) return false;
      nChanged |= 1u << nBit;
    }
    nPrevious ^= nChanged;
    (*pvecWords)[i] = nPrevious;
  }
  return true;
}

}  // namespace

std::string EncodeWords(const uint32_t* pWords, size_t nWords) {
  std::string strGaps = EncodeBitGaps(pWords, nWords);
  if (strGaps.size() < 1 + nWords * 4) return strGaps;
  std::string strPlain(1, kFormPlain);
  strPlain.reserve(1 + nWords * 4);
  for (size_t i = 0; i < nWords; ++i) {
    for (int b = 0; b < 4; ++b)
      strPlain.push_back(static_cast<char>((pWords[i] >> (8 * b)) & 0xff));
  }
  return strPlain;
}

bool DecodeWords(const std::string& strBytes, std::vector<uint32_t>* pvecWords) {
  if (strBytes.empty()) return false;
  if (strBytes[0] == kFormBitGaps) return DecodeBitGaps(strBytes, pvecWords);
  if (strBytes[0] != kFormPlain || (strBytes.size() - 1) % 4 != 0) return false;
  size_t nWords = (strBytes.size() - 1) / 4;
  pvecWords->assign(nWords, 0);
  for (size_t i = 0; i < nWords; ++i) {
    uint32_t nWord = 0;
    for (int b = 0; b < 4; ++b) {
      nWord |= static_cast<uint32_t>(static_cast<unsigned char>(strBytes[1 + 4 * i + b]))
               << (8 * b);
    }
    (*pvecWords)[i] = nWord;
  }
  return true;
}

}  // namespace twintone
