#pragma once
// How components and timers raise their events.

#include <cstdint>

namespace brz {

// neNoSync: on the detecting thread; neAsynchronous: posted to the main thread's queue, the caller goes on;
// neSynchronous: run on the main thread while the caller waits (see common/MainThread.h).
enum class TwsNotifyEvent : uint8_t { neNoSync, neAsynchronous, neSynchronous };

}  // namespace brz
