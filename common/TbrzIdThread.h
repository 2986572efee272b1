#pragma once
// Worker thread that calls Run repeatedly while it is neither stopped nor terminated.
// The std::thread is launched by the first Start() (so a derived class is complete before Run can be
// reached); construct, configure, then Start. Terminate is final. The destructor terminates and joins,
// except on the thread itself, where it detaches (a thread never joins itself). A derived class whose Run
// uses its own members must call ShutdownThread() first thing in its destructor.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

namespace brz {

class TbrzIdThread {
 public:
  explicit TbrzIdThread(std::string aDebugName = {});
  virtual ~TbrzIdThread();
  TbrzIdThread(const TbrzIdThread&) = delete;
  TbrzIdThread& operator=(const TbrzIdThread&) = delete;

  // Launches the thread on the first call; later, resumes it when stopped and not terminated; otherwise
  // nothing.
  virtual void Start();
  // The thread pauses before its next Run until Start is called again.
  virtual void Stop();
  // Requests the end: the current Run finishes, sleeps (SleepFor) wake at once, no further Run.
  virtual void Terminate();
  // Terminate, then wait for the thread to end (Terminate only, when called on the thread itself).
  virtual void TerminateAndWaitFor();

  bool Terminated() const { return FTerminated.load(); }
  bool Stopped() const { return FStopped.load(); }
  // The thread was launched and has left its loop.
  bool Finished() const;
  // True when called on this object's thread.
  bool IsCurrentThread() const;
  // The operating system's thread id (gettid), 0 until the thread first runs.
  uint32_t ThreadId() const { return FThreadId.load(); }
  std::string DebugName() const;
  void SetDebugName(std::string value);
  // An event handler of the thread is running.
  bool IsExecuting() const { return FIsExecuting.load(); }

 protected:
  // One step of the thread's work.
  virtual void Run() = 0;
  // An exception escaped Run. Return true to go on looping, false to end the thread (the default: the thread
  // is terminated).
  virtual bool HandleRunException(std::exception_ptr error);
  void SetIsExecuting(bool value) { FIsExecuting.store(value); }
  // Sets IsExecuting for the lifetime of the scope (cleared also when the handler raises).
  class TExecutingScope {
   public:
    explicit TExecutingScope(TbrzIdThread& thread) : FThread(thread) { FThread.SetIsExecuting(true); }
    ~TExecutingScope() { FThread.SetIsExecuting(false); }
    TExecutingScope(const TExecutingScope&) = delete;
    TExecutingScope& operator=(const TExecutingScope&) = delete;

   private:
    TbrzIdThread& FThread;
  };
  // Sleeps up to duration, waking at once on Terminate or on an InterruptSleep after the call began;
  // false when terminated.
  bool SleepFor(std::chrono::milliseconds duration);
  // As SleepFor, but also returns at once when an InterruptSleep came after SleepGeneration() read aSince.
  bool SleepFor(std::chrono::milliseconds duration, uint64_t aSince);
  // Counts InterruptSleep calls.
  uint64_t SleepGeneration() const { return FSleepGeneration.load(); }
  // Ends the sleep under way early.
  void InterruptSleep();
  // Terminate and join (detach on the own thread). Safe to call more than once.
  void ShutdownThread();
  // For self-destruction (timers): asks the thread to delete this object when it ends. Returns false when
  // the thread already ended (or never ran); the caller then destroys the object itself.
  bool MarkFreeOnTerminate();

 private:
  void ThreadMain();

  mutable std::mutex FStateLock;  // guards FThread, FLaunched, FFinished, FFreeOnTerminate, FDebugName
  std::condition_variable FWake;  // signalled on Start, Stop, Terminate
  std::thread FThread;
  std::atomic<std::thread::id> FStdThreadId{};
  std::string FDebugName;
  std::atomic<uint32_t> FThreadId{0};
  std::atomic<bool> FIsExecuting{false};
  std::atomic<bool> FTerminated{false};
  std::atomic<uint64_t> FSleepGeneration{0};
  std::atomic<bool> FStopped{true};
  bool FLaunched = false;
  bool FFinished = false;
  bool FFreeOnTerminate = false;
};

}  // namespace brz
