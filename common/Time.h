#pragma once
// Clocks, program location and the TLS library path.

#include <cstdint>
#include <string>
#include <string_view>

namespace brz {

// Milliseconds since system start, monotonic (CLOCK_MONOTONIC).
uint64_t TickCount64();
// newTick - oldTick, both taken as unsigned 32-bit values and subtracted in 64 bits (so it may be negative
// after a 32-bit wrap).
int64_t TickDiff(uint64_t oldTick, uint64_t newTick);

// Directory of the program's own file, with a trailing '/'.
std::string ApplicationPath();

// Where the TLS library loader would look for the OpenSSL libraries. OpenSSL is linked into this build, so
// the path is only stored and reported (thread-safe).
void SetTLSLibraryPath(std::string_view path);
std::string TLSLibraryPath();

// Local date and time with milliseconds.
struct TbrzDateTime {
  int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
};
TbrzDateTime LocalNow();
// Formats with the tokens yyyy, yy, mm, dd, hh, nn, ss, zzz; other characters are copied.
// FormatDateTime("yyyymmddhhnnsszzz", t) gives 17 digits.
std::string FormatDateTime(std::string_view format, const TbrzDateTime& time);
std::string FormatLocalNow(std::string_view format);

}  // namespace brz
