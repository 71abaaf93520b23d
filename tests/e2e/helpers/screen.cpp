// Reads back the text of the console window a program runs in, as a person
// in front of it sees it.
//
//   e2e-screen.exe PROGRAM OUTFILE
//
// Attaches to the console of the running process named PROGRAM (e.g.
// "tessel-cleanup.exe") and copies the console's rows, from the first one to
// the cursor's, into OUTFILE as UTF-8, one row a line, every 100 ms until
// that process has ended. Staying attached keeps the console open for the
// last copy.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// Needs the types of windows.h.
#include <tlhelp32.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

DWORD FindProcess(const wchar_t* name) {
  DWORD found = 0;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more && found == 0;
       more = Process32NextW(snapshot, &entry)) {
    if (lstrcmpiW(entry.szExeFile, name) == 0) found = entry.th32ProcessID;
  }
  CloseHandle(snapshot);
  return found;
}

// Rows 0 to the cursor's, written whole to a temporary name and then moved,
// so a reader never sees half a copy.
bool Copy(HANDLE screen, const std::wstring& outFile) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(screen, &info)) return false;
  const SHORT width = info.dwSize.X;
  std::vector<wchar_t> row(static_cast<std::size_t>(width));
  std::string text;
  for (SHORT y = 0; y <= info.dwCursorPosition.Y; ++y) {
    DWORD read = 0;
    if (!ReadConsoleOutputCharacterW(screen, row.data(), static_cast<DWORD>(width), COORD{0, y},
                                     &read)) {
      return false;
    }
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, row.data(), static_cast<int>(read), nullptr,
                                          0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, row.data(), static_cast<int>(read), utf8.data(), bytes, nullptr,
                        nullptr);
    text += utf8 + "\n";
  }
  const std::wstring partial = outFile + L".part";
  FILE* out = _wfopen(partial.c_str(), L"wb");
  if (out == nullptr) return false;
  std::fwrite(text.data(), 1, text.size(), out);
  std::fclose(out);
  return MoveFileExW(partial.c_str(), outFile.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fwprintf(stderr, L"usage: e2e-screen.exe PROGRAM OUTFILE\n");
    return 2;
  }
  // The process may be found before its console is set up: try for a minute.
  DWORD pid = 0;
  bool attached = false;
  FreeConsole();
  for (int tries = 0; !attached && tries < 600; ++tries) {
    pid = FindProcess(argv[1]);
    attached = pid != 0 && AttachConsole(pid);
    if (!attached) Sleep(100);
  }
  HANDLE process = attached ? OpenProcess(SYNCHRONIZE, FALSE, pid) : nullptr;
  if (process == nullptr) {
    std::fwprintf(stderr, L"cannot attach to the console of %ls (%lu): %lu\n", argv[1], pid,
                  GetLastError());
    return 1;
  }
  // The active screen buffer, whatever this process's standard handles are.
  HANDLE screen =
      CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (screen == INVALID_HANDLE_VALUE) return 1;
  bool ended = false;
  while (!ended) {
    ended = WaitForSingleObject(process, 100) == WAIT_OBJECT_0;
    if (!Copy(screen, argv[2])) return 1;
  }
  return 0;
}
