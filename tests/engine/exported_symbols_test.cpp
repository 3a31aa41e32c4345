// The shared library exports exactly the symbols in exported_symbols.txt, under
// their exact (decorated) names, and nothing else.
#include <cstdio>
#include <fstream>
#include <memory>
#include <set>
#include <string>

#include <gtest/gtest.h>

namespace {

std::set<std::string> Lines(FILE* pFile) {
  std::set<std::string> setLines;
  char szLine[1024];
  while (fgets(szLine, sizeof szLine, pFile) != nullptr) {
    std::string strLine(szLine);
    while (!strLine.empty() && isspace(static_cast<unsigned char>(strLine.back()))) strLine.pop_back();
    if (!strLine.empty() && strLine[0] != '#') setLines.insert(strLine);
  }
  return setLines;
}

TEST(ExportedSymbolsTest, LibraryExportsExactlyTheListedSymbols) {
  std::unique_ptr<FILE, int (*)(FILE*)> list(fopen(TWINTONE_EXPORTS_LIST, "r"), &fclose);
  ASSERT_TRUE(list);
  const std::string strCommand = std::string("nm -D --defined-only --format=posix ") +
                                 TWINTONE_LIBRARY_FILE + " | cut -d' ' -f1";
  std::unique_ptr<FILE, int (*)(FILE*)> nm(popen(strCommand.c_str(), "r"), &pclose);
  ASSERT_TRUE(nm);
  // Both ways: nothing missing, and nothing else (g_log, g_pCDeDup, library template
  // code, the undecorated QuitDedupeThread) leaves the library.
  EXPECT_EQ(Lines(nm.get()), Lines(list.get()));
}

}  // namespace
