#include "common/MainThread.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

namespace brz {

namespace {

struct TMainThreadRequest {
  std::function<void()> Method;
  bool Synchronous = false;
  bool Started = false;  // guarded by the queue lock
  bool Done = false;     // guarded by the queue lock
  std::exception_ptr Error;
};

struct TMainThreadQueue {
  std::mutex Lock;                  // guards Requests and the requests' Started/Done/Error
  std::condition_variable Changed;  // a request was queued or finished
  std::deque<std::shared_ptr<TMainThreadRequest>> Requests;
};

TMainThreadQueue& Queue() {
  static TMainThreadQueue queue;
  return queue;
}

// Dynamic initialisation runs on the thread that starts the program.
std::atomic<std::thread::id> gMainThread{std::this_thread::get_id()};

}  // namespace

void SetMainThread() { gMainThread.store(std::this_thread::get_id()); }

bool IsMainThread() { return gMainThread.load() == std::this_thread::get_id(); }

void QueueToMainThread(std::function<void()> method) {
  auto request = std::make_shared<TMainThreadRequest>();
  request->Method = std::move(method);
  TMainThreadQueue& q = Queue();
  {
    std::lock_guard<std::mutex> guard(q.Lock);
    q.Requests.push_back(std::move(request));
  }
  q.Changed.notify_all();
}

bool SynchronizeWithMainThread(const std::function<void()>& method, const std::function<bool()>& aAbandon) {
  if (IsMainThread()) {
    method();
    return true;
  }
  auto request = std::make_shared<TMainThreadRequest>();
  request->Method = method;
  request->Synchronous = true;
  TMainThreadQueue& q = Queue();
  std::unique_lock<std::mutex> guard(q.Lock);
  q.Requests.push_back(request);
  q.Changed.notify_all();
  while (!request->Done) {
    q.Changed.wait_for(guard, std::chrono::milliseconds(10));
    if (!request->Done && !request->Started && aAbandon) {
      guard.unlock();
      const bool abandon = aAbandon();
      guard.lock();
      if (abandon && !request->Started && !request->Done) {
        q.Requests.erase(std::remove(q.Requests.begin(), q.Requests.end(), request), q.Requests.end());
        return false;
      }
    }
  }
  // Take the exception over, so it is released on this thread only.
  std::exception_ptr error = std::move(request->Error);
  request->Error = nullptr;
  guard.unlock();
  if (error) std::rethrow_exception(error);
  return true;
}

size_t ProcessMainThreadQueue() {
  TMainThreadQueue& q = Queue();
  size_t count = 0;
  for (;;) {
    std::shared_ptr<TMainThreadRequest> request;
    {
      std::lock_guard<std::mutex> guard(q.Lock);
      if (q.Requests.empty()) break;
      request = q.Requests.front();
      q.Requests.pop_front();
      request->Started = true;
    }
    ++count;
    if (!request->Synchronous) {
      request->Method();
      continue;
    }
    std::exception_ptr error;
    try {
      request->Method();
    } catch (...) {  // handed to the waiting thread, which re-raises it
      error = std::current_exception();
    }
    {
      std::lock_guard<std::mutex> guard(q.Lock);
      request->Error = std::move(error);
      request->Done = true;
    }
    q.Changed.notify_all();
  }
  return count;
}

bool WaitForMainThreadQueue(std::chrono::milliseconds timeout) {
  TMainThreadQueue& q = Queue();
  std::unique_lock<std::mutex> guard(q.Lock);
  return q.Changed.wait_for(guard, timeout, [&q] { return !q.Requests.empty(); });
}

size_t MainThreadQueueCount() {
  TMainThreadQueue& q = Queue();
  std::lock_guard<std::mutex> guard(q.Lock);
  return q.Requests.size();
}

}  // namespace brz
