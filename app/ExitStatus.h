#pragma once
// The program's exit status at end of input. A refused connection ends with the broker's CONNACK
// reason code (1-5 under 3.1.1, 128-162 under 5.0), so the codes of our own stay clear of those.

namespace brz::exitstatus {

inline constexpr int kOK = 0;
inline constexpr int kFailure = 1;           // any other failure
inline constexpr int kUnacknowledged = 6;    // QoS 1/2 publishes left unacknowledged or unsent
inline constexpr int kWaitTimedOut = 7;      // a wait command timed out

}  // namespace brz::exitstatus
