#include "telemetry/telemetry_sender.h"

#include <optional>
#include <utility>

#include "telemetry/event_encoding.h"
#include "telemetry/http_post.h"

namespace telemetry {
namespace {

std::wstring Body(const TelemetryEvent& event) { return EncodeEvent(event) + kBodyMarker; }

// Redirects are not followed, so a redirect means the server took the event.
bool Delivered(std::uint32_t status) { return status == 200 || status == 301 || status == 302; }

}  // namespace

bool SendEvent(platform::Internet& internet, const TelemetryEvent& event) {
  std::wstring location;
  return Delivered(PostForm(internet, Body(event), false, location));
}

TelemetryEvent DoneEvent(std::int32_t errorCount, const std::wstring& runId, bool rebootNeeded) {
  TelemetryEvent event(L"done", nullptr, runId.c_str());
  // The counter only grows from zero, so it is sent as an unsigned value.
  const auto errors = static_cast<std::int64_t>(static_cast<std::uint32_t>(errorCount));
  event.AddCustomField(L"errors", FormatInt64(errors).c_str());
  event.AddCustomField(L"reboot", rebootNeeded ? L"Yes" : L"No");
  return event;
}

TelemetrySender::TelemetrySender(platform::Internet& internet, platform::ProcessInfo& process)
    : process_(process), queue_(std::make_shared<Queue>(internet)) {}

void TelemetrySender::Send(const TelemetryEvent& event) {
  {
    const std::lock_guard<std::mutex> lock(queue_->mutex);
    if (queue_->givenUp) return;
    queue_->bodies.push_back(Body(event));
    if (std::exchange(queue_->working, true)) return;
  }
  // Outside the lock: the thread takes it at once.
  if (!process_.StartThread([queue = queue_] { queue->Work(); })) {
    // Best effort: without a thread, nothing of this run is sent.
    const std::lock_guard<std::mutex> lock(queue_->mutex);
    queue_->bodies.clear();
    queue_->working = false;
  }
}

bool TelemetrySender::Idle() const {
  const std::lock_guard<std::mutex> lock(queue_->mutex);
  return !queue_->working;
}

void TelemetrySender::Queue::Work() {
  for (;;) {
    std::wstring body;
    {
      const std::lock_guard<std::mutex> lock(mutex);
      if (bodies.empty()) {
        working = false;
        return;
      }
      body = std::move(bodies.front());
      bodies.pop_front();
    }
    std::wstring location;
    // Whatever the server answers, the next event goes out the same.
    const std::optional<std::uint32_t> status = PostFormWithin(internet, body, false, location);
    if (!status) {
      const std::lock_guard<std::mutex> lock(mutex);
      givenUp = true;
      bodies.clear();
      working = false;
      return;
    }
  }
}

}  // namespace telemetry
