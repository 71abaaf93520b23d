#include "telemetry/telemetry_sender.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "telemetry/cancellable_internet.h"
#include "tests/sim/sim_input.h"
#include "tests/sim/sim_internet.h"
#include "tests/sim/sim_process.h"
#include "tests/sim/sim_text.h"

namespace telemetry {
namespace {

constexpr wchar_t kRunId[] = L"3f2b8c1e-9a47-4d2e-b6f1-0c5d7e8a9b1f";

// A process that starts no thread while `refuses` is set.
struct RefusingProcess : sim::SimProcess {
  using SimProcess::SimProcess;
  bool StartThread(std::function<void()> task) override {
    return !refuses && SimProcess::StartThread(std::move(task));
  }
  bool refuses = false;
};

class TelemetrySenderTest : public ::testing::Test {
 protected:
  const std::string& OnlyBody() const {
    EXPECT_EQ(internet.exchanges().size(), 1u);
    return internet.exchanges().front().body;
  }

  sim::SimCore core;
  sim::SimInternet internet{core};
  RefusingProcess process{core};
  sim::SimClock clock{core};
  TelemetrySender sender{internet, process};
};

TEST_F(TelemetrySenderTest, DeliveredOnlyFor200AndRedirects) {
  struct Case {
    std::uint32_t status;
    bool delivered;
  };
  for (const Case c : {Case{200, true}, Case{301, true}, Case{302, true}, Case{201, false},
                       Case{204, false}, Case{404, false}, Case{500, false}, Case{0, false}}) {
    sim::SimCore freshCore;
    sim::SimInternet fresh(freshCore);
    fresh.SetStatus(c.status);  // 0: no status can be had
    EXPECT_EQ(SendEvent(fresh, TelemetryEvent(L"start", nullptr, kRunId)), c.delivered)
        << "status " << c.status;
  }
}

TEST_F(TelemetrySenderTest, NoNetworkIsNotDelivered) {
  internet.SetAttemptConnectResult(sim::kErrorInternetDisconnected);
  EXPECT_FALSE(SendEvent(internet, TelemetryEvent(L"start", nullptr, kRunId)));
}

TEST_F(TelemetrySenderTest, SendEventPostsTheEncodedEventWithItsMarker) {
  TelemetryEvent event(L"error", L"RegDelete", kRunId);
  event.AddCustomField(L"message", L"SOFTWARE\\Orvane\\Tessel");
  EXPECT_TRUE(SendEvent(internet, event));
  EXPECT_EQ(OnlyBody(),
            sim::WithVersion("product=tessel_remove&version={version}&error=RegDelete&language=en"
                             "&module=error&build=3f2b8c1e-9a47-4d2e-b6f1-0c5d7e8a9b1f"
                             "&message=SOFTWARE%5COrvane%5CTessel&ping"));
  EXPECT_EQ(internet.exchanges()[0].port, 80);
  EXPECT_EQ(internet.exchanges()[0].flags, 0x04280000u);
}

TEST_F(TelemetrySenderTest, DoneEventBodyByteForByte) {
  sender.Send(DoneEvent(2, kRunId, true));
  EXPECT_EQ(OnlyBody(),
            sim::WithVersion("product=tessel_remove&version={version}&error=&language=en"
                             "&module=done&build=3f2b8c1e-9a47-4d2e-b6f1-0c5d7e8a9b1f"
                             "&errors=2&reboot=Yes&ping"));
}

TEST_F(TelemetrySenderTest, CleanRunSendsZeroErrorsAndNoReboot) {
  sender.Send(DoneEvent(0, kRunId, false));
  const sim::FormFields fields = sim::SplitForm(OnlyBody());
  EXPECT_EQ(sim::FormValue(fields, L"module"), L"done");
  EXPECT_EQ(sim::FormValue(fields, L"errors"), L"0");
  EXPECT_EQ(sim::FormValue(fields, L"reboot"), L"No");
  ASSERT_GE(fields.size(), 3u);
  EXPECT_EQ(fields[fields.size() - 3].name, L"errors");
  EXPECT_EQ(fields[fields.size() - 2].name, L"reboot");
  EXPECT_EQ(fields.back().name, L"ping");
}

TEST_F(TelemetrySenderTest, ErrorCountIsSentAsUnsigned) {
  sender.Send(DoneEvent(3, kRunId, true));
  sender.Send(DoneEvent(std::numeric_limits<std::int32_t>::max(), kRunId, false));
  sender.Send(DoneEvent(-1, kRunId, false));
  const std::vector<sim::FormFields> forms = internet.SentForms();
  ASSERT_EQ(forms.size(), 3u);
  EXPECT_EQ(sim::FormValue(forms[0], L"errors"), L"3");
  EXPECT_EQ(sim::FormValue(forms[0], L"reboot"), L"Yes");
  EXPECT_EQ(sim::FormValue(forms[1], L"errors"), L"2147483647");
  EXPECT_EQ(sim::FormValue(forms[2], L"errors"), L"4294967295");
}

TEST_F(TelemetrySenderTest, FailedSendLeavesNoHandleOpenAndTheCallerNeverWaited) {
  internet.SetSendOutcome(sim::SendOutcome::kNoAnswer);
  sender.Send(DoneEvent(1, kRunId, false));
  EXPECT_EQ(internet.OpenHandles(), 0u);
  EXPECT_TRUE(internet.SentForms().empty());
  EXPECT_EQ(core.nowMs, 0u);
  EXPECT_TRUE(sender.Idle());
}

TEST_F(TelemetrySenderTest, EventsGoOutInOrderUntilAnExchangeNeverReturns) {
  process.SetThreads(sim::SimProcess::Threads::kAtNextSleep);
  sender.Send(TelemetryEvent(L"start", nullptr, kRunId));
  sender.Send(TelemetryEvent(L"error", L"SvcStop", kRunId));
  EXPECT_TRUE(internet.exchanges().empty());
  EXPECT_FALSE(sender.Idle());
  clock.Sleep(100);
  ASSERT_EQ(internet.SentForms().size(), 2u);
  EXPECT_EQ(sim::FormValue(internet.SentForms()[1], L"module"), L"error");
  // The next exchange's call never returns: the event queued behind it and
  // later ones start no exchange and no thread.
  internet.SetSendOutcome(sim::SendOutcome::kNeverAnswers);
  sender.Send(TelemetryEvent(L"non-admin-exit", nullptr, kRunId));
  sender.Send(DoneEvent(1, kRunId, false));
  clock.Sleep(100);
  internet.SetSendOutcome(sim::SendOutcome::kAnswer);
  sender.Send(DoneEvent(1, kRunId, false));
  clock.Sleep(100);
  EXPECT_EQ(internet.exchanges().size(), 2u);
  EXPECT_EQ(process.threadsStarted(), 2);
  EXPECT_FALSE(sender.Idle());
}

TEST_F(TelemetrySenderTest, EventsBehindALateAnswerGoOutInOrderOnceTheCancelledExchangeEnds) {
  process.SetThreads(sim::SimProcess::Threads::kAtNextSleep);
  internet.AnswerLate(0, 20000);
  internet.SetReadDelay(1000);  // each answer drained a byte a second
  internet.SetResponseBody("ok");
  sender.Send(TelemetryEvent(L"start", nullptr, kRunId));
  sender.Send(TelemetryEvent(L"error", L"SvcStop", kRunId));
  sender.Send(DoneEvent(1, kRunId, false));
  clock.Sleep(100);
  // Cancelled at 14.1 s, the first exchange makes no call but its closes once
  // its answer comes, at 20.1 s; the next two follow then, each drained (3 s).
  ASSERT_EQ(internet.SentForms().size(), 3u);
  EXPECT_EQ(internet.exchanges()[1].sentAtMs, 20100u);
  EXPECT_EQ(internet.exchanges()[2].sentAtMs, 23100u);
  EXPECT_EQ(sim::FormValue(internet.SentForms()[1], L"module"), L"error");
  EXPECT_EQ(sim::FormValue(internet.SentForms()[2], L"module"), L"done");
  EXPECT_EQ(internet.OpenHandles(), 0u);
  EXPECT_TRUE(internet.misuses().empty());  // nothing closed twice
  EXPECT_TRUE(sender.Idle());
  EXPECT_EQ(core.nowMs, 100u);
}

TEST_F(TelemetrySenderTest, AWorkerGivenUpOnSendsTheEventsBehindItOnceItReturns) {
  // The first worker runs only after its sending thread has given up on it
  // (cancelled, it sends nothing), and then goes on with the queue itself.
  process.SetWorkers(sim::SimProcess::Threads::kAtNextSleep);
  sender.Send(TelemetryEvent(L"start", nullptr, kRunId));
  sender.Send(TelemetryEvent(L"error", L"SvcStop", kRunId));
  EXPECT_FALSE(sender.Idle());
  process.SetWorkers(sim::SimProcess::Threads::kAtOnce);
  clock.Sleep(100);
  ASSERT_EQ(internet.SentForms().size(), 1u);
  EXPECT_EQ(sim::FormValue(internet.SentForms()[0], L"module"), L"error");
  EXPECT_TRUE(sender.Idle());
}

TEST_F(TelemetrySenderTest, ACancelledWorkerReachesWinInetOnlyToClose) {
  CancellableInternet cancelled(internet);
  cancelled.Cancel();
  auto* const handle = reinterpret_cast<platform::HInternet>(std::uintptr_t{1});
  std::uint32_t count = 0;
  std::uint8_t byte = 0;
  char text[2] = {};
  for (const std::function<bool()>& call : std::vector<std::function<bool()>>{
           [&] { return cancelled.AttemptConnect() == 0; },
           [&] { return cancelled.Open(L"ZANT", 0) != nullptr; },
           [&] { return cancelled.SetOption(handle, 2, 1); },
           [&] { return cancelled.Connect(handle, L"x", 80, 3) != nullptr; },
           [&] { return cancelled.OpenRequest(handle, L"POST", L"entt", 0) != nullptr; },
           [&] { return cancelled.AddRequestHeaders(handle, L"a: b\r\n", 0); },
           [&] { return cancelled.SendRequestEx(handle); },
           [&] { return cancelled.WriteFile(handle, &byte, 1, count); },
           [&] { return cancelled.EndRequest(handle) == 0; },
           [&] { return cancelled.QueryStatusCode(handle, count); },
           [&] { return cancelled.QueryInfoA(handle, 33, text, count); },
           [&] { return cancelled.ReadFile(handle, &byte, 1, count); }}) {
    EXPECT_FALSE(call());
  }
  EXPECT_TRUE(core.calls.empty());
  static_cast<void>(cancelled.CloseHandle(handle));
  EXPECT_EQ(core.calls.size(), 1u);
}

TEST_F(TelemetrySenderTest, WithoutAThreadTheQueuedEventIsDroppedAndTheNextTriesAgain) {
  process.refuses = true;
  sender.Send(TelemetryEvent(L"start", nullptr, kRunId));
  EXPECT_TRUE(sender.Idle());
  process.refuses = false;
  sender.Send(DoneEvent(0, kRunId, false));
  ASSERT_EQ(internet.SentForms().size(), 1u);
  EXPECT_EQ(sim::FormValue(internet.SentForms()[0], L"module"), L"done");
}

}  // namespace
}  // namespace telemetry
