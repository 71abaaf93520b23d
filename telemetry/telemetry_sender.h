// Telemetry goes out beside the run: the run hands each event over and goes
// on, since the network it runs on is often the one the filter bends, and a
// request may be swallowed whole.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "platform/internet.h"
#include "platform/process.h"
#include "telemetry/telemetry_event.h"

namespace telemetry {

// One exchange for the event, on the calling thread, within PostForm's
// deadline; true when the server answered 200, 301 or 302.
bool SendEvent(platform::Internet& internet, const TelemetryEvent& event);

// The "done" event with the error count and the reboot flag.
TelemetryEvent DoneEvent(std::int32_t errorCount, const std::wstring& runId, bool rebootNeeded);

// Sends the events of a run in the order they are handed over, one exchange
// at a time, on a thread of its own that lives while there is something to
// send. Once an exchange has been given up on, the network is taken to
// swallow requests: what is queued and what comes later is dropped, so that
// at most one exchange is ever left inside WinINet.
class TelemetrySender {
 public:
  TelemetrySender(platform::Internet& internet, platform::ProcessInfo& process);

  // Queues the event's request and returns at once.
  void Send(const TelemetryEvent& event);
  // Nothing is queued or being sent (or sending was given up).
  bool Idle() const;

 private:
  // What the sending thread shares with the run; it may outlive the sender.
  struct Queue {
    explicit Queue(platform::Internet& network) : internet(network) {}
    // Sends until the queue is empty or an exchange is given up on.
    void Work();

    platform::Internet& internet;
    mutable std::mutex mutex;
    std::deque<std::wstring> bodies;
    bool working = false;  // a thread is sending, or about to
    bool givenUp = false;
  };

  platform::ProcessInfo& process_;
  std::shared_ptr<Queue> queue_;
};

}  // namespace telemetry
