#include "tests/sim/sim_internet.h"

#include <algorithm>
#include <utility>

#include "tests/sim/sim_errors.h"

namespace sim {
namespace {

// The all-bits-set value that some WinINet builds return instead of null.
platform::HInternet InvalidHandleValue() {
  return reinterpret_cast<platform::HInternet>(~std::uintptr_t{0});
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// %XX escapes to bytes; anything that is not a complete escape stays as it is.
std::string Unescape(const std::string& text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      const int high = HexDigit(text[i + 1]);
      const int low = HexDigit(text[i + 2]);
      if (high >= 0 && low >= 0) {
        bytes.push_back(static_cast<char>(high * 16 + low));
        i += 2;
        continue;
      }
    }
    bytes.push_back(text[i]);
  }
  return bytes;
}

void AppendCodePoint(std::uint32_t codePoint, std::wstring& out) {
  if constexpr (sizeof(wchar_t) == 2) {
    if (codePoint > 0xFFFF) {
      const std::uint32_t offset = codePoint - 0x10000;
      out.push_back(static_cast<wchar_t>(0xD800 + (offset >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + (offset & 0x3FF)));
      return;
    }
  }
  out.push_back(static_cast<wchar_t>(codePoint));
}

// A strict decoder, written apart from the product's so that the two check
// each other: a malformed sequence gives one U+FFFD and decoding goes on at
// the next byte that does not continue it.
std::wstring DecodeUtf8Strict(const std::string& bytes) {
  std::wstring out;
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    std::size_t length = 0;
    std::uint32_t codePoint = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead < 0x80) {
      out.push_back(static_cast<wchar_t>(lead));
      ++i;
      continue;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      codePoint = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      codePoint = lead & 0x0Fu;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      codePoint = lead & 0x07u;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      out.push_back(static_cast<wchar_t>(0xFFFD));
      ++i;
      continue;
    }
    std::size_t taken = 1;
    bool complete = true;
    for (; taken < length; ++taken) {
      if (i + taken >= bytes.size()) {
        complete = false;
        break;
      }
      const auto next = static_cast<unsigned char>(bytes[i + taken]);
      const unsigned char from = taken == 1 ? low : 0x80;
      const unsigned char to = taken == 1 ? high : 0xBF;
      if (next < from || next > to) {
        complete = false;
        break;
      }
      codePoint = (codePoint << 6) | (next & 0x3Fu);
    }
    if (complete) {
      AppendCodePoint(codePoint, out);
    } else {
      out.push_back(static_cast<wchar_t>(0xFFFD));
    }
    i += taken;
  }
  return out;
}

FormField DecodeField(const std::string& text) {
  FormField field;
  const std::size_t equals = text.find('=');
  if (equals == std::string::npos) {
    field.name = DecodeUtf8Strict(Unescape(text));
    return field;
  }
  field.name = DecodeUtf8Strict(Unescape(text.substr(0, equals)));
  field.value = DecodeUtf8Strict(Unescape(text.substr(equals + 1)));
  field.hasValue = true;
  return field;
}

std::wstring HeaderLine(const std::wstring& text) {
  std::wstring line = text;
  while (!line.empty() && (line.back() == L'\n' || line.back() == L'\r')) line.pop_back();
  return line;
}

}  // namespace

FormFields SplitForm(const std::string& body) {
  FormFields fields;
  if (body.empty()) return fields;
  std::size_t start = 0;
  while (true) {
    const std::size_t amp = body.find('&', start);
    fields.push_back(DecodeField(body.substr(start, amp - start)));
    if (amp == std::string::npos) break;
    start = amp + 1;
  }
  return fields;
}

std::optional<std::wstring> FormValue(const FormFields& fields, const std::wstring& name) {
  for (const FormField& field : fields) {
    if (field.name == name) {
      if (!field.hasValue) return std::nullopt;
      return field.value;
    }
  }
  return std::nullopt;
}

std::optional<std::wstring> HttpExchange::Header(const std::wstring& name) const {
  const std::wstring prefix = name + L": ";
  for (const RequestHeader& header : headers) {
    const std::wstring line = HeaderLine(header.text);
    if (line.compare(0, prefix.size(), prefix) == 0) return line.substr(prefix.size());
  }
  return std::nullopt;
}

SimInternet::SimInternet(SimCore& core) : core_(core) {
  core_.callsNeverReturn.emplace_back(
      [this] { return sendOutcome_ == SendOutcome::kNeverAnswers; });
}

void SimInternet::FailOpen(std::uint32_t error, bool invalidValue) {
  openFailure_ = {error, invalidValue};
}

void SimInternet::FailConnect(std::uint32_t error, bool invalidValue) {
  connectFailure_ = {error, invalidValue};
}

void SimInternet::FailOpenRequest(std::uint32_t error, bool invalidValue) {
  openRequestFailure_ = {error, invalidValue};
}

std::vector<FormFields> SimInternet::SentForms() const {
  std::vector<FormFields> forms;
  for (const HttpExchange& exchange : exchanges_) {
    if (exchange.sent) forms.push_back(exchange.Form());
  }
  return forms;
}

std::size_t SimInternet::OpenHandles() const {
  return static_cast<std::size_t>(std::count_if(
      handles_.begin(), handles_.end(), [](const HandleRecord& record) { return record.open; }));
}

void SimInternet::Log(std::wstring call) { core_.calls.push_back(L"Internet." + std::move(call)); }

SimInternet::HandleRecord* SimInternet::Find(platform::HInternet handle, HandleKind kind,
                                             const wchar_t* call) {
  for (HandleRecord& record : handles_) {
    if (record.handle == handle && record.open && record.kind == kind) return &record;
  }
  misuses_.emplace_back(call);
  core_.lastError = kErrorInvalidHandle;
  return nullptr;
}

platform::HInternet SimInternet::NewHandle(HandleKind kind, std::size_t exchange) {
  nextHandle_ += 4;
  auto* handle = reinterpret_cast<platform::HInternet>(nextHandle_);
  handles_.push_back({handle, kind, exchange, true});
  opened_.push_back(handle);
  return handle;
}

platform::HInternet SimInternet::Fail(const OpenFailure& failure) {
  core_.lastError = failure.error;
  return failure.invalidValue ? InvalidHandleValue() : nullptr;
}

std::uint32_t SimInternet::TimeoutOf(const HttpExchange& exchange, std::uint32_t option) {
  std::uint32_t timeout = kDefaultTimeoutMs;
  for (const InternetOption& set : exchange.options) {
    if (set.option == option) timeout = set.value;
  }
  return timeout;
}

std::uint32_t SimInternet::AttemptConnect() {
  ++attemptConnectCalls_;
  Log(L"AttemptConnect");
  return attemptConnectResult_;
}

platform::HInternet SimInternet::Open(const std::wstring& agent, std::uint32_t accessType) {
  Log(L"Open " + agent + L" " + std::to_wstring(accessType));
  if (openFailure_.error != 0) return Fail(openFailure_);
  HttpExchange exchange;
  exchange.agent = agent;
  exchange.accessType = accessType;
  exchanges_.push_back(std::move(exchange));
  return NewHandle(HandleKind::kRoot, exchanges_.size() - 1);
}

bool SimInternet::SetOption(platform::HInternet handle, std::uint32_t option, std::uint32_t value) {
  Log(L"SetOption " + std::to_wstring(option) + L" " + std::to_wstring(value));
  HandleRecord* record = Find(handle, HandleKind::kRoot, L"SetOption");
  if (record == nullptr) return false;
  if (setOptionFails_) {
    core_.lastError = kErrorInternetIncorrectHandleType;
    return false;
  }
  exchanges_[record->exchange].options.push_back({option, value});
  return true;
}

platform::HInternet SimInternet::Connect(platform::HInternet root, const std::wstring& server,
                                         std::uint16_t port, std::uint32_t service) {
  Log(L"Connect " + server + L" " + std::to_wstring(port) + L" " + std::to_wstring(service));
  HandleRecord* record = Find(root, HandleKind::kRoot, L"Connect");
  if (record == nullptr) return nullptr;
  if (connectFailure_.error != 0) return Fail(connectFailure_);
  const std::size_t index = record->exchange;
  HttpExchange& exchange = exchanges_[index];
  exchange.connected = true;
  exchange.server = server;
  exchange.port = port;
  exchange.service = service;
  return NewHandle(HandleKind::kConnection, index);
}

platform::HInternet SimInternet::OpenRequest(platform::HInternet connection,
                                             const std::wstring& verb, const std::wstring& object,
                                             std::uint32_t flags) {
  Log(L"OpenRequest " + verb + L" " + object + L" " + std::to_wstring(flags));
  HandleRecord* record = Find(connection, HandleKind::kConnection, L"OpenRequest");
  if (record == nullptr) return nullptr;
  if (openRequestFailure_.error != 0) return Fail(openRequestFailure_);
  const std::size_t index = record->exchange;
  HttpExchange& exchange = exchanges_[index];
  exchange.requestOpened = true;
  exchange.verb = verb;
  exchange.object = object;
  exchange.flags = flags;
  return NewHandle(HandleKind::kRequest, index);
}

bool SimInternet::AddRequestHeaders(platform::HInternet request, const std::wstring& headers,
                                    std::uint32_t modifiers) {
  Log(L"AddRequestHeaders " + HeaderLine(headers));
  HandleRecord* record = Find(request, HandleKind::kRequest, L"AddRequestHeaders");
  if (record == nullptr) return false;
  if (addHeadersFails_) {
    core_.lastError = kErrorInvalidParameter;
    return false;
  }
  exchanges_[record->exchange].headers.push_back({headers, modifiers});
  return true;
}

bool SimInternet::SendRequestEx(platform::HInternet request) {
  Log(L"SendRequestEx");
  HandleRecord* record = Find(request, HandleKind::kRequest, L"SendRequestEx");
  if (record == nullptr) return false;
  HttpExchange& exchange = exchanges_[record->exchange];
  switch (sendOutcome_) {
    case SendOutcome::kAnswer:
      exchange.sent = true;
      exchange.sentAtMs = core_.nowMs;
      return true;
    case SendOutcome::kRefused:
      core_.lastError = kErrorInternetCannotConnect;
      return false;
    case SendOutcome::kConnectTimeout:
      core_.Wait(TimeoutOf(exchange, platform::kInternetOptionConnectTimeout));
      core_.lastError = kErrorInternetTimeout;
      return false;
    case SendOutcome::kNoAnswer:
    case SendOutcome::kNeverAnswers:
      core_.Wait(TimeoutOf(exchange, platform::kInternetOptionReceiveTimeout));
      core_.lastError = kErrorInternetTimeout;
      return false;
  }
  return false;
}

bool SimInternet::WriteFile(platform::HInternet request, const std::uint8_t* data,
                            std::uint32_t size, std::uint32_t& written) {
  Log(L"WriteFile " + std::to_wstring(size));
  written = 0;
  HandleRecord* record = Find(request, HandleKind::kRequest, L"WriteFile");
  if (record == nullptr) return false;
  HttpExchange& exchange = exchanges_[record->exchange];
  if (!exchange.sent || exchange.ended) {
    misuses_.emplace_back(L"WriteFile");
    core_.lastError = kErrorInternetIncorrectHandleState;
    return false;
  }
  const std::size_t callIndex = exchange.writeSizes.size();
  exchange.writeSizes.push_back(size);
  if (writeFailsAt_ == callIndex) {
    core_.lastError = kErrorInternetDisconnected;
    return false;
  }
  if (writeStallsAt_ == callIndex) return true;
  const std::uint32_t accepted = writeChunk_ == 0 ? size : std::min(size, writeChunk_);
  exchange.body.append(reinterpret_cast<const char*>(data), accepted);
  written = accepted;
  return true;
}

std::uint32_t SimInternet::EndRequest(platform::HInternet request) {
  Log(L"EndRequest");
  HandleRecord* record = Find(request, HandleKind::kRequest, L"EndRequest");
  if (record == nullptr) return kErrorInternetIncorrectHandleType;
  HttpExchange& exchange = exchanges_[record->exchange];
  if (!exchange.sent) {
    misuses_.emplace_back(L"EndRequest");
    return kErrorInternetIncorrectHandleState;
  }
  if (lateAnswer_.first == record->exchange) core_.Wait(lateAnswer_.second);
  if (endRequestFails_) return kErrorInternetTimeout;
  if (sendsAgainAsked_ > 0) {
    --sendsAgainAsked_;
    return platform::kErrorInternetForceRetry;
  }
  exchange.ended = true;
  return 0;
}

bool SimInternet::QueryStatusCode(platform::HInternet request, std::uint32_t& status) {
  Log(L"QueryStatusCode");
  ++statusQueries_;
  HandleRecord* record = Find(request, HandleKind::kRequest, L"QueryStatusCode");
  if (record == nullptr) return false;
  const HttpExchange& exchange = exchanges_[record->exchange];
  if (statusQueryFails_ || status_ == 0 || !exchange.ended) {
    core_.lastError = kErrorHttpHeaderNotFound;
    return false;
  }
  status = status_;
  return true;
}

bool SimInternet::QueryInfoA(platform::HInternet request, std::uint32_t infoLevel, char* buffer,
                             std::uint32_t& length) {
  Log(L"QueryInfoA " + std::to_wstring(infoLevel));
  HandleRecord* record = Find(request, HandleKind::kRequest, L"QueryInfoA");
  if (record == nullptr) return false;
  if (infoLevel != platform::kHttpQueryLocation) {
    misuses_.emplace_back(L"QueryInfoA");
    core_.lastError = kErrorInvalidParameter;
    return false;
  }
  ++locationQueries_;
  lastLocationBufferLength_ = length;
  const HttpExchange& exchange = exchanges_[record->exchange];
  if (!exchange.ended || !location_) {
    core_.lastError = kErrorHttpHeaderNotFound;
    return false;
  }
  // The real call needs room for the text and its terminator, stores both
  // and reports the length without the terminator.
  if (location_->size() + 1 > length) {
    length = static_cast<std::uint32_t>(location_->size() + 1);
    core_.lastError = kErrorInsufficientBuffer;
    return false;
  }
  std::copy(location_->begin(), location_->end(), buffer);
  buffer[location_->size()] = '\0';
  length = static_cast<std::uint32_t>(location_->size());
  return true;
}

bool SimInternet::ReadFile(platform::HInternet request, std::uint8_t* buffer, std::uint32_t size,
                           std::uint32_t& read) {
  Log(L"ReadFile " + std::to_wstring(size));
  ++readCalls_;
  read = 0;
  HandleRecord* record = Find(request, HandleKind::kRequest, L"ReadFile");
  if (record == nullptr) return false;
  HttpExchange& exchange = exchanges_[record->exchange];
  // Without a completed request there is no response to read.
  if (!exchange.ended) {
    core_.lastError = kErrorInternetIncorrectHandleState;
    return false;
  }
  core_.Wait(readDelayMs_);
  if (readFailsAfter_ && exchange.responseBytesRead >= *readFailsAfter_) {
    core_.lastError = kErrorInternetDisconnected;
    return false;
  }
  const std::size_t left =
      responseBody_.size() - std::min(responseBody_.size(), exchange.responseBytesRead);
  std::size_t count = std::min<std::size_t>(left, size);
  if (readFailsAfter_) count = std::min(count, *readFailsAfter_ - exchange.responseBytesRead);
  std::copy_n(responseBody_.begin() + static_cast<std::ptrdiff_t>(exchange.responseBytesRead),
              count, buffer);
  exchange.responseBytesRead += count;
  read = static_cast<std::uint32_t>(count);
  return true;
}

bool SimInternet::CloseHandle(platform::HInternet handle) {
  std::wstring kind = L"unknown";
  for (HandleRecord& record : handles_) {
    if (record.handle != handle) continue;
    kind = record.kind == HandleKind::kRoot         ? L"root"
           : record.kind == HandleKind::kConnection ? L"connection"
                                                    : L"request";
    Log(L"CloseHandle " + kind);
    if (!record.open) break;
    record.open = false;
    closed_.push_back(handle);
    // The root takes whatever is still open below it along.
    for (HandleRecord& child : handles_) {
      if (record.kind == HandleKind::kRoot && child.exchange == record.exchange) child.open = false;
    }
    return true;
  }
  if (kind == L"unknown") Log(L"CloseHandle unknown");
  misuses_.emplace_back(L"CloseHandle");
  core_.lastError = kErrorInvalidHandle;
  return false;
}

}  // namespace sim
