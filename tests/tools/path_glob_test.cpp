// --exclude's globs: where "*", "**", "?" and classes stop, and which spelling of an
// entry a pattern is held to.
#include "scan/path_glob.h"

#include <gtest/gtest.h>

namespace twintone_cli {
namespace {

TEST(PathGlobTest, StarsStopAtSlashesExceptDoubleOnes) {
  const struct {
    const char* pszPattern;
    const char* pszText;
    bool bMatches;
  } kCases[] = {
      {"*.wav", "a.wav", true},          {"*.wav", "a/b.wav", false},
      {"Live/*", "Live/a.mp3", true},    {"Live/*", "Live/x/a.mp3", false},
      {"Live/**", "Live/x/a.mp3", true}, {"**/a.mp3", "a.mp3", true},
      {"**/a.mp3", "x/y/a.mp3", true},   {"**/a.mp3", "x/ba.mp3", false},
      {"a/**/b", "a/b", true},           {"a/**/b", "a/x/y/b", true},
      {"?.mp3", "/.mp3", false},         {"[ab].mp3", "b.mp3", true},
      {"[!ab].mp3", "b.mp3", false},     {"[].mp3", "].mp3", false},
      {"[]].mp3", "].mp3", true},        {"\\*.mp3", "x.mp3", false},
      {"\\*.mp3", "*.mp3", true},        {"a*", "", false},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.bMatches, GlobMatches(c.pszPattern, c.pszText)) << c.pszPattern << " " << c.pszText;
  }
}

TEST(PathGlobTest, NamesMatchAtAnyDepthPathsAsGivenOrBelowTheRoot) {
  const std::vector<std::string> vecPatterns = {"Podcasts", "lib/Old/*", "Live/**/*.flac"};
  auto pattern = [&](const char* pszPath, const char* pszRelative, const char* pszName) {
    const std::string* p = ExcludingPattern(vecPatterns, pszPath, pszRelative, pszName);
    return p == nullptr ? std::string() : *p;
  };
  EXPECT_EQ("Podcasts", pattern("lib/x/Podcasts", "x/Podcasts", "Podcasts"));
  EXPECT_EQ("lib/Old/*", pattern("lib/Old/a.mp3", "Old/a.mp3", "a.mp3"));
  EXPECT_EQ("Live/**/*.flac", pattern("/m/Live/1999/a.flac", "Live/1999/a.flac", "a.flac"));
  EXPECT_EQ("", pattern("/m/Live/1999/a.mp3", "Live/1999/a.mp3", "a.mp3"));
  EXPECT_EQ("", pattern("lib/New/Old/a.mp3", "New/Old/a.mp3", "a.mp3"));
}

}  // namespace
}  // namespace twintone_cli
