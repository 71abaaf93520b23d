// Fuzzes what the telemetry client does with what comes back from the network:
// the status, the Location header and the response body, read through a whole
// PostForm against an Internet whose every answer comes from the input. Each opening may fail; the
// client must never crash, report the status as given, keep the Location within its buffer, stop
// draining at kMaxDrainBytes and close each handle once, inner ones first.
//
// Input, all numbers little-endian:
//   byte   bits 0-1, 2-3, 4-5: the root, connection and request handle
//          (0 or 1 a handle, 2 null, 3 all bits set); bit 6 InternetAttemptConnect
//          fails; bit 7 HttpSendRequestEx fails
//   byte   bit 0 the status query fails; bits 1-2 the Location: 0 none,
//          1 or 3 as WinINet gives it (too long: ERROR_INSUFFICIENT_BUFFER),
//          2 copied as far as it fits with the length below reported; bit 3
//          HTTPS; bit 4 InternetReadFile fails at the byte below
//   4      the status
//   4      the length reported in Location mode 2
//   3      the body's size in bytes
//   3      the body byte at which a read fails
//   2      how many times the Location's bytes repeat (0 as 1)
//   rest   the Location's bytes
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "fuzz/reference_encoding.h"
#include "platform/internet.h"
#include "telemetry/http_post.h"

namespace {

using fuzz::Require;

// The longest Location built: past the client's buffer, either way.
constexpr std::size_t kMaxLocationBytes = 2 * telemetry::kLocationBufferSize;
// The largest body: past the drain limit.
constexpr std::uint32_t kMaxBodyBytes = telemetry::kMaxDrainBytes + telemetry::kMaxDrainBytes / 2;
// How WinINet refuses a call on a handle of the wrong kind.
constexpr std::uint32_t kErrorInternetIncorrectHandleType = 12018;

enum class Opening { kHandle, kNull, kAllBitsSet };
enum class LocationMode { kNone, kAsWinInet, kLengthReported };

struct Answers {
  std::array<Opening, 3> openings{};  // root, connection, request
  bool attemptConnectFails = false;
  bool sendFails = false;
  bool statusFails = false;
  LocationMode locationMode = LocationMode::kNone;
  bool secure = false;
  bool readFails = false;
  std::uint32_t status = 0;
  std::uint32_t reportedLength = 0;
  std::uint32_t bodySize = 0;
  std::uint32_t readFailsAt = 0;
  std::string location;
};

std::uint32_t Number(fuzz::FuzzInput& input, int bytes) {
  std::uint32_t value = 0;
  for (int i = 0; i < bytes; ++i) value |= std::uint32_t{input.Byte()} << (8 * i);
  return value;
}

Answers ReadAnswers(fuzz::FuzzInput& input) {
  Answers answers;
  const unsigned handles = input.Byte();
  for (std::size_t i = 0; i < answers.openings.size(); ++i) {
    const unsigned choice = (handles >> (2 * i)) & 3u;
    answers.openings[i] = choice < 2    ? Opening::kHandle
                          : choice == 2 ? Opening::kNull
                                        : Opening::kAllBitsSet;
  }
  answers.attemptConnectFails = (handles & 0x40u) != 0;
  answers.sendFails = (handles & 0x80u) != 0;
  const unsigned response = input.Byte();
  answers.statusFails = (response & 1u) != 0;
  const unsigned mode = (response >> 1) & 3u;
  answers.locationMode = mode == 0   ? LocationMode::kNone
                         : mode == 2 ? LocationMode::kLengthReported
                                     : LocationMode::kAsWinInet;
  answers.secure = (response & 8u) != 0;
  answers.readFails = (response & 16u) != 0;
  answers.status = Number(input, 4);
  answers.reportedLength = Number(input, 4);
  answers.bodySize = std::min(Number(input, 3), kMaxBodyBytes);
  answers.readFailsAt = Number(input, 3);
  const std::uint32_t repeats = std::max<std::uint32_t>(Number(input, 2), 1);
  std::string piece;
  while (!input.empty()) piece.push_back(static_cast<char>(input.Byte()));
  for (std::uint32_t i = 0; i < repeats && !piece.empty(); ++i) {
    if (answers.location.size() + piece.size() > kMaxLocationBytes) break;
    answers.location += piece;
  }
  return answers;
}

// A server and a network that answer as the input says, and keep count of
// what the client did with its handles.
class ScriptedInternet final : public platform::Internet {
 public:
  explicit ScriptedInternet(const Answers& answers) : answers_(answers) {}

  std::uint32_t AttemptConnect() override { return answers_.attemptConnectFails ? 12029 : 0; }
  platform::HInternet Open(const std::wstring& /*agent*/, std::uint32_t /*type*/) override {
    return HandOut(0);
  }
  bool SetOption(platform::HInternet handle, std::uint32_t /*option*/,
                 std::uint32_t /*value*/) override {
    Require(handle == Token(0), "options are set on the root");
    return true;
  }
  platform::HInternet Connect(platform::HInternet root, const std::wstring& /*server*/,
                              std::uint16_t port, std::uint32_t /*service*/) override {
    Require(root == Token(0) && IsOpen(0), "connects on the open root");
    Require(port == (answers_.secure ? 443 : 80), "the port of the scheme");
    return HandOut(1);
  }
  platform::HInternet OpenRequest(platform::HInternet connection, const std::wstring& /*verb*/,
                                  const std::wstring& /*object*/,
                                  std::uint32_t /*flags*/) override {
    Require(connection == Token(1) && IsOpen(1), "opens the request on the open connection");
    return HandOut(2);
  }
  bool AddRequestHeaders(platform::HInternet request, const std::wstring& /*headers*/,
                         std::uint32_t /*modifiers*/) override {
    return OnRequest(request);
  }
  bool SendRequestEx(platform::HInternet request) override {
    return OnRequest(request) && !answers_.sendFails;
  }
  bool WriteFile(platform::HInternet request, const std::uint8_t* /*data*/, std::uint32_t size,
                 std::uint32_t& written) override {
    written = size;
    return OnRequest(request);
  }
  std::uint32_t EndRequest(platform::HInternet request) override {
    return OnRequest(request) ? 0 : kErrorInternetIncorrectHandleType;
  }
  bool QueryStatusCode(platform::HInternet request, std::uint32_t& status) override {
    if (!OnRequest(request) || answers_.statusFails) return false;
    status = answers_.status;
    return true;
  }
  bool QueryInfoA(platform::HInternet request, std::uint32_t infoLevel, char* buffer,
                  std::uint32_t& length) override {
    Require(infoLevel == platform::kHttpQueryLocation, "asks for the Location only");
    if (!OnRequest(request) || answers_.locationMode == LocationMode::kNone) return false;
    const auto size = static_cast<std::uint32_t>(answers_.location.size());
    if (answers_.locationMode == LocationMode::kAsWinInet) {
      // The bytes and their terminator, or the size needed.
      if (size >= length) {
        length = size + 1;
        return false;
      }
      std::copy(answers_.location.begin(), answers_.location.end(), buffer);
      buffer[size] = '\0';
      length = size;
      return true;
    }
    // A platform that fills what it was given and reports any length.
    std::copy_n(answers_.location.begin(), std::min(size, length), buffer);
    length = answers_.reportedLength;
    return true;
  }
  bool ReadFile(platform::HInternet request, std::uint8_t* buffer, std::uint32_t size,
                std::uint32_t& read) override {
    ++reads_;
    read = 0;
    if (!OnRequest(request)) return false;
    if (answers_.readFails && delivered_ >= answers_.readFailsAt) return false;
    read = std::min(size, answers_.bodySize - std::min(delivered_, answers_.bodySize));
    std::fill_n(buffer, read, std::uint8_t{'x'});
    delivered_ += read;
    return true;
  }
  bool CloseHandle(platform::HInternet handle) override {
    const int index = IndexOf(handle);
    Require(index >= 0, "closes only handles it was given");
    const auto i = static_cast<std::size_t>(index);
    Require(opened_[i] && !closed_[i], "closes each handle once, after opening it");
    for (std::size_t inner = i + 1; inner < opened_.size(); ++inner) {
      Require(!opened_[inner] || closed_[inner], "closes the inner handles first");
    }
    closed_[i] = true;
    return true;
  }

  platform::HInternet Token(int index) {
    return reinterpret_cast<platform::HInternet>(&tokens_[static_cast<std::size_t>(index)]);
  }
  bool AllClosed() const { return opened_ == closed_; }
  bool RequestWorked() const { return opened_[2] && !answers_.sendFails; }
  std::uint32_t delivered() const { return delivered_; }
  std::uint32_t reads() const { return reads_; }

 private:
  platform::HInternet HandOut(int index) {
    const auto i = static_cast<std::size_t>(index);
    switch (answers_.openings[i]) {
      case Opening::kNull:
        return nullptr;
      case Opening::kAllBitsSet:
        return reinterpret_cast<platform::HInternet>(~std::uintptr_t{0});
      case Opening::kHandle:
        break;
    }
    Require(!opened_[i], "opens each handle once");
    opened_[i] = true;
    return Token(index);
  }
  int IndexOf(platform::HInternet handle) {
    for (int i = 0; i < 3; ++i) {
      if (handle == Token(i)) return i;
    }
    return -1;
  }
  bool IsOpen(int index) const {
    const auto i = static_cast<std::size_t>(index);
    return opened_[i] && !closed_[i];
  }
  bool OnRequest(platform::HInternet request) {
    Require(request == Token(2) && IsOpen(2), "uses the open request only");
    return true;
  }

  const Answers& answers_;
  std::array<char, 3> tokens_{};
  std::array<bool, 3> opened_{};
  std::array<bool, 3> closed_{};
  std::uint32_t delivered_ = 0;
  std::uint32_t reads_ = 0;
};

// The bytes the client may keep of the Location: what the platform stored,
// no further than the length it reported or the buffer, up to a zero byte.
std::string KeptLocation(const Answers& answers) {
  if (answers.locationMode == LocationMode::kNone) return {};
  constexpr std::size_t kRoom = telemetry::kLocationBufferSize - 1;
  std::size_t kept = answers.location.size();
  if (answers.locationMode == LocationMode::kAsWinInet) {
    if (kept >= kRoom) return {};
  } else {
    kept = std::min({kept, kRoom, std::size_t{answers.reportedLength}});
  }
  const std::string bytes = answers.location.substr(0, kept);
  return bytes.substr(0, bytes.find('\0'));
}

// `location` is the decoding of `bytes`: never more units than bytes, and
// where nothing had to be replaced, exactly the bytes again.
void CheckDecoded(const std::wstring& location, const std::string& bytes) {
  Require(location.size() <= bytes.size(), "Location: no more units than bytes");
  if (location.find(static_cast<wchar_t>(0xFFFD)) == std::wstring::npos) {
    Require(fuzz::ReferenceUtf8(location) == bytes, "Location: decodes the bytes as UTF-8");
  }
}

void CheckPostForm(const Answers& answers) {
  ScriptedInternet internet(answers);
  std::wstring location = L"stale";
  const std::uint32_t status =
      telemetry::PostForm(internet, L"module=start&ping", answers.secure, location);
  Require(internet.AllClosed(), "PostForm: every handle opened is closed");
  const bool exchanged = !answers.attemptConnectFails && internet.RequestWorked();
  Require(status == (exchanged && !answers.statusFails ? answers.status : 0),
          "PostForm: the status as given, 0 without one");
  CheckDecoded(location, exchanged ? KeptLocation(answers) : std::string());
  const std::uint32_t available =
      answers.readFails ? std::min(answers.bodySize, answers.readFailsAt) : answers.bodySize;
  Require(internet.reads() <= telemetry::kMaxDrainBytes, "PostForm: stops reading at the limit");
  Require(internet.delivered() == (exchanged ? std::min(available, telemetry::kMaxDrainBytes) : 0),
          "PostForm: drains the body up to the limit");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::FuzzInput input(data, size);
  const Answers answers = ReadAnswers(input);
  CheckPostForm(answers);
  return 0;
}
