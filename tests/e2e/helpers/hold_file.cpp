// Keeps a file open without FILE_SHARE_DELETE, so that deleting it meets a
// sharing violation, until the process is ended.
//
//   e2e-hold.exe PATH READYFILE
//
// PATH is opened in the native view of the system directory (redirection off),
// so C:\Windows\system32\drivers\... means the 64-bit directory. Once the file
// is held, READYFILE is written with "held"; on failure with "error CODE".
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

void WriteReady(const wchar_t* path, const char* text, DWORD code) {
  FILE* ready = _wfopen(path, L"wb");
  if (ready == nullptr) return;
  std::fprintf(ready, "%s %lu\n", text, static_cast<unsigned long>(code));
  std::fclose(ready);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fwprintf(stderr, L"usage: e2e-hold.exe PATH READYFILE\n");
    return 2;
  }
  PVOID saved = nullptr;
  const BOOL disabled = Wow64DisableWow64FsRedirection(&saved);
  HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  const DWORD error = GetLastError();
  if (disabled) Wow64RevertWow64FsRedirection(saved);
  if (file == INVALID_HANDLE_VALUE) {
    WriteReady(argv[2], "error", error);
    return 1;
  }
  WriteReady(argv[2], "held", 0);
  Sleep(INFINITE);
  CloseHandle(file);
  return 0;
}
