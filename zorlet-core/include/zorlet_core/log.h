// Diagnostic log lines (warnings and information) with a level and a target
// naming the module, e.g. "zorlet_store::backend::lmdb".
//
// The core installs no sink: lines are dropped unless a host sets one. The
// Python module sets a sink once at import that forwards to Python's logging.
#pragma once

#include <string_view>

namespace zorlet_core::log {

enum class Level { Info, Warn };

using Sink = void (*)(Level level, std::string_view target, std::string_view message);

void set_sink(Sink sink);
void emit(Level level, std::string_view target, std::string_view message);

inline void warn(std::string_view target, std::string_view message) { emit(Level::Warn, target, message); }
inline void info(std::string_view target, std::string_view message) { emit(Level::Info, target, message); }

}  // namespace zorlet_core::log
