// Kernel sinks: where the module's message boxes and debug lines go.
//
// A message box ("Unsupported CLEVEL", caption "Error") by default writes
// "Error: <text>" to standard error; a debug line is silent unless KVNTF_DEBUG is set.
// Applications and tests install their own sinks (null restores the default).
#pragma once

#include <cstdint>

namespace kernel {

using MessageSink = void (*)(void* user, const char* text, const char* caption);
using DebugSink = void (*)(void* user, const char* text);

void set_message_sink(MessageSink sink, void* user);
void set_debug_sink(DebugSink sink, void* user);

void message_box(const char* text, const char* caption);
void debug_output(const char* text);

// The toolkit's load hook: called with the module's own KAVO_Load, returns its verdict.
using LoadEntry = std::int32_t (*)();
std::int32_t load_hook(LoadEntry entry);

}  // namespace kernel
