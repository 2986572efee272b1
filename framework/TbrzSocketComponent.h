#pragma once
// Lock-holding base of every client and server component: a main lock, six indexed locks and the
// notification mode.

#include <array>
#include <atomic>

#include "common/NotifyEvent.h"
#include "common/TbrzComponent.h"
#include "common/TbrzCriticalSection.h"
#include "transport/TbrzSocketConnection.h"

namespace brz {

class TbrzSocketComponent_Base : public TbrzComponent_Base {
 public:
  static constexpr int kCSCount = 6;

  virtual void EnterCS() { FCS.Acquire(); }
  virtual void EnterCS(int index) { FCSArray.at(static_cast<size_t>(index)).Acquire(); }
  virtual void LeaveCS() { FCS.Release(); }
  virtual void LeaveCS(int index) { FCSArray.at(static_cast<size_t>(index)).Release(); }
  virtual bool HasCS() const { return true; }
  virtual bool HasCS(int index) const { return index >= 0 && index < kCSCount; }
  TbrzCriticalSection& CS() { return FCS; }

  TwsNotifyEvent NotifyEvents() const { return FNotifyEvents.load(); }
  virtual void SetNotifyEvents(TwsNotifyEvent value) { FNotifyEvents = value; }

  // Marks the connection as freed and drops this reference; the object goes with its last holder.
  virtual void FreeConnection(TbrzConnectionPtr& connection) {
    if (!connection) return;
    connection->Free();
    connection.reset();
  }

 protected:
  TbrzCriticalSection FCS;
  std::array<TbrzCriticalSection, kCSCount> FCSArray;
  std::atomic<TwsNotifyEvent> FNotifyEvents{TwsNotifyEvent::neNoSync};
};
using TbrzTCPComponent_Base = TbrzSocketComponent_Base;

}  // namespace brz
