// Writing a whole buffer through a call that may take less than it is given
// (WriteFile, WriteConsoleW, InternetWriteFile): the one loop for the page,
// the request's body and the console.
#pragma once

#include <algorithm>
#include <cstddef>

namespace platform {

// Calls `write(data, count)` until all `size` units are written, each time
// with what is left, at most `maxCount` units, never ending a call between a
// unit for which `keepWithNext` holds and the next one (a surrogate pair stays
// in one call). `write` makes one call and returns how many units it reports
// written, 0 when the call failed. A call that fails or writes nothing ends
// the loop, and so does one that reports more than it was given: nothing
// after such a report says what reached the other end.
template <typename Unit, typename Write>
[[nodiscard]] bool WriteWhole(const Unit* data, std::size_t size, std::size_t maxCount,
                              Write&& write, bool (*keepWithNext)(char32_t) = nullptr) {
  while (size > 0) {
    std::size_t count = std::min(size, maxCount);
    if (count < size && count > 1 && keepWithNext != nullptr &&
        keepWithNext(static_cast<char32_t>(data[count - 1]))) {
      --count;
    }
    const std::size_t written = write(data, count);
    if (written == 0 || written > count) return false;
    data += written;
    size -= written;
  }
  return true;
}

}  // namespace platform
