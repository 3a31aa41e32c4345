// The shared library exports exactly the system's entry points, matching functions
// and named helpers, under their exact symbols, and nothing else.
#include <dlfcn.h>
#include <elf.h>

#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

const std::set<std::string>& ExpectedExports() {
  static const std::set<std::string> setNames = {
      "StartDedupeThread", "PauseDedupeThread", "ContinueDedupeThread", "DedupeDealloc",
      "GetLoadCounts", "GetGroupIdCounts", "GetGroupRef", "AddToDedupeLists",
      "AddToDedupeListsByInfo", "_Z16QuitDedupeThreadv",
      "match_fingerprints", "match_fingerprints2", "match_fingerprints3",
      "m1", "m2", "m4", "m8", "m16", "m32", "hff", "h01",
      "_Z14SimilarComparePKiS0_ii",
      "_Z11IsMaxFingerP18InerMusicDedupInfoS0_",
      "_Z15GetDupMusicInfoPKcP12DupMusicInfo",
      "_Z4trimRNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE",
      "_Z19GetDirAllAudioFilesPKcPSt6vectorINSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE"
      "SaIS7_EE",
      "_Z12IsFileExistsNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE",
      "_Z10IsDirExitsNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE",
      "_Z14string_replaceRNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEERKS4_S7_",
      "_Z16GetPathShortNameRNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE",
      "_Z13GetFilePosfixNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE",
      "_Z12IsSupportPosRKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEES6_",
      "_Z10GetAppPathB5cxx11v",
      "_Z10ANSIToUTF8NSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE",
      "_Z10UTF8ToANSINSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE",
      "_Z13UnicodeToUTF8RKNSt7__cxx1112basic_stringIwSt11char_traitsIwESaIwEEE",
      "_Z13UTF8ToUnicodeNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE",
      "_Z13ANSIToUnicodeNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE",
      "_Z13UnicodeToANSIRKNSt7__cxx1112basic_stringIwSt11char_traitsIwESaIwEEE",
      "_ZN12CDedupeMusic11GetGroupKeyEP18InerMusicDedupInfo",
      "_ZN12CDedupeMusic10GetDeepKeyEP18InerMusicDedupInfoi",
      "_ZN12CDedupeMusic14AddToReaptListEP18InerMusicDedupInfo",
      "_ZN12CDedupeMusic14GetMusicFingerEP18InerMusicDedupInfoP19tagCChromaPrintInfoi",
      // The extension header.
      "twintone_set_tag_text_mode", "twintone_set_legacy_encoding", "twintone_file_count",
      "twintone_file_info_at", "twintone_get_fingerprint", "twintone_set_fingerprint",
      "twintone_open_store", "twintone_close_store", "twintone_prune_store",
      "twintone_store_stats", "twintone_store_message", "twintone_set_filing", "twintone_set_key_compare",
  };
  return setNames;
}

// The defined, globally visible symbols of an ELF64 shared object's .dynsym.
std::set<std::string> DefinedDynamicSymbols(const std::string& strPath) {
  std::ifstream in(strPath, std::ios::binary);
  std::vector<char> vecBytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::set<std::string> setNames;
  if (vecBytes.size() < sizeof(Elf64_Ehdr)) return setNames;
  const auto* pHeader = reinterpret_cast<const Elf64_Ehdr*>(vecBytes.data());
  const auto* pSections = reinterpret_cast<const Elf64_Shdr*>(vecBytes.data() + pHeader->e_shoff);
  for (int i = 0; i < pHeader->e_shnum; ++i) {
    if (pSections[i].sh_type != SHT_DYNSYM) continue;
    const Elf64_Shdr& strtab = pSections[pSections[i].sh_link];
    const auto* pSyms = reinterpret_cast<const Elf64_Sym*>(vecBytes.data() + pSections[i].sh_offset);
    size_t nSyms = pSections[i].sh_size / sizeof(Elf64_Sym);
    for (size_t s = 1; s < nSyms; ++s) {
      unsigned char nBind = ELF64_ST_BIND(pSyms[s].st_info);
      if (pSyms[s].st_shndx == SHN_UNDEF || nBind == STB_LOCAL) continue;
      if (ELF64_ST_VISIBILITY(pSyms[s].st_other) != STV_DEFAULT) continue;
      setNames.insert(vecBytes.data() + strtab.sh_offset + pSyms[s].st_name);
    }
  }
  return setNames;
}

class ExportedSymbolsTest : public ::testing::Test {};

TEST_F(ExportedSymbolsTest, LibraryExportsExactlyTheSystemsSymbols) {
  void* hLibrary = dlopen(TWINTONE_LIBRARY_FILE, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(hLibrary, nullptr) << dlerror();
  for (const std::string& strName : ExpectedExports()) {
    EXPECT_NE(dlsym(hLibrary, strName.c_str()), nullptr) << strName;
  }
  dlclose(hLibrary);
  // Both ways: nothing missing, and nothing else (g_log, g_pCDeDup, library
  // template code, the undecorated QuitDedupeThread) leaves the library.
  std::set<std::string> setActual = DefinedDynamicSymbols(TWINTONE_LIBRARY_FILE);
  ASSERT_FALSE(setActual.empty());
  EXPECT_EQ(setActual, ExpectedExports());
}

}  // namespace
