#include "telemetry/http_post.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/sim/sim_internet.h"
#include "tests/sim/sim_text.h"

namespace telemetry {
namespace {

using Calls = std::vector<std::wstring>;

const std::wstring kStartBody = sim::WithVersion(
    L"product=tessel_remove&version={version}&error=&language=en&module=start"
    L"&build=3f2b8c1e-9a47-4d2e-b6f1-0c5d7e8a9b1f&ping");
// 113 characters with version 1.2.
const auto kStartLength = static_cast<std::uint32_t>(kStartBody.size());

// What each write of a body of `length` bytes is asked to take when every
// call takes at most `chunk`: `length`, then `chunk` less each time.
std::vector<std::uint32_t> WriteSizes(std::uint32_t length, std::uint32_t chunk) {
  std::vector<std::uint32_t> sizes;
  for (std::uint32_t left = length; left > 0; left -= std::min(left, chunk)) sizes.push_back(left);
  return sizes;
}

std::string Narrow(const std::wstring& ascii) {
  std::string bytes;
  for (const wchar_t unit : ascii) bytes.push_back(static_cast<char>(unit));
  return bytes;
}

// The calls of an exchange up to an open request for `length` body bytes.
Calls CallsThroughHeaders(std::size_t length) {
  return {L"Internet.AttemptConnect",
          L"Internet.Open ZANT 0",
          L"Internet.SetOption 2 10000",
          L"Internet.SetOption 6 10000",
          L"Internet.SetOption 5 10000",
          L"Internet.Connect telemetry.orvane.com 80 3",
          L"Internet.OpenRequest POST entt 69730304",
          L"Internet.AddRequestHeaders Connection: close",
          L"Internet.AddRequestHeaders Content-Type: application/x-www-form-urlencoded",
          L"Internet.AddRequestHeaders Content-Length: " + std::to_wstring(length)};
}

Calls Concat(Calls first, const Calls& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

const Calls kCloseAll = {L"Internet.CloseHandle request", L"Internet.CloseHandle connection",
                         L"Internet.CloseHandle root"};

// A simulated WinINet of its own, for each case of a loop.
struct FreshInternet {
  std::uint32_t Post(const std::wstring& body) {
    std::wstring ignored;
    return PostForm(internet, body, false, ignored);
  }

  sim::SimCore core;
  sim::SimInternet internet{core};
};

class PostFormTest : public ::testing::Test {
 protected:
  std::uint32_t Post(const std::wstring& body, bool secure = false) {
    return PostForm(internet, body, secure, location);
  }

  // Every handle handed out was closed once, the last opened first.
  void ExpectClosedInReverseOrder() const {
    std::vector<platform::HInternet> reversed = internet.openedHandles();
    std::reverse(reversed.begin(), reversed.end());
    EXPECT_EQ(internet.closedHandles(), reversed);
    EXPECT_EQ(internet.OpenHandles(), 0u);
    EXPECT_TRUE(internet.misuses().empty());
  }

  const sim::HttpExchange& OnlyExchange() const {
    EXPECT_EQ(internet.exchanges().size(), 1u);
    return internet.exchanges().front();
  }

  sim::SimCore core;
  sim::SimInternet internet{core};
  std::wstring location = L"stale";
};

TEST_F(PostFormTest, SendsTheRequestAsAgreed) {
  EXPECT_EQ(Post(kStartBody), 200u);

  const sim::HttpExchange& exchange = OnlyExchange();
  EXPECT_EQ(exchange.agent, L"ZANT");
  EXPECT_EQ(exchange.accessType, platform::kInternetOpenTypePreconfig);
  ASSERT_EQ(exchange.options.size(), 3u);
  EXPECT_EQ(exchange.options[0].option, 2u);  // connect
  EXPECT_EQ(exchange.options[1].option, 6u);  // receive
  EXPECT_EQ(exchange.options[2].option, 5u);  // send
  for (const sim::InternetOption& option : exchange.options) EXPECT_EQ(option.value, 10000u);
  EXPECT_EQ(exchange.server, L"telemetry.orvane.com");
  EXPECT_EQ(exchange.port, 80);
  EXPECT_EQ(exchange.service, 3u);
  EXPECT_EQ(exchange.verb, L"POST");
  EXPECT_EQ(exchange.object, L"entt");
  EXPECT_EQ(exchange.flags, 0x04280000u);  // no redirects, cookies or cache writes
  ASSERT_EQ(exchange.headers.size(), 3u);
  EXPECT_EQ(exchange.headers[0].text, L"Connection: close\r\n");
  EXPECT_EQ(exchange.headers[1].text, L"Content-Type: application/x-www-form-urlencoded\r\n");
  EXPECT_EQ(exchange.headers[2].text,
            L"Content-Length: " + std::to_wstring(kStartLength) + L"\r\n");
  for (const sim::RequestHeader& header : exchange.headers) {
    EXPECT_EQ(header.modifiers, 0x20000000u);
  }
  EXPECT_EQ(exchange.body, Narrow(kStartBody));
  EXPECT_EQ(exchange.writeSizes, std::vector<std::uint32_t>{kStartLength});
  EXPECT_TRUE(exchange.ended);
  ExpectClosedInReverseOrder();
}

TEST_F(PostFormTest, CallsComeInOrder) {
  Post(L"a=1");
  EXPECT_EQ(core.calls, Concat(Concat(CallsThroughHeaders(3),
                                      {L"Internet.SendRequestEx", L"Internet.WriteFile 3",
                                       L"Internet.EndRequest", L"Internet.QueryInfoA 33",
                                       L"Internet.QueryStatusCode", L"Internet.ReadFile 1"}),
                               kCloseAll));
}

TEST_F(PostFormTest, SecureUsesPort443AndTheSecureFlag) {
  EXPECT_EQ(Post(L"a=1", true), 200u);
  EXPECT_EQ(OnlyExchange().port, 443);
  EXPECT_EQ(OnlyExchange().flags, 0x04A80000u);
}

TEST_F(PostFormTest, ContentLengthMatchesTheBytesWritten) {
  for (const std::wstring& body : {std::wstring(L"x"), std::wstring(999, L'y')}) {
    FreshInternet fresh;
    fresh.Post(body);
    ASSERT_EQ(fresh.internet.exchanges().size(), 1u);
    const sim::HttpExchange& exchange = fresh.internet.exchanges()[0];
    EXPECT_EQ(exchange.Header(L"Content-Length"), std::to_wstring(body.size()));
    EXPECT_EQ(exchange.body.size(), body.size());
  }
}

TEST_F(PostFormTest, EmptyBodyWritesNothing) {
  EXPECT_EQ(Post(L""), 200u);
  EXPECT_EQ(OnlyExchange().Header(L"Content-Length"), L"0");
  EXPECT_TRUE(OnlyExchange().writeSizes.empty());
  ExpectClosedInReverseOrder();
}

TEST_F(PostFormTest, ReturnsWhateverStatusTheServerGives) {
  for (const std::uint32_t status : {200u, 201u, 204u, 301u, 302u, 404u, 500u}) {
    FreshInternet fresh;
    fresh.internet.SetStatus(status);
    EXPECT_EQ(fresh.Post(L"a=1"), status);
  }
}

TEST_F(PostFormTest, RedirectIsHandedBackNotFollowed) {
  internet.SetStatus(302);
  internet.SetLocation("http://elsewhere.example/entt?x=1");
  EXPECT_EQ(Post(L"a=1"), 302u);
  EXPECT_EQ(location, L"http://elsewhere.example/entt?x=1");
  // One root, one connection, one request: nothing was opened for the target.
  EXPECT_EQ(internet.exchanges().size(), 1u);
  EXPECT_EQ(internet.openedHandles().size(), 3u);
  EXPECT_EQ(internet.lastLocationBufferLength(), 32767u);
  ExpectClosedInReverseOrder();
}

TEST_F(PostFormTest, LocationIsDecodedFromUtf8) {
  internet.SetStatus(301);
  internet.SetLocation("/caf\xC3\xA9/\xF0\x9F\x98\x80/\xFF");
  EXPECT_EQ(Post(L"a=1"), 301u);
  std::wstring expected = L"/caf";
  expected.push_back(static_cast<wchar_t>(0xE9));
  expected += L"/";
  if constexpr (sizeof(wchar_t) == 2) {
    expected += {static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)};
  } else {
    expected.push_back(static_cast<wchar_t>(0x1F600));
  }
  expected += L"/";
  expected.push_back(static_cast<wchar_t>(0xFFFD));
  EXPECT_EQ(location, expected);
}

TEST_F(PostFormTest, LocationEndsAtAZeroByte) {
  internet.SetLocation(std::string("/a\0/b", 5));
  Post(L"a=1");
  EXPECT_EQ(location, L"/a");
}

TEST_F(PostFormTest, WithoutLocationHeaderTheLocationIsEmpty) {
  EXPECT_EQ(Post(L"a=1"), 200u);
  EXPECT_TRUE(location.empty());
}

// A platform that claims more Location bytes than the buffer holds.
class OverlongLocationInternet : public sim::SimInternet {
 public:
  using SimInternet::SimInternet;
  bool QueryInfoA(platform::HInternet /*request*/, std::uint32_t /*query*/, char* buffer,
                  std::uint32_t& length) override {
    requested = length;
    std::fill(buffer, buffer + length, 'L');
    length = 50000;
    return true;
  }
  std::uint32_t requested = 0;
};

TEST_F(PostFormTest, OverlongLocationLengthIsClamped) {
  OverlongLocationInternet overlong(core);
  std::wstring result;
  EXPECT_EQ(PostForm(overlong, L"a=1", false, result), 200u);
  EXPECT_EQ(overlong.requested, 32767u);
  EXPECT_EQ(result, std::wstring(32767, L'L'));
}

TEST_F(PostFormTest, ResponseBodyIsDrainedOneByteAtATime) {
  internet.SetStatus(500);
  internet.SetResponseBody("Internal error\n");
  EXPECT_EQ(Post(L"a=1"), 500u);
  EXPECT_EQ(OnlyExchange().responseBytesRead, 15u);
  // 15 reads of one byte, then the read that finds the end.
  EXPECT_EQ(internet.readCalls(), 16u);
  const auto readsOfOne = std::count(core.calls.begin(), core.calls.end(), L"Internet.ReadFile 1");
  EXPECT_EQ(readsOfOne, 16);
  ExpectClosedInReverseOrder();
}

TEST_F(PostFormTest, DrainStopsWhenAReadFails) {
  internet.SetResponseBody("0123456789");
  internet.FailReadAfter(4);
  EXPECT_EQ(Post(L"a=1"), 200u);
  EXPECT_EQ(OnlyExchange().responseBytesRead, 4u);
  EXPECT_EQ(internet.readCalls(), 5u);
  ExpectClosedInReverseOrder();
}

TEST_F(PostFormTest, DrainingStopsAtItsLimitWhenTheServerGoesOnSending) {
  internet.SetResponseBody(std::string(std::size_t{kMaxDrainBytes} * 3, 'x'));
  EXPECT_EQ(Post(L"a=1"), 200u);
  EXPECT_EQ(OnlyExchange().responseBytesRead, kMaxDrainBytes);
  EXPECT_EQ(internet.readCalls(), kMaxDrainBytes);
  ExpectClosedInReverseOrder();
}

TEST_F(PostFormTest, PartialWritesAreContinuedUntilTheBodyIsOut) {
  internet.SetWriteChunk(10);
  EXPECT_EQ(Post(kStartBody), 200u);
  const sim::HttpExchange& exchange = OnlyExchange();
  EXPECT_EQ(exchange.body, Narrow(kStartBody));
  // 113, 103, ..., 13, then the last 3.
  EXPECT_EQ(exchange.writeSizes, WriteSizes(kStartLength, 10));
}

TEST_F(PostFormTest, WritingStopsAtAFailedWriteAndTheStatusDecides) {
  internet.SetWriteChunk(10);
  internet.FailWriteAt(2);
  internet.SetStatus(400);
  EXPECT_EQ(Post(kStartBody), 400u);
  EXPECT_EQ(OnlyExchange().writeSizes,
            (std::vector<std::uint32_t>{kStartLength, kStartLength - 10, kStartLength - 20}));
  EXPECT_EQ(OnlyExchange().body.size(), 20u);
  EXPECT_TRUE(OnlyExchange().ended);
  ExpectClosedInReverseOrder();
}

TEST_F(PostFormTest, WritingStopsWhenAWriteTakesNothing) {
  internet.SetWriteChunk(50);
  internet.StallWriteAt(1);
  Post(kStartBody);
  EXPECT_EQ(OnlyExchange().writeSizes,
            (std::vector<std::uint32_t>{kStartLength, kStartLength - 50}));
  EXPECT_EQ(OnlyExchange().body.size(), 50u);
  ExpectClosedInReverseOrder();
}

TEST_F(PostFormTest, NoNetworkOpensNothing) {
  internet.SetAttemptConnectResult(sim::kErrorInternetDisconnected);
  EXPECT_EQ(Post(kStartBody), 0u);
  EXPECT_EQ(core.calls, Calls{L"Internet.AttemptConnect"});
  EXPECT_TRUE(internet.openedHandles().empty());
  EXPECT_TRUE(internet.misuses().empty());
  EXPECT_EQ(core.nowMs, 0u);
}

TEST_F(PostFormTest, FailedOpenEndsTheCallWhateverTheFailureValue) {
  for (const bool invalidValue : {false, true}) {
    FreshInternet fresh;
    fresh.internet.FailOpen(sim::kErrorInternetNameNotResolved, invalidValue);
    EXPECT_EQ(fresh.Post(kStartBody), 0u);
    EXPECT_EQ(fresh.core.calls, (Calls{L"Internet.AttemptConnect", L"Internet.Open ZANT 0"}));
    // In particular the failure value was never handed back to be closed.
    EXPECT_TRUE(fresh.internet.misuses().empty());
  }
}

TEST_F(PostFormTest, FailedConnectClosesTheRoot) {
  for (const bool invalidValue : {false, true}) {
    FreshInternet fresh;
    fresh.internet.FailConnect(sim::kErrorInternetNameNotResolved, invalidValue);
    EXPECT_EQ(fresh.Post(kStartBody), 0u);
    Calls expected = CallsThroughHeaders(kStartLength);
    expected.resize(6);  // through Connect
    expected.push_back(L"Internet.CloseHandle root");
    EXPECT_EQ(fresh.core.calls, expected);
    EXPECT_EQ(fresh.internet.OpenHandles(), 0u);
    EXPECT_TRUE(fresh.internet.misuses().empty());
  }
}

TEST_F(PostFormTest, FailedOpenRequestClosesConnectionThenRoot) {
  for (const bool invalidValue : {false, true}) {
    FreshInternet fresh;
    fresh.internet.FailOpenRequest(12005, invalidValue);
    EXPECT_EQ(fresh.Post(kStartBody), 0u);
    Calls expected = CallsThroughHeaders(kStartLength);
    expected.resize(7);  // through OpenRequest
    expected.push_back(L"Internet.CloseHandle connection");
    expected.push_back(L"Internet.CloseHandle root");
    EXPECT_EQ(fresh.core.calls, expected);
    EXPECT_EQ(fresh.internet.OpenHandles(), 0u);
    EXPECT_TRUE(fresh.internet.misuses().empty());
  }
}

TEST_F(PostFormTest, FailedSendWritesAndQueriesNothing) {
  internet.SetSendOutcome(sim::SendOutcome::kRefused);
  internet.SetLocation("/never");
  EXPECT_EQ(Post(kStartBody), 0u);
  EXPECT_EQ(
      core.calls,
      Concat(Concat(CallsThroughHeaders(kStartLength), {L"Internet.SendRequestEx"}), kCloseAll));
  EXPECT_TRUE(location.empty());
  ExpectClosedInReverseOrder();
}

TEST_F(PostFormTest, TimedOutSendWaitsTheTimeoutSetOnTheRoot) {
  for (const sim::SendOutcome outcome :
       {sim::SendOutcome::kConnectTimeout, sim::SendOutcome::kNoAnswer}) {
    FreshInternet fresh;
    fresh.internet.SetSendOutcome(outcome);
    EXPECT_EQ(fresh.Post(kStartBody), 0u);
    // The simulated peer waits what the root handle allows, or 60 s when unset.
    EXPECT_EQ(fresh.core.nowMs, 10000u);
    EXPECT_EQ(fresh.internet.statusQueries(), 0u);
    EXPECT_EQ(fresh.internet.OpenHandles(), 0u);
  }
}

TEST_F(PostFormTest, FailedStatusQueryGivesZeroAndStillDrains) {
  internet.FailStatusQuery(true);
  internet.SetResponseBody("ok");
  EXPECT_EQ(Post(kStartBody), 0u);
  EXPECT_EQ(internet.statusQueries(), 1u);
  EXPECT_EQ(OnlyExchange().responseBytesRead, 2u);
  ExpectClosedInReverseOrder();
}

TEST_F(PostFormTest, FailedEndRequestLeavesTheResultToTheStatusQuery) {
  internet.FailEndRequest(true);
  internet.SetResponseBody("ok");
  EXPECT_EQ(Post(kStartBody), 0u);
  EXPECT_EQ(internet.statusQueries(), 1u);
  // The drain was tried and ended at the first failing read.
  EXPECT_EQ(internet.readCalls(), 1u);
  ExpectClosedInReverseOrder();
}

TEST_F(PostFormTest, TheRequestIsSentAgainWhileWinInetAsksForItUpToABound) {
  for (const std::uint32_t asks : {1u, 0xFFFFFFFFu}) {
    FreshInternet fresh;
    fresh.internet.AskToSendAgain(asks);
    EXPECT_EQ(fresh.Post(kStartBody), asks == 1 ? 200u : 0u);
    const std::uint32_t sends = asks == 1 ? 2 : kMaxSends;
    EXPECT_EQ(
        std::count(fresh.core.calls.begin(), fresh.core.calls.end(), L"Internet.SendRequestEx"),
        sends);
    // One request, its headers added once, the whole body written at every send.
    EXPECT_EQ(fresh.internet.exchanges().at(0).headers.size(), 3u);
    EXPECT_EQ(fresh.internet.exchanges().at(0).body.size(), sends * kStartLength);
    EXPECT_EQ(fresh.internet.OpenHandles(), 0u);
  }
}

TEST_F(PostFormTest, FailedOptionsAndHeadersDoNotStopTheSend) {
  internet.FailSetOption(true);
  internet.FailAddHeaders(true);
  EXPECT_EQ(Post(kStartBody), 200u);
  EXPECT_EQ(OnlyExchange().body, Narrow(kStartBody));
  EXPECT_EQ(std::count(core.calls.begin(), core.calls.end(), L"Internet.SetOption 2 10000"), 1);
  ExpectClosedInReverseOrder();
}

TEST_F(PostFormTest, EachCallStandsAlone) {
  internet.SetStatus(302);
  internet.SetLocation("/first");
  Post(L"a=1");
  internet.SetSendOutcome(sim::SendOutcome::kRefused);
  EXPECT_EQ(Post(L"b=2"), 0u);
  EXPECT_TRUE(location.empty());
  EXPECT_EQ(internet.exchanges().size(), 2u);
  EXPECT_EQ(internet.openedHandles().size(), 6u);
  EXPECT_EQ(internet.OpenHandles(), 0u);
}

TEST(HttpStepsTest, StepsWithoutAValidHandleCallNothing) {
  sim::SimCore core;
  sim::SimInternet internet(core);
  const platform::UniqueInternetHandle none;
  const platform::UniqueInternetHandle invalid(
      internet, reinterpret_cast<platform::HInternet>(~std::uintptr_t{0}));
  for (const platform::UniqueInternetHandle* holder : {&none, &invalid}) {
    EXPECT_FALSE(OpenConnection(internet, *holder, kTelemetryServer, 80));
    EXPECT_FALSE(OpenRequest(internet, *holder, false));
  }
  EXPECT_TRUE(core.calls.empty());
}

}  // namespace
}  // namespace telemetry
