// Stands in for the browser: the program that the test machine opens HTML
// files with. It appends one line to LOG with the arguments it was given, so
// a test can tell which file the tool asked the shell to open.
//
//   e2e-record.exe LOG ARGS...
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  std::wstring line;
  for (int i = 2; i < argc; ++i) {
    if (i > 2) line += L" | ";
    line += argv[i];
  }
  // UTF-8, so the reader sees any path as it is.
  const int size = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, utf8.data(), size, nullptr, nullptr);
  FILE* log = _wfopen(argv[1], L"ab");
  if (log == nullptr) return 1;
  std::fprintf(log, "%s\n", utf8.c_str());
  std::fclose(log);
  return 0;
}
