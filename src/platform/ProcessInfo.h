#pragma once

#include <QString>
#include <cstdint>

// What the running process knows about itself: where its executable lies, its first argument
// and the millisecond clock.
namespace platform {

// Full path of the running executable, as /proc/self/exe names it (symbolic links resolved).
// Empty when the link cannot be read.
QString ExecutablePath();

// The first command-line argument after the program name, decoded from the locale's character
// set; empty when there is none. The shell has already split the command line and removed its
// quotes, so argv[1] is the argument as the user meant it.
QString FirstArgument(int argc, const char* const* argv);

// Milliseconds of CLOCK_MONOTONIC, kept as 32-bit unsigned: it wraps after about 49.7 days, so a
// duration is the difference of two readings modulo 2^32 (unsigned subtraction does exactly
// that). Safe on any thread.
uint32_t TickCount();

} // namespace platform
