#include "run/agreement_display.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace run {

namespace {

// Owns a file opened for writing; closes it when not closed explicitly.
class WrittenFile {
 public:
  WrittenFile(platform::FileSystem& files, platform::FileHandle handle)
      : files_(files), handle_(handle) {}
  WrittenFile(const WrittenFile&) = delete;
  WrittenFile& operator=(const WrittenFile&) = delete;
  ~WrittenFile() {
    if (handle_ != nullptr) {
      static_cast<void>(files_.Close(handle_));
    }
  }

  explicit operator bool() const { return handle_ != nullptr; }

  // Writes all bytes, going on after a partial write as long as each call
  // makes progress.
  bool WriteAll(const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
      const std::size_t written = files_.Write(handle_, data, size);
      if (written == 0 || written > size) {
        return false;
      }
      data += written;
      size -= written;
    }
    return true;
  }

  // Closes now; false when the final flush or the close failed.
  bool Close() {
    platform::FileHandle handle = handle_;
    handle_ = nullptr;
    return files_.Close(handle);
  }

 private:
  platform::FileSystem& files_;
  platform::FileHandle handle_;
};

bool WritePage(platform::FileSystem& files, const std::wstring& path,
               const platform::ResourceBytes& page) {
  WrittenFile file(files, files.OpenForWriting(path));
  if (!file || !file.WriteAll(page.data, page.size)) {
    return false;
  }
  return file.Close();
}

}  // namespace

void ShowAgreement(platform::Platform& platform) {
  const std::optional<std::wstring> temp = platform.shell.GetEnvironmentVariable(L"TEMP");
  // An empty value would put the page at the root of the current drive.
  if (!temp || temp->empty()) {
    return;
  }
  const std::optional<platform::ResourceBytes> page =
      platform.shell.FindProgramResource(kAgreementResourceType, kAgreementResourceId);
  // An empty page would show the user a blank agreement.
  if (!page || page->data == nullptr || page->size == 0) {
    return;
  }
  const std::wstring path = *temp + kAgreementFileName;
  // Opening a half-written page, or an older one, would show the user
  // something other than what they are asked to accept.
  if (!WritePage(platform.files, path, *page)) {
    return;
  }
  // Started by this elevated process, the browser would be elevated too, and
  // so would every site it goes on to visit; the desktop's shell starts it
  // with the user's normal rights. Without one (no Explorer), the page still
  // opens, the only way left.
  if (!platform.shell.OpenDocumentAsDesktopUser(path, platform::kShowNormal)) {
    static_cast<void>(platform.shell.OpenDocument(path, platform::kShowNormal));
  }
}

}  // namespace run
