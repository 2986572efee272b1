#pragma once
// Recursive lock with try-acquire; guard it with std::lock_guard / std::unique_lock (it is Lockable).

#include <mutex>

namespace brz {

class TbrzCriticalSection {
 public:
  void Acquire() { FMutex.lock(); }
  void Release() { FMutex.unlock(); }
  bool TryAcquire() { return FMutex.try_lock(); }
  // Lockable names for RAII guards.
  void lock() { FMutex.lock(); }
  void unlock() { FMutex.unlock(); }
  bool try_lock() { return FMutex.try_lock(); }

 private:
  std::recursive_mutex FMutex;
};

using TbrzLock = std::lock_guard<TbrzCriticalSection>;

}  // namespace brz
