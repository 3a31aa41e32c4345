#include "scan/content_hash.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <utility>

#include "common/file_ops.h"

namespace twintone_cli {
namespace {

using Hash128 = unsigned __int128;

// The FNV-1a 128 constants: the offset basis, and the prime 2^88 + 2^8 + 0x3b.
constexpr Hash128 kOffset =
    (static_cast<Hash128>(0x6c62272e07bb0142ULL) << 64) | 0x62b821756295c58dULL;
constexpr Hash128 kPrime = (static_cast<Hash128>(1) << 88) | 0x13bULL;

std::string HexOf(Hash128 nHash) {
  static const char kDigits[] = "0123456789abcdef";
  std::string strHex(32, '0');
  for (int i = 31; i >= 0; --i, nHash >>= 4) strHex[i] = kDigits[static_cast<int>(nHash & 0xf)];
  return strHex;
}

}  // namespace

std::string ContentHash(const std::string& strPath, const std::atomic<bool>* pbStop) {
  FdGuard file(open(strPath.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.Get() < 0) return "";
  Hash128 nHash = kOffset;
  std::vector<unsigned char> buffer(1 << 16);
  while (pbStop == nullptr || !pbStop->load()) {
    ssize_t nRead = read(file.Get(), buffer.data(), buffer.size());
    if (nRead == 0) return HexOf(nHash);
    if (nRead < 0 && errno == EINTR) continue;
    if (nRead < 0) return "";
    for (ssize_t i = 0; i < nRead; ++i) {
      nHash ^= buffer[static_cast<size_t>(i)];
      nHash *= kPrime;
    }
  }
  return "";
}

void HashEqualSizes(std::vector<Group>* pGroups, const std::atomic<bool>* pbStop) {
  std::map<std::pair<uint64_t, uint64_t>, std::string> mapDone;  // by device and inode
  for (Group& group : *pGroups) {
    std::map<int64_t, int> mapSizes;
    for (const Member& member : group.vecMembers) ++mapSizes[member.nSizeBytes];
    for (Member& member : group.vecMembers) {
      if (mapSizes[member.nSizeBytes] < 2) continue;
      if (pbStop != nullptr && pbStop->load()) return;
      bool bKnown = member.nDevice != 0 || member.nInode != 0;
      auto key = std::make_pair(member.nDevice, member.nInode);
      auto it = bKnown ? mapDone.find(key) : mapDone.end();
      if (it != mapDone.end()) {
        member.strContentHash = it->second;
        continue;
      }
      member.strContentHash = ContentHash(member.strPath, pbStop);
      if (bKnown && !member.strContentHash.empty()) mapDone[key] = member.strContentHash;
    }
  }
}

}  // namespace twintone_cli
