#pragma once
// A burst of work on one thread: the handling of one read of buffered input. Output produced inside
// a burst may be collected and handed on once when the outermost burst of the thread ends, so a read
// that yields several lines costs one hand-off instead of one per line.

namespace brz {

class TbrzBurst {
 public:
  TbrzBurst();
  // Ends the burst; the outermost one runs the hooks registered in it (in order). Hooks must not throw.
  ~TbrzBurst();
  TbrzBurst(const TbrzBurst&) = delete;
  TbrzBurst& operator=(const TbrzBurst&) = delete;

  // True inside a burst of the calling thread.
  static bool Active();
  // Runs hook when the calling thread's outermost burst ends (only valid while Active()).
  static void AtEnd(void (*hook)());
  // Runs the hooks registered so far without ending the burst: called before the thread waits,
  // so what it collected never waits with it.
  static void HandOnNow();
  // True when hooks wait for the end of the calling thread's burst.
  static bool Pending();
};

}  // namespace brz
