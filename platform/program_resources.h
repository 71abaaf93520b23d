// The resources inside the program's own image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace platform {

// Bytes of a resource inside the program's own image; valid for the whole run.
struct ResourceBytes {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
};

class ProgramResources {
 public:
  virtual ~ProgramResources() = default;

  // FindResourceW, LoadResource, SizeofResource and LockResource in the
  // program's own image, by integer type and id; nothing when it is missing.
  [[nodiscard]] virtual std::optional<ResourceBytes> FindProgramResource(int type, int id) = 0;
};

}  // namespace platform
