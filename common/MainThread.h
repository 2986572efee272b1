#pragma once
// The main thread's queue of posted methods (neAsynchronous / neSynchronous delivery). The main thread is the
// thread that started the program (or the one named by SetMainThread); it runs the posted methods when it
// calls ProcessMainThreadQueue. The console program never does, so it never uses those modes.

#include <chrono>
#include <cstddef>
#include <functional>

namespace brz {

// Makes the calling thread the main thread.
void SetMainThread();
bool IsMainThread();

// Posts method to the main thread's queue and returns at once.
void QueueToMainThread(std::function<void()> method);
// Runs method on the main thread and waits until it has run; an exception it raises is re-raised here.
// On the main thread itself it runs at once. While waiting, aAbandon (when given) is polled every 10 ms: when
// it returns true and the method has not started yet, the request is withdrawn and false is returned.
bool SynchronizeWithMainThread(const std::function<void()>& method, const std::function<bool()>& aAbandon = {});

// Runs every method posted so far, in order; returns how many ran. Call it on the main thread. An exception
// of a method propagates (the methods after it stay queued).
size_t ProcessMainThreadQueue();
// Waits until a method is queued (true) or the time-out passes (false).
bool WaitForMainThreadQueue(std::chrono::milliseconds timeout);
size_t MainThreadQueueCount();

}  // namespace brz
