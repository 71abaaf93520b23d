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

// An exchange still running this long after its start is cancelled, whatever
// the proxy, the name lookup or the server are doing: WinINet's own time-outs
// leave the first two out, apply per address, and may fire late or not at
// all. The sending thread then waits the grace for the worker to wind down
// before it leaves the worker to itself.
inline constexpr std::uint32_t kExchangeDeadlineMilliseconds = 14000;
inline constexpr std::uint32_t kCancelGraceMilliseconds = 1000;

// One exchange for the event, on the calling thread: the encoded event and
// its marker posted with PostForm. True when the server answered 200, 301 or
// 302.
bool SendEvent(platform::Internet& internet, const TelemetryEvent& event);

// The "done" event with the error count and the reboot flag.
TelemetryEvent DoneEvent(std::int32_t errorCount, const std::wstring& runId, bool rebootNeeded);

// Sends the events of a run in the order they are handed over, one exchange
// at a time, each on a worker thread of its own, from a sending thread that
// lives while there is something to send. An exchange still running at its
// deadline is cancelled and given up on; the events behind it wait until its
// worker has returned from WinINet, and then go out in order. So at most one
// exchange is ever inside WinINet, and a slow exchange delays the events
// behind it without dropping them.
class TelemetrySender {
 public:
  TelemetrySender(platform::Internet& internet, platform::Process& process);

  // Queues the event and returns at once.
  void Send(const TelemetryEvent& event);
  // Nothing is queued or being sent.
  [[nodiscard]] bool Idle() const;

 private:
  // What the sending thread shares with the run; it may outlive the sender.
  // The facilities last as long as the process.
  struct Queue {
    Queue(platform::Internet& network, platform::Process& threads)
        : internet(network), process(threads) {}

    platform::Internet& internet;
    platform::Process& process;
    mutable std::mutex mutex;
    std::deque<TelemetryEvent> events;
    // A thread is sending, is about to, or will once its exchange returns.
    bool working = false;
  };

  // Sends until the queue is empty, or until it leaves the rest to the worker
  // of an exchange given up on, which goes on with it once it has returned.
  static void Work(const std::shared_ptr<Queue>& queue);

  std::shared_ptr<Queue> queue_;
};

}  // namespace telemetry
