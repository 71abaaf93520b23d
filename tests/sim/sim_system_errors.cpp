#include "tests/sim/sim_system_errors.h"

namespace sim {

SimSystemErrors::SimSystemErrors(SimCore& core)
    : core_(core),
      texts_{
          {2, L"The system cannot find the file specified.\r\n"},
          {3, L"The system cannot find the path specified.\r\n"},
          {4, L"The system cannot open the file.\r\n"},
          {5, L"Access is denied.\r\n"},
          {6, L"The handle is invalid.\r\n"},
          {32,
           L"The process cannot access the file because it is being used by another "
           L"process.\r\n"},
          {87, L"The parameter is incorrect.\r\n"},
          {112, L"There is not enough space on the disk.\r\n"},
          {124, L"The system call level is not correct.\r\n"},
          {127, L"The specified procedure could not be found.\r\n"},
          {1051,
           L"A stop control has been sent to a service that other running services "
           L"are dependent on.\r\n"},
          {1060, L"The specified service does not exist as an installed service.\r\n"},
          {1061, L"The service cannot accept control messages at this time.\r\n"},
          {1062, L"The service has not been started.\r\n"},
          {1072, L"The specified service has been marked for deletion.\r\n"},
      } {}

std::uint32_t SimSystemErrors::GetLastError() { return core_.lastError; }

std::optional<std::wstring> SimSystemErrors::FormatSystemMessage(std::uint32_t code) {
  core_.calls.push_back(L"Messages.FormatSystemMessage " + std::to_wstring(code));
  const auto found = texts_.find(code);
  if (found == texts_.end()) {
    return std::nullopt;
  }
  return found->second;
}

}  // namespace sim
