// Fuzzes the form encoding of telemetry events: PercentEncode and EncodeField
// on any wide text, and the whole body that SendEvent writes for an event
// built from the input. Results are held against fuzz/reference_encoding.
//
// Input: a shape byte (bits 0-2: module, error, build given as null; bits 3-5:
// language, product, version replaced by a text of the input), a byte that
// limits how much one body write takes (0: no limit), the texts for module,
// error and build, the replacement texts the shape asks for, then until the
// input ends: a byte (bit 0: name null, bit 1: value null), a name and a value
// for AddCustomField. Texts are in the format of fuzz/fuzz_input.h.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "fuzz/reference_encoding.h"
#include "platform/internet.h"
#include "telemetry/event_encoding.h"
#include "telemetry/telemetry_event.h"
#include "telemetry/telemetry_sender.h"

namespace {

using fuzz::Require;
using fuzz::WireField;

// A server that accepts every request. It keeps the header lines and the body
// bytes, and takes at most `chunk` bytes per write so that a writer that gives
// up after a partial write is caught.
class RecordingInternet final : public platform::Internet {
 public:
  explicit RecordingInternet(std::uint32_t chunk) : chunk_(chunk) {}

  std::uint32_t AttemptConnect() override { return 0; }
  platform::HInternet Open(const std::wstring& /*agent*/, std::uint32_t /*type*/) override {
    return Opened();
  }
  bool SetOption(platform::HInternet /*handle*/, std::uint32_t /*option*/,
                 std::uint32_t /*value*/) override {
    return true;
  }
  platform::HInternet Connect(platform::HInternet /*root*/, const std::wstring& /*server*/,
                              std::uint16_t /*port*/, std::uint32_t /*service*/) override {
    return Opened();
  }
  platform::HInternet OpenRequest(platform::HInternet /*connection*/, const std::wstring& /*verb*/,
                                  const std::wstring& /*object*/,
                                  std::uint32_t /*flags*/) override {
    return Opened();
  }
  bool AddRequestHeaders(platform::HInternet /*request*/, const std::wstring& headers,
                         std::uint32_t /*modifiers*/) override {
    headers_.push_back(headers);
    return true;
  }
  bool SendRequestEx(platform::HInternet /*request*/) override { return true; }
  bool WriteFile(platform::HInternet /*request*/, const std::uint8_t* data, std::uint32_t size,
                 std::uint32_t& written) override {
    written = std::min(size, chunk_);
    body_.insert(body_.end(), data, data + written);
    return true;
  }
  std::uint32_t EndRequest(platform::HInternet /*request*/) override { return 0; }
  bool QueryStatusCode(platform::HInternet /*request*/, std::uint32_t& status) override {
    status = 200;
    return true;
  }
  bool QueryInfoA(platform::HInternet /*request*/, std::uint32_t /*infoLevel*/, char* /*buffer*/,
                  std::uint32_t& /*length*/) override {
    return false;
  }
  bool ReadFile(platform::HInternet /*request*/, std::uint8_t* /*buffer*/, std::uint32_t /*size*/,
                std::uint32_t& read) override {
    read = 0;
    return true;
  }
  bool CloseHandle(platform::HInternet /*handle*/) override {
    ++closed_;
    return true;
  }

  const std::vector<std::wstring>& headers() const { return headers_; }
  const std::vector<std::uint8_t>& body() const { return body_; }
  bool AllHandlesClosed() const { return opened_ == closed_; }

 private:
  platform::HInternet Opened() {
    ++opened_;
    return reinterpret_cast<platform::HInternet>(&token_);
  }

  std::uint32_t chunk_;
  char token_ = 0;
  int opened_ = 0;
  int closed_ = 0;
  std::vector<std::wstring> headers_;
  std::vector<std::uint8_t> body_;
};

std::string Utf8(const std::wstring& text) { return fuzz::ReferenceUtf8(text); }

void CheckPercentEncode(const std::wstring& text) {
  const std::wstring encoded = telemetry::PercentEncode(text.c_str());
  Require(fuzz::HasOnlyFormCharacters(encoded), "PercentEncode: only form characters");
  Require(encoded.find_first_of(L"&=") == std::wstring::npos, "PercentEncode: no & or = left");
  Require(fuzz::PercentDecode(encoded) == Utf8(fuzz::UpToFirstZero(text)),
          "PercentEncode: decodes to the UTF-8 of the text up to its first zero");
}

void CheckEncodeField(const wchar_t* name, const wchar_t* value) {
  const std::wstring field = telemetry::EncodeField(name, value);
  if (name == nullptr) {
    Require(field.empty(), "EncodeField: a null name gives nothing");
    return;
  }
  Require(!field.empty() && field.front() == L'&', "EncodeField: begins with &");
  const std::optional<std::vector<WireField>> parsed = fuzz::ParseForm(field.substr(1));
  const WireField expected{Utf8(name),
                           value == nullptr ? std::nullopt : std::optional(Utf8(value))};
  Require(parsed.has_value() && parsed->size() == 1 && parsed->front() == expected,
          "EncodeField: one field that decodes to the name and value");
}

// The fields the server should read, in wire order, from the record alone.
std::vector<WireField> ExpectedFields(const telemetry::TelemetryEvent& event) {
  std::vector<WireField> fields{{"product", Utf8(event.product)},
                                {"version", Utf8(event.version)},
                                {"error", Utf8(event.error)}};
  if (!event.language.empty()) fields.push_back({"language", Utf8(event.language)});
  if (!event.module.empty()) fields.push_back({"module", Utf8(event.module)});
  if (!event.build.empty()) fields.push_back({"build", Utf8(event.build)});
  for (const telemetry::CustomField& field : event.customFields()) {
    fields.push_back(
        {Utf8(field.name), field.hasValue ? std::optional(Utf8(field.value)) : std::nullopt});
  }
  fields.push_back({"ping", std::nullopt});
  return fields;
}

void CheckSentBody(const telemetry::TelemetryEvent& event, std::uint32_t chunk) {
  const std::wstring encoded = telemetry::EncodeEvent(event);
  Require(fuzz::HasOnlyFormCharacters(encoded), "EncodeEvent: only form characters");

  RecordingInternet server(chunk);
  Require(telemetry::SendEvent(server, event), "SendEvent: a 200 answer counts as delivered");
  Require(server.AllHandlesClosed(), "SendEvent: every handle it opened is closed");

  const std::wstring expectedBody = encoded + telemetry::kBodyMarker;
  const std::vector<std::uint8_t>& sent = server.body();
  Require(std::equal(
              sent.begin(), sent.end(), expectedBody.begin(), expectedBody.end(),
              [](std::uint8_t byte, wchar_t unit) { return static_cast<wchar_t>(byte) == unit; }),
          "SendEvent: the bytes sent are the encoded event and the marker, whole");
  const std::wstring contentLength = L"Content-Length: " + std::to_wstring(sent.size()) + L"\r\n";
  Require(std::find(server.headers().begin(), server.headers().end(), contentLength) !=
              server.headers().end(),
          "SendEvent: Content-Length is the number of bytes sent");

  const std::optional<std::vector<WireField>> parsed = fuzz::ParseForm(expectedBody);
  Require(parsed.has_value(), "EncodeEvent: the body parses as a form");
  Require(*parsed == ExpectedFields(event),
          "EncodeEvent: the fields come back in wire order with their names and values");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  fuzz::SelfCheckReference();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::FuzzInput input(data, size);
  const std::uint8_t shape = input.Byte();
  const std::uint8_t chunkByte = input.Byte();
  const std::uint32_t chunk =
      chunkByte == 0 ? std::numeric_limits<std::uint32_t>::max() : chunkByte;

  std::wstring fixed[3];
  for (std::wstring& text : fixed) {
    text = input.Text();
    CheckPercentEncode(text);
  }
  const auto nullable = [&](int bit, const std::wstring& text) {
    return (shape & (1u << bit)) != 0 ? nullptr : text.c_str();
  };
  telemetry::TelemetryEvent event(nullable(0, fixed[0]), nullable(1, fixed[1]),
                                  nullable(2, fixed[2]));
  // The record's own strings hold no zero unit: they come from C strings.
  if ((shape & 0x08) != 0) event.language = fuzz::UpToFirstZero(input.Text());
  if ((shape & 0x10) != 0) event.product = fuzz::UpToFirstZero(input.Text());
  if ((shape & 0x20) != 0) event.version = fuzz::UpToFirstZero(input.Text());

  while (!input.empty()) {
    const std::uint8_t op = input.Byte();
    const std::wstring name = input.Text();
    const std::wstring value = input.Text();
    const wchar_t* namePointer = (op & 1) != 0 ? nullptr : name.c_str();
    const wchar_t* valuePointer = (op & 2) != 0 ? nullptr : value.c_str();
    CheckPercentEncode(name);
    CheckPercentEncode(value);
    CheckEncodeField(namePointer, valuePointer);
    event.AddCustomField(namePointer, valuePointer);
  }

  CheckSentBody(event, chunk);
  return 0;
}
