// The real machine's facilities: thin pass-throughs to the Windows API. This
// header does not include <windows.h>; the implementations do.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/console_stream.h"
#include "platform/platform.h"

namespace platform::win32 {

class Win32ServiceControl final : public ServiceControl {
 public:
  ScHandle OpenSCManager(std::uint32_t access) override;
  ScHandle OpenService(ScHandle manager, const std::wstring& name, std::uint32_t access) override;
  bool QueryServiceStatus(ScHandle service, ServiceStatus& status) override;
  bool ControlService(ScHandle service, std::uint32_t control) override;
  bool DeleteService(ScHandle service) override;
  bool CloseServiceHandle(ScHandle handle) override;
};

class Win32Registry final : public Registry {
 public:
  std::int32_t OpenLocalMachineKey(const std::wstring& path, std::uint32_t access,
                                   HKey& key) override;
  std::int32_t CloseKey(HKey key) override;
  std::int32_t DeleteLocalMachineKey(const std::wstring& path) override;
  std::optional<std::int32_t> DeleteLocalMachineKeyEx(const std::wstring& path,
                                                      std::uint32_t access) override;
};

class Win32FileSystem final : public FileSystem {
 public:
  std::uint32_t GetFileAttributes(const std::wstring& path) override;
  bool SetFileAttributes(const std::wstring& path, std::uint32_t attributes) override;
  bool DeleteFile(const std::wstring& path) override;
  int ShellDelete(const std::wstring& path) override;
  bool DeleteAtReboot(const std::wstring& path) override;
  std::optional<std::vector<DirectoryEntry>> ListDirectory(const std::wstring& directory) override;
  std::optional<bool> DisableWow64FsRedirection(RedirectionState& saved) override;
  std::optional<bool> RevertWow64FsRedirection(RedirectionState saved) override;
  FileHandle OpenDirectory(const std::wstring& path) override;
  FileHandle OpenName(const std::wstring& path) override;
  FileHandle CreateNewFile(const std::wstring& path,
                           const std::vector<std::uint8_t>& otherReader = {}) override;
  FileHandle ReOpenForReading(FileHandle file, std::uint32_t shareMode) override;
  std::optional<std::wstring> GetFinalPath(FileHandle file, FinalPathForm form) override;
  bool EqualIgnoringCase(const std::wstring& left, const std::wstring& right) override;
  bool DeleteWhenClosed(FileHandle file) override;
  std::size_t Write(FileHandle file, const std::uint8_t* data, std::size_t size) override;
  bool Close(FileHandle file) override;
};

class Win32Process final : public Process {
 public:
  std::optional<bool> IsWow64Process() override;
  bool StartThread(std::function<void()> task) override;
  bool RunWithin(std::function<void()> task, std::uint32_t milliseconds,
                 const std::function<void()>& expire, std::uint32_t graceMilliseconds) override;
  void Terminate(int exitCode) override;
  bool EndOnConsoleControl() override;
  void SetConsoleControlText(const char* text) override;
};

// Loads WinINet on the thread that creates it, so that no exchange's worker
// thread is ever inside the loader when the run ends. Without WinINet,
// AttemptConnect answers ERROR_MOD_NOT_FOUND and no other call may be made.
class Win32Internet final : public Internet {
 public:
  Win32Internet();

  std::uint32_t AttemptConnect() override;
  HInternet Open(const std::wstring& agent, std::uint32_t accessType) override;
  bool SetOption(HInternet handle, std::uint32_t option, std::uint32_t value) override;
  HInternet Connect(HInternet root, const std::wstring& server, std::uint16_t port,
                    std::uint32_t service) override;
  HInternet OpenRequest(HInternet connection, const std::wstring& verb, const std::wstring& object,
                        std::uint32_t flags) override;
  bool AddRequestHeaders(HInternet request, const std::wstring& headers,
                         std::uint32_t modifiers) override;
  bool SendRequestEx(HInternet request) override;
  bool WriteFile(HInternet request, const std::uint8_t* data, std::uint32_t size,
                 std::uint32_t& written) override;
  std::uint32_t EndRequest(HInternet request) override;
  bool QueryStatusCode(HInternet request, std::uint32_t& status) override;
  bool QueryInfoA(HInternet request, std::uint32_t infoLevel, char* buffer,
                  std::uint32_t& length) override;
  bool ReadFile(HInternet request, std::uint8_t* buffer, std::uint32_t size,
                std::uint32_t& read) override;
  bool CloseHandle(HInternet handle) override;
};

class Win32SystemErrors final : public SystemErrors {
 public:
  std::uint32_t GetLastError() override;
  std::optional<std::wstring> FormatSystemMessage(std::uint32_t code) override;
};

class Win32Keyboard final : public Keyboard {
 public:
  std::int16_t GetAsyncKeyState(int virtualKey) override;
  ConsoleInputHandle OpenConsoleInput() override;
  bool CloseConsoleInput(ConsoleInputHandle input) override;
  InputWait WaitForConsoleInput(ConsoleInputHandle input, std::uint32_t milliseconds) override;
  std::vector<ConsoleInputRecord> ReadConsoleRecords(ConsoleInputHandle input) override;
  bool FlushConsoleInput(ConsoleInputHandle input) override;
};

class Win32Clock final : public Clock {
 public:
  void Sleep(std::uint32_t milliseconds) override;
};

class Win32Identifiers final : public Identifiers {
 public:
  std::wstring CreateUuidString() override;
};

class Win32Environment final : public Environment {
 public:
  std::optional<std::wstring> GetEnvironmentVariable(const std::wstring& name) override;
};

class Win32ProgramResources final : public ProgramResources {
 public:
  std::optional<ResourceBytes> FindProgramResource(int type, int id) override;
};

class Win32DesktopShell final : public DesktopShell {
 public:
  std::optional<DesktopShellAccount> FindDesktopShellAccount() override;
  bool OpenDocumentAsDesktopUser(const std::wstring& path, int showCommand) override;
};

class Win32Power final : public Power {
 public:
  TokenHandle OpenProcessToken(std::uint32_t access) override;
  bool CloseToken(TokenHandle token) override;
  bool LookupPrivilegeValue(const std::wstring& name, PrivilegeId& id) override;
  bool AdjustTokenPrivilege(TokenHandle token, const PrivilegeId& id,
                            std::uint32_t attributes) override;
  bool ExitWindows(std::uint32_t flags, std::uint32_t reason) override;
  std::optional<std::uint32_t> WindowStationFlags() override;
  std::uint32_t InitiateShutdown(std::uint32_t gracePeriodSeconds, std::uint32_t flags,
                                 std::uint32_t reason) override;
};

// The process's standard output: a console window, or a file or pipe when it
// is redirected. Writing leaves the thread's last error as it was, so that
// a line printed between a failing call and the reading of its error code
// cannot change that code.
class Win32ConsoleSink final : public ConsoleSink {
 public:
  Win32ConsoleSink();

  bool IsConsoleWindow() override;
  void WriteText(std::u16string_view text) override;
  void WriteBytes(std::string_view bytes) override;

 private:
  void* output_;  // The standard output handle; not owned.
  bool consoleWindow_;
};

}  // namespace platform::win32
