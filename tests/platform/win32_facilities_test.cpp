// The real machine's facilities, against the system they run on. Only calls
// that leave the machine as they found it: nothing here stops or deletes a
// service, adjusts a privilege, restarts, or schedules work for the next boot.
#include "platform/win32/win32_api.h"

#include "platform/win32/win32_facilities.h"
#include "platform/win32/win32_handles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace platform;
using namespace platform::win32;

constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorServiceDoesNotExist = 1060;

// A scratch directory below the system's temporary directory, removed after.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    path_ = fs::temp_directory_path() / L"tessel-platform-test";
    Remove();
    fs::create_directories(path_);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  ~ScratchDirectory() { Remove(); }
  const fs::path& path() const { return path_; }

 private:
  // Wine shows a file whose DACL grants no writing as read-only, which keeps
  // it from being deleted.
  void Remove() {
    std::error_code ignored;
    for (fs::recursive_directory_iterator it(path_, ignored), end; it != end;
         it.increment(ignored)) {
      SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    fs::remove_all(path_, ignored);
  }

  fs::path path_;
};

// Wine's own ntdll exports its version.
bool RunsOnWine() { return LookUpEntry<void (*)()>(L"ntdll", "wine_get_version") != nullptr; }

void WriteTextFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

// Whether the file system handed out a handle: it passes on what Windows gives.
bool Opened(FileHandle file) { return NullOrAllBitsSetIsNone::Holds(file); }

std::string ReadTextFile(const fs::path& path) {
  std::string text(static_cast<std::size_t>(fs::file_size(path)), '\0');
  std::ifstream in(path, std::ios::binary);
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  return text;
}

TEST(Win32FileSystem, CreatesOnlyNewFilesAndRemovesLinksAsNames) {
  ScratchDirectory scratch;
  Win32FileSystem files;
  const std::wstring page = (scratch.path() / L"page.html").wstring();

  const std::string text = "<html>page</html>";
  FileHandle file = files.CreateNewFile(page);
  ASSERT_TRUE(Opened(file));
  EXPECT_EQ(files.Write(file, reinterpret_cast<const std::uint8_t*>(text.data()), text.size()),
            text.size());
  // The final path names the file where it is, in the NT form, and the
  // directory's is the start of it; in the drive form it is the path itself.
  const std::optional<std::wstring> final = files.GetFinalPath(file, FinalPathForm::kNtDevice);
  ASSERT_TRUE(final.has_value());
  EXPECT_EQ(final->substr(0, 8), L"\\Device\\");
  EXPECT_TRUE(files.EqualIgnoringCase(
      files.GetFinalPath(file, FinalPathForm::kDrive).value_or(L"?"), L"\\\\?\\" + page));
  const FileHandle directory = files.OpenDirectory(scratch.path().wstring() + L"\\");
  ASSERT_TRUE(Opened(directory));
  EXPECT_EQ(files.GetFinalPath(directory, FinalPathForm::kNtDevice).value_or(L"?") + L"\\page.html",
            *final);
  EXPECT_TRUE(files.Close(directory));
  // A directory held open can be neither renamed nor deleted.
  const fs::path held = scratch.path() / L"held";
  fs::create_directory(held);
  const FileHandle holding = files.OpenDirectory(held.wstring());
  ASSERT_TRUE(Opened(holding));
  std::error_code refused;
  fs::rename(held, scratch.path() / L"moved", refused);
  EXPECT_TRUE(refused) << "renamed while held";
  EXPECT_TRUE(files.Close(holding));
  EXPECT_TRUE(fs::exists(held));
  EXPECT_TRUE(files.Close(file));
  EXPECT_EQ(ReadTextFile(page), text);
  EXPECT_FALSE(Opened(files.CreateNewFile(page))) << "a file already holds the name";
  EXPECT_FALSE(Opened(files.CreateNewFile((scratch.path() / L"missing" / L"page.html").wstring())));

  // A hard link at a name goes as a name; the file it shares stays.
  const fs::path other = scratch.path() / L"other.txt";
  WriteTextFile(other, "kept");
  const std::wstring linked = (scratch.path() / L"linked.html").wstring();
  fs::create_hard_link(other, linked);
  EXPECT_FALSE(Opened(files.CreateNewFile(linked)));
  EXPECT_TRUE(files.DeleteFile(linked));
  EXPECT_EQ(ReadTextFile(other), "kept");

  // Marked for deletion, the file goes when closed. Wine turns the new file's
  // DACL, which grants no writing, into a read-only attribute and then
  // refuses the deletion (5); Windows keeps the DACL apart from the attribute.
  file = files.CreateNewFile(linked);
  ASSERT_TRUE(Opened(file));
  EXPECT_EQ(files.DeleteWhenClosed(file), !RunsOnWine());
  EXPECT_TRUE(files.Close(file));
  EXPECT_EQ(fs::exists(linked), RunsOnWine());

  // Through a handle to the name: an empty directory goes, a full one stays.
  fs::create_directories(scratch.path() / L"full" / L"empty");
  for (const fs::path& item : {scratch.path() / L"full", scratch.path() / L"full" / L"empty"}) {
    const FileHandle name = files.OpenName(item.wstring());
    ASSERT_TRUE(Opened(name));
    EXPECT_EQ(files.DeleteWhenClosed(name), item.filename() == L"empty");
    EXPECT_TRUE(files.Close(name));
  }
  EXPECT_TRUE(fs::exists(scratch.path() / L"full"));
  EXPECT_FALSE(fs::exists(scratch.path() / L"full" / L"empty"));
  EXPECT_FALSE(Opened(files.OpenName((scratch.path() / L"missing").wstring())));
  EXPECT_TRUE(
      files.EqualIgnoringCase(L"C:\\Users\\Zo\u00eb\\\u0434", L"c:\\USERS\\ZO\u00cb\\\u0414"));
  EXPECT_FALSE(files.EqualIgnoringCase(L"C:\\Temp", L"C:\\Temp\\"));
}

TEST(Win32FileSystem, TheHeldPageRefusesWritersAndDeletersWhileReadersReadIt) {
  ScratchDirectory scratch;
  Win32FileSystem files;
  const std::wstring page = (scratch.path() / L"page.html").wstring();
  const std::string text = "<html>page</html>";

  // As the page is held: written, then bridged to a handle that only reads.
  const FileHandle writer = files.CreateNewFile(page);
  ASSERT_TRUE(Opened(writer));
  EXPECT_EQ(files.Write(writer, reinterpret_cast<const std::uint8_t*>(text.data()), text.size()),
            text.size());
  const FileHandle bridge =
      files.ReOpenForReading(writer, kFileShareRead | kFileShareWrite | kFileShareDelete);
  ASSERT_TRUE(Opened(bridge));
  EXPECT_FALSE(Opened(files.ReOpenForReading(writer, kFileShareRead))) << "the writer is open";
  EXPECT_TRUE(files.Close(writer));
  const FileHandle held = files.ReOpenForReading(bridge, kFileShareRead);
  ASSERT_TRUE(Opened(held));
  EXPECT_TRUE(files.Close(bridge));

  constexpr DWORD kAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  for (const DWORD share : {DWORD{FILE_SHARE_READ}, DWORD{FILE_SHARE_READ | FILE_SHARE_WRITE}}) {
    const UniqueKernelHandle reader(
        CreateFileW(page.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_NE(reader.get(), INVALID_HANDLE_VALUE) << share;
    char bytes[64] = {};
    DWORD read = 0;
    EXPECT_TRUE(ReadFile(reader.get(), bytes, sizeof(bytes), &read, nullptr));
    EXPECT_EQ(std::string(bytes, read), text);
  }
  for (const DWORD access : {DWORD{GENERIC_WRITE}, DWORD{DELETE}}) {
    EXPECT_EQ(CreateFileW(page.c_str(), access, kAll, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    // Windows refuses a writer by the DACL first (5); the held handle refuses
    // both by its sharing (32), which is all Wine checks.
    const DWORD error = GetLastError();
    EXPECT_TRUE(error == ERROR_SHARING_VIOLATION ||
                (error == ERROR_ACCESS_DENIED && access == GENERIC_WRITE && !RunsOnWine()))
        << access << " " << error;
  }
  EXPECT_FALSE(MoveFileExW(page.c_str(), (page + L".moved").c_str(), 0));
  EXPECT_FALSE(Opened(files.OpenName(page)));
  EXPECT_TRUE(files.Close(held));
}

TEST(Win32FileSystem, WritesThePageWhereverTempLeads) {
  // TEMP as users have it: below a profile with a non-ASCII name, and with a
  // trailing backslash that the page's name, itself starting with one, doubles.
  ScratchDirectory scratch;
  Win32FileSystem files;
  const fs::path temp = scratch.path() / L"Zo\u00eb \u65e5\u672c \U0001F600";
  fs::create_directories(temp);
  const std::wstring page = temp.wstring() + L"\\\\tessel_removal_eula.html";

  const std::string bytes = "<html>page</html>";
  // BUILTIN\Users may read it too.
  const FileHandle file =
      files.CreateNewFile(page, {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 33, 2, 0, 0});
  ASSERT_TRUE(Opened(file));
  EXPECT_EQ(files.Write(file, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
            bytes.size());
  EXPECT_TRUE(files.Close(file));
  EXPECT_EQ(ReadTextFile(temp / L"tessel_removal_eula.html"), bytes);
}

TEST(Win32FileSystem, ListsADirectoryWithoutDotEntries) {
  ScratchDirectory scratch;
  Win32FileSystem files;
  fs::create_directories(scratch.path() / L"sub" / L"deeper");
  WriteTextFile(scratch.path() / L"a.txt", "a");
  WriteTextFile(scratch.path() / L"sub" / L"b.txt", "b");

  for (const std::wstring& directory :
       {scratch.path().wstring(), scratch.path().wstring() + L"\\"}) {
    const auto listed = files.ListDirectory(directory);
    ASSERT_TRUE(listed.has_value()) << directory;
    std::vector<DirectoryEntry> entries = *listed;
    std::sort(entries.begin(), entries.end(),
              [](const DirectoryEntry& l, const DirectoryEntry& r) { return l.name < r.name; });
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, L"a.txt");
    EXPECT_FALSE(entries[0].isDirectory);
    EXPECT_EQ(entries[1].name, L"sub");
    EXPECT_TRUE(entries[1].isDirectory);
  }

  const auto empty = files.ListDirectory((scratch.path() / L"sub" / L"deeper").wstring());
  ASSERT_TRUE(empty.has_value());
  EXPECT_TRUE(empty->empty());
  EXPECT_FALSE(files.ListDirectory((scratch.path() / L"missing").wstring()).has_value());
}

TEST(Win32FileSystem, ShellDeleteRemovesATreeSilentlyAndReportsAMissingPath) {
  ScratchDirectory scratch;
  Win32FileSystem files;
  const fs::path tree = scratch.path() / L"Orvane Tessel Web Protection";
  fs::create_directories(tree / L"bin");
  WriteTextFile(tree / L"bin" / L"filter.dll", "x");
  WriteTextFile(tree / L"readme.txt", "y");

  EXPECT_EQ(files.ShellDelete(tree.wstring()), 0);
  EXPECT_FALSE(fs::exists(tree));
  EXPECT_EQ(files.GetFileAttributes(tree.wstring()), kInvalidFileAttributes);
  EXPECT_TRUE(fs::exists(scratch.path()));  // Only the one item named.

  EXPECT_NE(files.ShellDelete(tree.wstring()), 0);
}

TEST(Win32FileSystem, RedirectionEntriesAreFoundAndSwitchBack) {
  Win32FileSystem files;
  Win32Process process;
  const std::optional<bool> wow64 = process.IsWow64Process();
  ASSERT_TRUE(wow64.has_value());
  if (!*wow64) GTEST_SKIP() << "not a 32-bit process on a 64-bit system";

  RedirectionState saved = nullptr;
  const std::optional<bool> disabled = files.DisableWow64FsRedirection(saved);
  ASSERT_TRUE(disabled.has_value());
  EXPECT_TRUE(*disabled);
  const std::optional<bool> reverted = files.RevertWow64FsRedirection(saved);
  ASSERT_TRUE(reverted.has_value());
  EXPECT_TRUE(*reverted);
}

TEST(Win32Registry, OpensExistingKeysAndReportsMissingOnes) {
  Win32Registry registry;
  HKey key = nullptr;
  ASSERT_EQ(
      registry.OpenLocalMachineKey(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", kKeyRead, key),
      0);
  EXPECT_NE(key, nullptr);
  EXPECT_EQ(registry.CloseKey(key), 0);

  const std::wstring missing = L"SOFTWARE\\Tessel Platform Test\\Surely Missing";
  key = nullptr;
  EXPECT_EQ(registry.OpenLocalMachineKey(missing, kKeyRead | kKeyWow64_64Key, key),
            static_cast<std::int32_t>(kErrorFileNotFound));
  EXPECT_EQ(registry.DeleteLocalMachineKey(missing), static_cast<std::int32_t>(kErrorFileNotFound));
  const std::optional<std::int32_t> deleted =
      registry.DeleteLocalMachineKeyEx(missing, kKeyWow64_64Key | kKeyCreateSubKey);
  ASSERT_TRUE(deleted.has_value());
  EXPECT_EQ(*deleted, static_cast<std::int32_t>(kErrorFileNotFound));
}

TEST(Win32ServiceControl, AMissingServiceLeavesItsErrorAcrossConsoleOutput) {
  Win32ServiceControl services;
  Win32SystemErrors messages;
  Win32ConsoleSink console;

  const ScHandle manager = services.OpenSCManager(kScManagerConnect);
  ASSERT_NE(manager, nullptr);
  EXPECT_EQ(services.OpenService(manager, L"tessel-platform-test-missing", kServiceInterrogate),
            nullptr);
  // The error is read after a console line has been written, as the tool
  // does; writing must not disturb it.
  if (console.IsConsoleWindow()) {
    console.WriteText(u"\r\n");
  } else {
    console.WriteBytes("\r\n");
  }
  EXPECT_EQ(messages.GetLastError(), kErrorServiceDoesNotExist);
  EXPECT_TRUE(services.CloseServiceHandle(manager));
}

TEST(Win32SystemErrors, GivesTheSystemTextWithItsLineBreakOrNothing) {
  Win32SystemErrors messages;
  const std::optional<std::wstring> text = messages.FormatSystemMessage(kErrorFileNotFound);
  ASSERT_TRUE(text.has_value());
  ASSERT_GT(text->size(), 2u);
  EXPECT_EQ(text->substr(text->size() - 2), L"\r\n");

  EXPECT_FALSE(messages.FormatSystemMessage(0xFFFFFFFF).has_value());
}

TEST(Win32Identifiers, MakesDistinctLowerCaseUuidStrings) {
  Win32Identifiers identifiers;
  const std::wstring first = identifiers.CreateUuidString();
  const std::wstring second = identifiers.CreateUuidString();
  EXPECT_NE(first, second);
  for (const std::wstring& id : {first, second}) {
    ASSERT_EQ(id.size(), 36u) << id;
    for (std::size_t i = 0; i < id.size(); ++i) {
      if (i == 8 || i == 13 || i == 18 || i == 23) {
        EXPECT_EQ(id[i], L'-') << id;
      } else {
        EXPECT_TRUE(std::iswxdigit(id[i]) && !std::iswupper(id[i])) << id;
      }
    }
  }
}

TEST(Win32Environment, ReadsTheEnvironmentAndFindsNoMissingResource) {
  Win32Environment environment;
  Win32ProgramResources resources;
  const std::optional<std::wstring> root = environment.GetEnvironmentVariable(L"SystemRoot");
  ASSERT_TRUE(root.has_value());
  ASSERT_GE(root->size(), 3u);
  EXPECT_EQ(root->substr(1, 2), L":\\") << *root;
  EXPECT_FALSE(environment.GetEnvironmentVariable(L"TESSEL_PLATFORM_TEST_UNSET").has_value());

  // A value comes back whole, whatever characters it holds.
  const std::wstring unusual =
      L"C:\\Users\\Zo\u00eb\\\u65e5\u672c\U0001F600\\" + std::wstring(2000, L'x');
  ASSERT_EQ(_wputenv_s(L"TESSEL_PLATFORM_TEST_TEMP", unusual.c_str()), 0);
  EXPECT_EQ(environment.GetEnvironmentVariable(L"TESSEL_PLATFORM_TEST_TEMP"), unusual);

  // This test program carries no agreement page.
  EXPECT_FALSE(resources.FindProgramResource(256, 101).has_value());
}

TEST(Win32ProgramResources, FindsTheProgramsOwnResourceBytesByExactTypeAndId) {
  Win32ProgramResources resources;
  const std::optional<ResourceBytes> probe = resources.FindProgramResource(256, 201);
  ASSERT_TRUE(probe.has_value());
  ASSERT_NE(probe->data, nullptr);
  const std::string bytes(reinterpret_cast<const char*>(probe->data), probe->size);
  EXPECT_EQ(bytes, "resource probe");

  // Numbers that only their low word would turn into the probe's: a type or
  // id outside 1..65535 names no resource.
  constexpr int kWord = 0x10000;
  EXPECT_FALSE(resources.FindProgramResource(256, 201 + kWord).has_value());
  EXPECT_FALSE(resources.FindProgramResource(256 + kWord, 201).has_value());
  EXPECT_FALSE(resources.FindProgramResource(256, 201 - kWord).has_value());
  EXPECT_FALSE(resources.FindProgramResource(256, 0).has_value());
  EXPECT_FALSE(resources.FindProgramResource(0, 201).has_value());
}

TEST(Win32Power, OpensTheProcessTokenAndLooksUpPrivileges) {
  Win32Power power;
  const TokenHandle token = power.OpenProcessToken(kTokenQuery);
  ASSERT_NE(token, nullptr);
  EXPECT_TRUE(power.CloseToken(token));

  PrivilegeId id;
  ASSERT_TRUE(power.LookupPrivilegeValue(L"SeShutdownPrivilege", id));
  EXPECT_TRUE(id.lowPart != 0 || id.highPart != 0);
  PrivilegeId unknown;
  EXPECT_FALSE(power.LookupPrivilegeValue(L"SeTesselPlatformTestPrivilege", unknown));
}

TEST(Win32Internet, OpensAndClosesHandlesWithoutTouchingTheNetwork) {
  Win32Internet internet;
  const HInternet root = internet.Open(L"ZANT", kInternetOpenTypePreconfig);
  ASSERT_NE(root, nullptr);
  EXPECT_TRUE(internet.SetOption(root, kInternetOptionConnectTimeout, 10000));
  // Neither opening a connection nor a request sends anything yet.
  const HInternet connection =
      internet.Connect(root, L"telemetry.invalid", kInternetDefaultHttpPort, kInternetServiceHttp);
  ASSERT_NE(connection, nullptr);
  const HInternet request =
      internet.OpenRequest(connection, L"POST", L"entt", kInternetFlagNoAutoRedirect);
  ASSERT_NE(request, nullptr);
  EXPECT_TRUE(internet.AddRequestHeaders(request, L"Connection: close\r\n", kHttpAddReqFlagAdd));
  EXPECT_TRUE(internet.CloseHandle(request));
  EXPECT_TRUE(internet.CloseHandle(connection));
  EXPECT_TRUE(internet.CloseHandle(root));
}

}  // namespace
