#include "telemetry/telemetry_sender.h"

#include <optional>
#include <utility>

#include "platform/ascii.h"
#include "telemetry/cancellable_internet.h"
#include "telemetry/event_encoding.h"
#include "telemetry/http_post.h"

namespace telemetry {
namespace {

// Redirects are not followed, so a redirect means the server took the event.
bool Delivered(std::uint32_t status) { return status == 200 || status == 301 || status == 302; }

// What the sending thread and the worker of one exchange share; it lives as
// long as either of them needs it.
struct WorkerExchange {
  explicit WorkerExchange(platform::Internet& platform) : internet(platform) {}

  CancellableInternet internet;
  std::mutex mutex;
  bool ended = false;       // the worker has returned from WinINet
  bool handedOver = false;  // the sending thread has left the queue to it
};

}  // namespace

bool SendEvent(platform::Internet& internet, const TelemetryEvent& event) {
  std::wstring location;
  return Delivered(PostForm(internet, EncodeEvent(event) + kBodyMarker, false, location));
}

TelemetryEvent DoneEvent(std::int32_t errorCount, const std::wstring& runId, bool rebootNeeded) {
  TelemetryEvent event(L"done", nullptr, runId.c_str());
  // The counter only grows from zero, so it is sent as an unsigned value.
  const auto errors = static_cast<std::int64_t>(static_cast<std::uint32_t>(errorCount));
  event.AddCustomField(L"errors", platform::FormatInt64(errors).c_str());
  event.AddCustomField(L"reboot", rebootNeeded ? L"Yes" : L"No");
  return event;
}

TelemetrySender::TelemetrySender(platform::Internet& internet, platform::Process& process)
    : queue_(std::make_shared<Queue>(internet, process)) {}

void TelemetrySender::Send(const TelemetryEvent& event) {
  {
    const std::lock_guard<std::mutex> lock(queue_->mutex);
    queue_->events.push_back(event);
    if (std::exchange(queue_->working, true)) return;
  }
  // Outside the lock: the thread takes it at once.
  if (!queue_->process.StartThread([queue = queue_] { Work(queue); })) {
    // Best effort: the events in the queue now (no thread was working, so
    // only this one) are dropped, and the next hand-over tries again.
    const std::lock_guard<std::mutex> lock(queue_->mutex);
    queue_->events.clear();
    queue_->working = false;
  }
}

bool TelemetrySender::Idle() const {
  const std::lock_guard<std::mutex> lock(queue_->mutex);
  return !queue_->working;
}

void TelemetrySender::Work(const std::shared_ptr<Queue>& queue) {
  for (;;) {
    std::optional<TelemetryEvent> event;
    {
      const std::lock_guard<std::mutex> lock(queue->mutex);
      if (queue->events.empty()) {
        queue->working = false;
        return;
      }
      event.emplace(std::move(queue->events.front()));
      queue->events.pop_front();
    }
    const auto exchange = std::make_shared<WorkerExchange>(queue->internet);
    bool givenUp = false;
    const bool inTime = queue->process.RunWithin(
        [exchange, queue, event = std::move(*event)] {
          // Whatever the server answers, the next event goes out the same.
          SendEvent(exchange->internet, event);
          bool goOn = false;
          {
            const std::lock_guard<std::mutex> lock(exchange->mutex);
            exchange->ended = true;
            goOn = exchange->handedOver;
          }
          if (goOn) Work(queue);
        },
        kExchangeDeadlineMilliseconds,
        [&exchange, &givenUp] {
          givenUp = true;
          exchange->internet.Cancel();
        },
        kCancelGraceMilliseconds);
    // Without a worker thread nothing of the exchange ran: the next event
    // goes out as after any failed exchange.
    if (inTime || !givenUp) continue;
    // Given up on: the worker is either out of WinINet already, or will go on
    // with the queue itself once its call returns. Deciding under the lock
    // leaves exactly one of the two threads with the queue, also when the
    // worker ends at this very moment.
    const std::lock_guard<std::mutex> lock(exchange->mutex);
    if (!exchange->ended) {
      exchange->handedOver = true;
      return;
    }
  }
}

}  // namespace telemetry
