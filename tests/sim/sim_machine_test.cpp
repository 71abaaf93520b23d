// The simulated machine behaves as Windows does where the removal tests rely
// on it.
#include "tests/sim/sim_machine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::wstring kDir = L"C:\\Program Files\\Orvane Tessel Web Protection";

class SimFilesTest : public ::testing::Test {
 protected:
  sim::SimMachine machine;
  sim::SimFiles& files = machine.files;
};

TEST_F(SimFilesTest, ShellDeleteOfADirectoryHoldingAFileInUseDeletesEverythingElse) {
  files.AddFile(kDir + L"\\a.txt");
  files.AddFile(kDir + L"\\ro.txt");
  files.SetReadOnly(kDir + L"\\ro.txt");
  files.AddFile(kDir + L"\\sub\\held.dll");
  files.AddFile(kDir + L"\\sub\\b.txt");
  files.AddDirectory(kDir + L"\\empty");
  files.SetInUse(kDir + L"\\sub\\held.dll");
  EXPECT_EQ(files.ShellDelete(kDir), 32);
  EXPECT_EQ(files.ItemsBelow(kDir),
            (std::vector<std::wstring>{L"c:\\program files\\orvane tessel web protection",
                                       L"c:\\program files\\orvane tessel web protection\\sub",
                                       L"c:\\program files\\orvane tessel web "
                                       L"protection\\sub\\held.dll"}));
}

TEST_F(SimFilesTest, ShellDeleteResultsForMissingAndProtectedItems) {
  EXPECT_EQ(files.ShellDelete(kDir), 2);
  EXPECT_EQ(files.ShellDelete(kDir + L"\\missing\\x.txt"), 124);
  files.AddFile(kDir + L"\\ro.txt");
  files.SetReadOnly(kDir + L"\\ro.txt");
  EXPECT_EQ(files.ShellDelete(kDir + L"\\ro.txt"), 5);
  EXPECT_TRUE(files.Exists(kDir + L"\\ro.txt"));
  EXPECT_EQ(files.ShellDelete(kDir), 0);
  EXPECT_FALSE(files.Exists(kDir));
}

TEST_F(SimFilesTest, SystemDirectoryIsRedirectedUnderWow64UntilSwitchedOff) {
  const std::wstring driver = L"C:\\Windows\\System32\\drivers\\tsld.sys";
  files.AddFile(L"C:\\Windows\\SysWOW64\\drivers\\tsld.sys");
  // A 32-bit system has no redirection: its system directory is the one named.
  EXPECT_EQ(files.GetFileAttributes(driver), platform::kInvalidFileAttributes);
  EXPECT_EQ(machine.core.lastError, 2u);
  machine.SetWow64(true);
  EXPECT_NE(files.GetFileAttributes(driver), platform::kInvalidFileAttributes);
  EXPECT_EQ(files.fileCalls().back().resolved, L"C:\\Windows\\SysWOW64\\drivers\\tsld.sys");
  files.AddFile(driver);
  platform::RedirectionState saved = nullptr;
  ASSERT_EQ(files.DisableWow64FsRedirection(saved), std::optional<bool>(true));
  EXPECT_TRUE(files.DeleteAtReboot(driver));
  EXPECT_EQ(files.pendingDeletes(), std::vector<std::wstring>{driver});
  EXPECT_EQ(files.RevertWow64FsRedirection(saved), std::optional<bool>(true));
  EXPECT_TRUE(files.DeleteAtReboot(driver));
  EXPECT_EQ(files.pendingDeletes().back(), L"C:\\Windows\\SysWOW64\\drivers\\tsld.sys");
  EXPECT_TRUE(files.misuses().empty());
}

TEST_F(SimFilesTest, NothingToSwitchOffOnA32BitSystem) {
  platform::RedirectionState saved = nullptr;
  EXPECT_EQ(files.DisableWow64FsRedirection(saved), std::optional<bool>(false));
  EXPECT_FALSE(files.redirectionOff());
  EXPECT_EQ(machine.core.lastError, 1u);
}

TEST_F(SimFilesTest, ListsOnlyTheDirectChildren) {
  files.AddFile(kDir + L"\\B.txt");
  files.AddFile(kDir + L"\\a\\deep.txt");
  files.AddFile(kDir + L" Extra\\other.txt");
  const auto entries = files.ListDirectory(kDir);
  ASSERT_TRUE(entries);
  ASSERT_EQ(entries->size(), 2u);
  EXPECT_EQ((*entries)[0].name, L"a");
  EXPECT_TRUE((*entries)[0].isDirectory);
  EXPECT_EQ((*entries)[1].name, L"B.txt");
  EXPECT_FALSE((*entries)[1].isDirectory);
  EXPECT_FALSE(files.ListDirectory(kDir + L"\\B.txt"));
  EXPECT_FALSE(files.ListDirectory(kDir + L"\\none"));
}

TEST_F(SimFilesTest, FilesForWritingHonourShortWritesAndAFullDisk) {
  const std::wstring page = L"C:\\Temp\\page.html";
  files.AddDirectory(L"C:\\Temp");
  const std::uint8_t bytes[] = {1, 2, 3, 4, 5};
  files.SetWriteChunk(2);
  files.SetDiskSpace(3);
  platform::FileHandle file = files.CreateNewFile(page);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(files.Write(file, bytes, 5), 2u);
  EXPECT_EQ(files.Write(file, bytes + 2, 3), 1u);
  EXPECT_EQ(files.Write(file, bytes + 3, 2), 0u);
  EXPECT_EQ(machine.core.lastError, sim::kErrorDiskFull);
  EXPECT_TRUE(files.Close(file));
  EXPECT_FALSE(files.Close(file));
  EXPECT_EQ(files.FileContent(page), (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_EQ(files.misuses(), std::vector<std::wstring>{L"Close"});
  EXPECT_EQ(files.CreateNewFile(L"C:\\NoSuchDir\\page.html"), nullptr);
  EXPECT_EQ(machine.core.lastError, sim::kErrorPathNotFound);
}

TEST(SimRegistryTest, SubkeysAreToldFromSiblingsWithLongerNames) {
  sim::SimMachine machine;
  machine.registry.AddKey(L"SOFTWARE\\Orvane Systems");
  machine.registry.AddKey(L"SOFTWARE\\Orvane Systems Extra\\Key");
  EXPECT_EQ(machine.registry.DeleteLocalMachineKey(L"software\\ORVANE SYSTEMS"), 0);
  machine.registry.AddKey(L"SOFTWARE\\Orvane Systems\\Tessel");
  EXPECT_EQ(machine.registry.DeleteLocalMachineKey(L"SOFTWARE\\Orvane Systems"), 5);
  EXPECT_EQ(machine.registry.DeleteLocalMachineKey(L"SOFTWARE\\Nothing"), 2);
}

TEST(SimRegistryTest, ViewsFollowTheFlagOnlyUnderWow64) {
  sim::SimMachine machine;
  machine.registry.AddKey(L"SOFTWARE\\Orvane Systems", sim::RegistryView::kNative);
  platform::HKey key = nullptr;
  EXPECT_EQ(machine.registry.OpenLocalMachineKey(L"SOFTWARE\\Orvane Systems", 0x20019, key), 0);
  EXPECT_EQ(machine.registry.CloseKey(key), 0);
  machine.SetWow64(true);
  EXPECT_EQ(machine.registry.OpenLocalMachineKey(L"SOFTWARE\\Orvane Systems", 0x20019, key), 2);
  EXPECT_EQ(machine.registry.OpenLocalMachineKey(L"SOFTWARE\\Orvane Systems", 0x20119, key), 0);
  EXPECT_EQ(machine.registry.CloseKey(key), 0);
  EXPECT_EQ(machine.registry.DeleteLocalMachineKey(L"SOFTWARE\\Orvane Systems"), 2);
  EXPECT_EQ(machine.registry.DeleteLocalMachineKeyEx(L"SOFTWARE\\Orvane Systems", 0x104),
            std::optional<std::int32_t>(0));
}

TEST(SimServicesTest, DeletedServiceGoesWithItsLastHandle) {
  sim::SimMachine machine;
  sim::SimServices& services = machine.services;
  services.Install(L"tsld");
  const platform::ScHandle manager = services.OpenSCManager(0xF003F);
  const platform::ScHandle first = services.OpenService(manager, L"tsld", 0xF01FF);
  const platform::ScHandle second = services.OpenService(manager, L"TSLD", 0xF01FF);
  EXPECT_TRUE(services.DeleteService(first));
  EXPECT_FALSE(services.DeleteService(second));
  EXPECT_EQ(machine.core.lastError, sim::kErrorServiceMarkedForDelete);
  EXPECT_TRUE(services.CloseServiceHandle(first));
  EXPECT_TRUE(services.Exists(L"tsld"));
  EXPECT_TRUE(services.CloseServiceHandle(second));
  EXPECT_FALSE(services.Exists(L"tsld"));
  EXPECT_EQ(services.OpenService(manager, L"tsld", 0x80), nullptr);
  EXPECT_EQ(machine.core.lastError, sim::kErrorServiceDoesNotExist);
  EXPECT_TRUE(services.CloseServiceHandle(manager));
  EXPECT_FALSE(services.CloseServiceHandle(manager));
  EXPECT_EQ(services.misuses(), std::vector<std::wstring>{L"CloseServiceHandle"});
}

TEST(SimServicesTest, InterrogateRightsCannotQueryOrStop) {
  sim::SimMachine machine;
  sim::SimServices& services = machine.services;
  services.Install(L"tslwfs", platform::kServiceRunning);
  const platform::ScHandle manager = services.OpenSCManager(platform::kScManagerConnect);
  const platform::ScHandle service = services.OpenService(manager, L"tslwfs", 0x80);
  platform::ServiceStatus status;
  EXPECT_FALSE(services.QueryServiceStatus(service, status));
  EXPECT_FALSE(services.ControlService(service, platform::kServiceControlStop));
  EXPECT_FALSE(services.DeleteService(service));
  EXPECT_EQ(machine.core.lastError, sim::kErrorAccessDenied);
  EXPECT_EQ(services.Find(L"tslwfs")->state, platform::kServiceRunning);
}

TEST(SimConsoleTest, KeepsTheTextAndWatchesEveryWrite) {
  sim::SimMachine machine;
  platform::Console& out = machine.platform().console;
  out << "narrow " << L"wide" << 42 << platform::endl;
  machine.SetWow64(true);
  platform::RedirectionState saved = nullptr;
  ASSERT_TRUE(machine.files.DisableWow64FsRedirection(saved).value_or(false));
  machine.SetConsoleWriteLastError(183);
  out << ".";
  EXPECT_EQ(machine.consoleWritesWithRedirectionOff(), 1);
  EXPECT_EQ(machine.core.lastError, 183u);
  EXPECT_EQ(machine.console.str(), L"narrow wide42\n.");
}

}  // namespace
