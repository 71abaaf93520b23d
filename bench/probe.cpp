// Times what the tool does, from inside a Windows process (run under Wine by
// scripts/bench).
//
//   tessel-bench.exe post COUNT   COUNT telemetry exchanges of a start-event
//                                 body, one after the other in this process
//   tessel-bench.exe noop         ends at once: the cost of starting a process
//
// `post` writes one line per exchange: "post INDEX STATUS MICROSECONDS", INDEX
// counting from 1. The first exchange of a process is the one that pays for
// WinINet's first use, as the tool's start event does.
// The platform layer's view of the Windows headers, before its interfaces.
#include "platform/win32/win32_api.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/win32/win32_facilities.h"
#include "telemetry/event_encoding.h"
#include "telemetry/http_post.h"
#include "telemetry/telemetry_event.h"

namespace {

long long Ticks() {
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

int Post(long count) {
  LARGE_INTEGER frequency{};
  if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0) {
    std::fprintf(stderr, "no performance counter\n");
    return 1;
  }
  platform::win32::Win32Identifiers identifiers;
  platform::win32::Win32Internet internet;
  // The start event exactly as the tool builds it: a fresh run id as build.
  const std::wstring runId = identifiers.CreateUuidString();
  const telemetry::TelemetryEvent event(L"start", nullptr, runId.c_str());
  const std::wstring body = telemetry::EncodeEvent(event) + telemetry::kBodyMarker;
  for (long index = 1; index <= count; ++index) {
    std::wstring location;
    const long long begin = Ticks();
    const std::uint32_t status = telemetry::PostForm(internet, body, false, location);
    const long long elapsed = Ticks() - begin;
    const long long micros = elapsed * 1000000 / frequency.QuadPart;
    std::printf("post %ld %lu %lld\n", index, static_cast<unsigned long>(status), micros);
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "noop") == 0) return 0;
  if (argc == 3 && std::strcmp(argv[1], "post") == 0) {
    char* end = nullptr;
    const long count = std::strtol(argv[2], &end, 10);
    if (end != argv[2] && *end == '\0' && count > 0) return Post(count);
  }
  std::fprintf(stderr, "usage: tessel-bench.exe post COUNT | noop\n");
  return 2;
}
