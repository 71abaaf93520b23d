// Runs a program with this process's standard handles and records its exit
// code as the full 32-bit value (a Unix exit status keeps only 8 bits of it).
//
//   e2e-launch.exe [--unset NAME] [--set NAME=VALUE] CODEFILE PROGRAM [ARGS...]
//
// --unset and --set change the environment that PROGRAM inherits (each may be
// given more than once). CODEFILE receives the exit code as an unsigned
// decimal number once PROGRAM has ended; the launcher then exits with the same
// code. Ctrl+C and the other console events leave the launcher running.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

// Quotes one argument so that the C runtime's parser gives it back unchanged.
std::wstring Quote(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');
  return quoted + L"\"";
}

// Ctrl+C and the like go to every process of the console: the launcher stays
// to record what they did to the program. Not inherited, unlike ignoring them.
BOOL WINAPI OutliveProgram(DWORD /*event*/) { return TRUE; }

}  // namespace

int wmain(int argc, wchar_t** argv) {
  int next = 1;
  for (; next + 1 < argc; next += 2) {
    const std::wstring option = argv[next];
    const std::wstring operand = argv[next + 1];
    if (option == L"--unset") {
      SetEnvironmentVariableW(operand.c_str(), nullptr);
    } else if (option == L"--set" && operand.find(L'=') != std::wstring::npos) {
      const std::size_t equals = operand.find(L'=');
      SetEnvironmentVariableW(operand.substr(0, equals).c_str(),
                              operand.substr(equals + 1).c_str());
    } else {
      break;
    }
  }
  if (argc - next < 2) {
    std::fwprintf(stderr,
                  L"usage: e2e-launch.exe [--unset NAME] [--set NAME=VALUE] CODEFILE PROGRAM "
                  L"[ARGS...]\n");
    return 2;
  }
  const wchar_t* codeFileArg = argv[next];
  const wchar_t* program = argv[next + 1];
  std::wstring commandLine;
  for (int i = next + 1; i < argc; ++i) {
    if (!commandLine.empty()) commandLine += L' ';
    commandLine += Quote(argv[i]);
  }

  SetConsoleCtrlHandler(OutliveProgram, TRUE);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(program, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &process)) {
    std::fwprintf(stderr, L"CreateProcessW failed: %lu\n", GetLastError());
    return 3;
  }
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);

  // Written to a temporary name first, so a reader never sees half a number.
  const std::wstring codeFile = codeFileArg;
  const std::wstring partial = codeFile + L".part";
  FILE* out = _wfopen(partial.c_str(), L"wb");
  if (out != nullptr) {
    std::fprintf(out, "%lu\n", static_cast<unsigned long>(code));
    std::fclose(out);
    MoveFileExW(partial.c_str(), codeFile.c_str(), MOVEFILE_REPLACE_EXISTING);
  }
  return static_cast<int>(code);
}
