#include "run/agreement_display.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "platform/paths.h"
#include "platform/write_whole.h"

namespace run {

namespace {

// Whether the open file or directory is `expected`: a final path, taken from
// a handle and compared the way the file system compares names.
bool IsAt(platform::FileSystem& files, platform::FileHandle file, const std::wstring& expected) {
  const std::optional<std::wstring> path =
      files.GetFinalPath(file, platform::FinalPathForm::kNtDevice);
  return path && files.EqualIgnoringCase(*path, expected);
}

// Removes whatever holds the page's name, as a name (a file or one link of a
// hard-linked one, a symbolic link or a junction itself, an empty directory),
// through a handle that proves it lies where the page belongs: never through
// a path, which a link higher up could lead elsewhere between a check and the
// deletion.
bool FreeName(platform::FileSystem& files, const std::wstring& path, const std::wstring& expected) {
  platform::UniqueFileHandle holder(files, files.OpenName(path));
  if (!holder) {
    // Nothing there, or nothing to see: creating the file tells.
    return true;
  }
  return IsAt(files, holder.get(), expected) && files.DeleteWhenClosed(holder.get()) &&
         files.Close(holder.release());
}

// Where the held page is, as a path that a browser opens: through its
// volume's drive letter, every link resolved. TEMP's own path may pass a
// junction that the user can point elsewhere once the page is held, and the
// browser would then read what lies there; the real directories on this path
// cannot be renamed while the page in them is open. Nothing for a volume
// without a drive letter.
std::optional<std::wstring> OpenablePath(platform::FileSystem& files, platform::FileHandle page) {
  const std::optional<std::wstring> path =
      files.GetFinalPath(page, platform::FinalPathForm::kDrive);
  if (!path) return std::nullopt;
  return platform::paths::WithoutVerbatimPrefix(*path);
}

}  // namespace

AgreementPage::AgreementPage(platform::Platform& platform)
    : platform_(platform), shellCallPending_(std::make_shared<std::atomic<bool>>(false)) {}

void AgreementPage::Show() {
  // Opening a half-written page, or another one, would show the user
  // something other than what they are asked to accept.
  if (!held_ && !WritePage()) {
    return;
  }
  Open();
}

bool AgreementPage::WritePage() {
  const std::optional<std::wstring> temp = platform_.environment.GetEnvironmentVariable(L"TEMP");
  if (!temp || !platform::paths::IsDriveOrUncPath(*temp)) {
    return false;
  }
  const std::optional<platform::ResourceBytes> page =
      platform_.resources.FindProgramResource(kAgreementResourceType, kAgreementResourceId);
  // An empty page would show the user a blank agreement.
  if (!page || page->data == nullptr || page->size == 0) {
    return false;
  }
  // The page's permissions are set as it is created: the desktop shell's user
  // may read it then, also where that is another account than this process's
  // (an administrator's password typed at the elevation prompt). By default
  // every user may pass through folders they cannot list, so the file's own
  // permissions are enough.
  const std::optional<platform::DesktopShellAccount> shellAccount =
      platform_.shell.FindDesktopShellAccount();
  if (shellAccount && !shellAccount->isThisProcessUser) otherReader_ = shellAccount->sid;
  if (!WriteAndHold(*temp, *page)) {
    otherReader_.clear();
    return false;
  }
  return true;
}

// The tool runs with administrator rights and the page's name in TEMP is known
// to every program of the user: the page goes into a new file, created where
// nothing holds the name any more, only inside TEMP's real directory, and is
// held so that nobody can change, rename or delete it before the browser has
// read it.
bool AgreementPage::WriteAndHold(const std::wstring& temp, const platform::ResourceBytes& page) {
  platform::FileSystem& files = platform_.files;
  // Held from here on, TEMP's directory stays where it is: whatever the page
  // is compared with below lies in it.
  const platform::UniqueFileHandle directory(files, files.OpenDirectory(temp));
  if (!directory) {
    return false;
  }
  const std::optional<std::wstring> real =
      files.GetFinalPath(directory.get(), platform::FinalPathForm::kNtDevice);
  if (!real) {
    return false;
  }
  const std::wstring expected =
      platform::paths::WithoutTrailingSeparators(*real) + kAgreementFileName;
  // The name is reached through the directory's own final path, on which no
  // link is left, never through TEMP: a junction on TEMP's path, pointed
  // elsewhere after the directory was opened, would lead this elevated
  // process's deletion and creation there. Without a drive letter, the
  // volume is named by its device.
  const std::optional<std::wstring> direct =
      files.GetFinalPath(directory.get(), platform::FinalPathForm::kDrive);
  const std::wstring path =
      platform::paths::WithoutTrailingSeparators(direct ? *direct : L"\\\\?\\GLOBALROOT" + *real) +
      kAgreementFileName;
  if (!FreeName(files, path, expected)) {
    return false;
  }
  // Fails when the name has been taken again since.
  platform::UniqueFileHandle writer(files, files.CreateNewFile(path, otherReader_));
  if (!writer) {
    return false;
  }
  // Checked all the same: nothing unchecked is written, nor left behind.
  if (!IsAt(files, writer.get(), expected) ||
      !platform::WriteWhole(page.data, page.size, page.size,
                            [&files, &writer](const std::uint8_t* data, std::size_t count) {
                              return files.Write(writer.get(), data, count);
                            })) {
    static_cast<void>(files.DeleteWhenClosed(writer.get()));
    return false;
  }
  // A reader that does not share writing could not open the page while a
  // handle that may write is open, so the writer makes way for one that only
  // reads. Between the two a bridge keeps the name pinned; it shares deletion
  // because the writer holds that right.
  platform::UniqueFileHandle bridge(
      files,
      files.ReOpenForReading(writer.get(), platform::kFileShareRead | platform::kFileShareWrite |
                                               platform::kFileShareDelete));
  if (!bridge) {
    static_cast<void>(files.DeleteWhenClosed(writer.get()));
    return false;
  }
  // Closed here, not by the holder: a failed final flush is a failed write.
  if (!files.Close(writer.release())) {
    return false;
  }
  // Fails while anyone else has the page open to change or delete it.
  platform::UniqueFileHandle held(files,
                                  files.ReOpenForReading(bridge.get(), platform::kFileShareRead));
  bridge.reset();
  // Renamed away while only the bridge held it, the page is no longer what
  // its name shows.
  if (!held || !IsAt(files, held.get(), expected)) {
    return false;
  }
  path_ = OpenablePath(files, held.get()).value_or(temp + kAgreementFileName);
  held_ = std::move(held);
  return true;
}

// Started by this elevated process, the browser would be elevated too, and so
// would every site it goes on to visit and every file dialog it shows; an
// elevated ShellExecute would even look the handler for the page up where any
// program of the user can change it. So the page opens only through the
// desktop's shell, which starts the browser as its own user. Where that cannot
// be done, the user is told where the page is, to open it themselves.
void AgreementPage::Open() {
  platform::DesktopShell& shell = platform_.shell;
  // A shell that has not answered may still open the page: asking again
  // would show a second copy once it recovers.
  if (shellCallPending_->load()) {
    return;
  }
  const std::optional<platform::DesktopShellAccount> shellAccount = shell.FindDesktopShellAccount();
  if (!shellAccount || (!shellAccount->isThisProcessUser && shellAccount->sid != otherReader_)) {
    SayWhereThePageIs();
    return;
  }
  shellCallPending_->store(true);
  const std::shared_ptr<std::atomic<bool>> pending = shellCallPending_;
  const auto opened = std::make_shared<std::atomic<bool>>(false);
  bool expired = false;
  // The shell, like every facility, lasts as long as the process.
  const bool answered = platform_.process.RunWithin(
      [pending, opened, &shell, path = path_] {
        opened->store(shell.OpenDocumentAsDesktopUser(path, platform::kShowNormal));
        pending->store(false);
      },
      kDesktopShellTimeoutMs, [&expired] { expired = true; }, 0);
  // Neither answered nor expired: no thread could be started, nothing is under way.
  if (!answered && !expired) {
    pending->store(false);
  }
  if (!answered || !opened->load()) {
    SayWhereThePageIs();
  }
}

void AgreementPage::SayWhereThePageIs() {
  platform_.console << "The EULA could not be shown in the browser. It is in: "
                    << std::wstring_view(path_) << platform::endl;
}

}  // namespace run
