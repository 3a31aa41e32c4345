// The library's diagnostic log: "dedupe.log" in the host executable's directory.
// Disabled from construction; nothing in the library enables it, so no file is
// written unless EnableForTesting is called (only the tests call it).
#ifndef TWINTONE_SUPPORT_LOG_H
#define TWINTONE_SUPPORT_LOG_H

#include <cstdio>
#include <string>

class CCLog {
 public:
  FILE* pFile;         // open log stream, or null; owned
  bool bEnable;        // gates only the opening of the file
  std::string strDir;  // folder of the log file; empty: the host executable's folder

  CCLog();
  ~CCLog();
  CCLog(const CCLog&) = delete;
  CCLog& operator=(const CCLog&) = delete;

  // Writes one printf-formatted message as one line ending in CR LF, at most 4095
  // bytes of text. Opens (truncates) the file at the first message once enabled.
  // Takes no lock: callers on several threads serialise their calls.
  void lg(const char* pszFormat, ...) __attribute__((format(printf, 2, 3)));
  // The hook CDedupeMusic::LaunchReserved calls on the starting host thread before
  // each worker is created. It deliberately changes nothing: the log's contract is
  // that nothing in the library turns logging on, so a host never finds a log file,
  // and a log that EnableForTesting opened stays open across runs. It is the one
  // place where a build that wants a log at every run would turn it on.
  void setlog();
  // Turns logging on, with the file in strDir (no trailing "/"), or in the host
  // executable's folder when strDir is empty. Takes effect at the next message;
  // a file already open stays where it is. Not called by the library itself.
  void EnableForTesting(const std::string& strDir);
};

// The one log of the process; hidden from hosts.
extern CCLog g_log;

#endif  // TWINTONE_SUPPORT_LOG_H
