#include "zorlet_core/log.h"

#include <atomic>

namespace zorlet_core::log {

namespace {
std::atomic<Sink> g_sink{nullptr};  // set once by the host at start-up
}

void set_sink(Sink sink) { g_sink.store(sink, std::memory_order_release); }

void emit(Level level, std::string_view target, std::string_view message) {
  if (Sink sink = g_sink.load(std::memory_order_acquire)) sink(level, target, message);
}

}  // namespace zorlet_core::log
