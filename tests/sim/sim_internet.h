// The simulated WinINet and the HTTP server behind it: it answers as a test
// tells it to and records every request it receives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/internet.h"
#include "tests/sim/sim_core.h"
#include "tests/sim/sim_errors.h"

namespace sim {

// Error codes that WinINet reports.
inline constexpr std::uint32_t kErrorInternetTimeout = 12002;
inline constexpr std::uint32_t kErrorInternetNameNotResolved = 12007;
inline constexpr std::uint32_t kErrorInternetCannotConnect = 12029;
inline constexpr std::uint32_t kErrorInternetDisconnected = 12163;
inline constexpr std::uint32_t kErrorInternetIncorrectHandleType = 12018;
inline constexpr std::uint32_t kErrorInternetIncorrectHandleState = 12019;
inline constexpr std::uint32_t kErrorHttpHeaderNotFound = 12150;
// What WinINet waits when no time-out was set on the root handle.
inline constexpr std::uint32_t kDefaultTimeoutMs = 60000;

// One field of a form body, decoded.
struct FormField {
  std::wstring name;
  std::wstring value;  // empty when hasValue is false
  bool hasValue = false;
};

using FormFields = std::vector<FormField>;

// Splits an application/x-www-form-urlencoded body at "&" and "=" and decodes
// the %XX escapes and then UTF-8 (invalid UTF-8 gives U+FFFD). A field without
// "=" has no value.
FormFields SplitForm(const std::string& body);
// The value of the first field called `name`; nullopt when there is none or it
// has no value.
std::optional<std::wstring> FormValue(const FormFields& fields, const std::wstring& name);

// One option set with InternetSetOptionW.
struct InternetOption {
  std::uint32_t option = 0;
  std::uint32_t value = 0;
};

// One header line added with HttpAddRequestHeadersW.
struct RequestHeader {
  std::wstring text;  // as given, line end included
  std::uint32_t modifiers = 0;
};

// Everything the client did under one root handle (one InternetOpenW call).
struct HttpExchange {
  std::wstring agent;
  std::uint32_t accessType = 0;
  std::vector<InternetOption> options;  // in the order they were set
  // Filled in by InternetConnectW.
  bool connected = false;
  std::wstring server;
  std::uint16_t port = 0;
  std::uint32_t service = 0;
  // Filled in by HttpOpenRequestW.
  bool requestOpened = false;
  std::wstring verb;
  std::wstring object;
  std::uint32_t flags = 0;
  std::vector<RequestHeader> headers;  // in order
  // HttpSendRequestExW was called and succeeded, at this time.
  bool sent = false;
  std::uint64_t sentAtMs = 0;
  // The bytes written with InternetWriteFile, in order, and the size of every
  // write call asked for.
  std::string body;
  std::vector<std::uint32_t> writeSizes;
  bool ended = false;
  // Bytes of the response body that the client read.
  std::size_t responseBytesRead = 0;

  // The value of the header line `name: value\r\n` (the first one that
  // matches, case-sensitive); nullopt when none was added.
  std::optional<std::wstring> Header(const std::wstring& name) const;
  FormFields Form() const { return SplitForm(body); }
};

// How the server side answers a send.
enum class SendOutcome {
  kAnswer,          // the server answers with the configured response
  kRefused,         // nobody listens on the port: fails at once
  kConnectTimeout,  // the host does not answer: fails after the connect time-out
  kNoAnswer,        // connected, but no response: fails after the receive time-out
  // As kNoAnswer where the time-out is ignored: the call never returns. A
  // worker of Process::RunWithin is then stuck for good, so none of its
  // task runs (SimCore::callsNeverReturn; outside a worker, as kNoAnswer).
  kNeverAnswers,
};

class SimInternet : public platform::Internet {
 public:
  explicit SimInternet(SimCore& core);
  // The core keeps a question about this object.
  SimInternet(const SimInternet&) = delete;
  SimInternet& operator=(const SimInternet&) = delete;
  ~SimInternet() override = default;

  // --- How the machine and the server behave (all apply until changed). ---

  // InternetAttemptConnect returns this error (0: the machine is online).
  void SetAttemptConnectResult(std::uint32_t error) { attemptConnectResult_ = error; }
  // InternetOpenW, InternetConnectW or HttpOpenRequestW fail with `error`;
  // the failed call returns INVALID_HANDLE_VALUE when `invalidValue`, else null.
  void FailOpen(std::uint32_t error, bool invalidValue = false);
  void FailConnect(std::uint32_t error, bool invalidValue = false);
  void FailOpenRequest(std::uint32_t error, bool invalidValue = false);
  // InternetSetOptionW and HttpAddRequestHeadersW fail (they still record).
  void FailSetOption(bool fail) { setOptionFails_ = fail; }
  void FailAddHeaders(bool fail) { addHeadersFails_ = fail; }
  // What happens on HttpSendRequestExW. The time-outs move SimCore::nowMs on
  // by the value set on the root handle (kDefaultTimeoutMs when none was).
  void SetSendOutcome(SendOutcome outcome) { sendOutcome_ = outcome; }
  // Each InternetWriteFile call accepts at most this many bytes (0: all).
  void SetWriteChunk(std::uint32_t maxBytes) { writeChunk_ = maxBytes; }
  // The write call with this index (0 is the first of the exchange) fails, or
  // succeeds having written nothing.
  void FailWriteAt(std::size_t callIndex) { writeFailsAt_ = callIndex; }
  void StallWriteAt(std::size_t callIndex) { writeStallsAt_ = callIndex; }
  void FailEndRequest(bool fail) { endRequestFails_ = fail; }
  // HttpEndRequestW asks this many more times for the request to be sent again.
  void AskToSendAgain(std::uint32_t times) { sendsAgainAsked_ = times; }
  // HttpEndRequestW of exchange `index` (0 is the first) waits this long for
  // the server's answer.
  void AnswerLate(std::size_t index, std::uint32_t milliseconds) {
    lateAnswer_ = {index, milliseconds};
  }

  // The response. A status of 0 makes the status query fail.
  void SetStatus(std::uint32_t status) { status_ = status; }
  void FailStatusQuery(bool fail) { statusQueryFails_ = fail; }
  // The raw bytes of the Location header; nullopt: the response has none.
  void SetLocation(std::optional<std::string> location) { location_ = std::move(location); }
  // The response body, and after how many bytes a read fails (nullopt: never).
  void SetResponseBody(std::string body) { responseBody_ = std::move(body); }
  void FailReadAfter(std::optional<std::size_t> bytes) { readFailsAfter_ = bytes; }
  // Each read call waits this long for its data: a server that trickles.
  void SetReadDelay(std::uint32_t milliseconds) { readDelayMs_ = milliseconds; }

  // --- What happened. ---

  const std::vector<HttpExchange>& exchanges() const { return exchanges_; }
  // The form fields of every request body that was sent, in order.
  std::vector<FormFields> SentForms() const;
  std::uint32_t attemptConnectCalls() const { return attemptConnectCalls_; }
  // Handles handed out and not closed yet.
  std::size_t OpenHandles() const;
  // Handles handed out so far, and closed so far, each in order.
  const std::vector<platform::HInternet>& openedHandles() const { return opened_; }
  const std::vector<platform::HInternet>& closedHandles() const { return closed_; }
  // Calls that got a handle that was closed, never handed out or of the wrong
  // kind, as "Call": a second close counts here too.
  const std::vector<std::wstring>& misuses() const { return misuses_; }
  // How many status queries, Location queries and read calls were made.
  std::uint32_t statusQueries() const { return statusQueries_; }
  std::uint32_t locationQueries() const { return locationQueries_; }
  std::uint32_t readCalls() const { return readCalls_; }
  // The buffer length given to the latest Location query.
  std::uint32_t lastLocationBufferLength() const { return lastLocationBufferLength_; }

  // --- platform::Internet ---

  std::uint32_t AttemptConnect() override;
  platform::HInternet Open(const std::wstring& agent, std::uint32_t accessType) override;
  bool SetOption(platform::HInternet handle, std::uint32_t option, std::uint32_t value) override;
  platform::HInternet Connect(platform::HInternet root, const std::wstring& server,
                              std::uint16_t port, std::uint32_t service) override;
  platform::HInternet OpenRequest(platform::HInternet connection, const std::wstring& verb,
                                  const std::wstring& object, std::uint32_t flags) override;
  bool AddRequestHeaders(platform::HInternet request, const std::wstring& headers,
                         std::uint32_t modifiers) override;
  bool SendRequestEx(platform::HInternet request) override;
  bool WriteFile(platform::HInternet request, const std::uint8_t* data, std::uint32_t size,
                 std::uint32_t& written) override;
  std::uint32_t EndRequest(platform::HInternet request) override;
  bool QueryStatusCode(platform::HInternet request, std::uint32_t& status) override;
  bool QueryInfoA(platform::HInternet request, std::uint32_t infoLevel, char* buffer,
                  std::uint32_t& length) override;
  bool ReadFile(platform::HInternet request, std::uint8_t* buffer, std::uint32_t size,
                std::uint32_t& read) override;
  bool CloseHandle(platform::HInternet handle) override;

 private:
  enum class HandleKind { kRoot, kConnection, kRequest };
  struct HandleRecord {
    platform::HInternet handle = nullptr;
    HandleKind kind = HandleKind::kRoot;
    std::size_t exchange = 0;
    bool open = true;
  };
  struct OpenFailure {
    std::uint32_t error = 0;  // 0: the call succeeds
    bool invalidValue = false;
  };

  // The open record of `handle` when it is of `kind`; null (and a misuse
  // recorded under `call`) otherwise.
  HandleRecord* Find(platform::HInternet handle, HandleKind kind, const wchar_t* call);
  platform::HInternet NewHandle(HandleKind kind, std::size_t exchange);
  platform::HInternet Fail(const OpenFailure& failure);
  static std::uint32_t TimeoutOf(const HttpExchange& exchange, std::uint32_t option);
  void Log(std::wstring call);

  SimCore& core_;
  std::uint32_t attemptConnectResult_ = 0;
  OpenFailure openFailure_;
  OpenFailure connectFailure_;
  OpenFailure openRequestFailure_;
  bool setOptionFails_ = false;
  bool addHeadersFails_ = false;
  SendOutcome sendOutcome_ = SendOutcome::kAnswer;
  std::uint32_t writeChunk_ = 0;
  std::optional<std::size_t> writeFailsAt_;
  std::optional<std::size_t> writeStallsAt_;
  bool endRequestFails_ = false;
  std::uint32_t sendsAgainAsked_ = 0;
  std::pair<std::size_t, std::uint32_t> lateAnswer_{SIZE_MAX, 0};
  std::uint32_t status_ = 200;
  bool statusQueryFails_ = false;
  std::optional<std::string> location_;
  std::string responseBody_;
  std::optional<std::size_t> readFailsAfter_;
  std::uint32_t readDelayMs_ = 0;

  std::vector<HttpExchange> exchanges_;
  std::vector<HandleRecord> handles_;
  std::vector<platform::HInternet> opened_;
  std::vector<platform::HInternet> closed_;
  std::vector<std::wstring> misuses_;
  std::uint32_t attemptConnectCalls_ = 0;
  std::uint32_t statusQueries_ = 0;
  std::uint32_t locationQueries_ = 0;
  std::uint32_t readCalls_ = 0;
  std::uint32_t lastLocationBufferLength_ = 0;
  std::uintptr_t nextHandle_ = 0xCC0000;
};

}  // namespace sim
