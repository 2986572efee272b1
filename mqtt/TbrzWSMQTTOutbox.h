#pragma once
// The QoS 1/2 publishes the engine has accepted but not yet put on the wire, and the in-flight
// window that holds them back: at most Window() publishes are unacknowledged at once (the engine's
// QoS list), the rest wait here in order and go out as acknowledgements come back. While no session
// is up (no connection, or CONNACK not yet received) every QoS 1/2 publish waits here, bounded by
// Maximum(); beyond it a publish is refused with a notice. The outbox also counts what was given up
// (refused, dropped, rejected by the broker), so that the end of input can say whether anything was
// lost.
//
// Threads: publishes come from application threads, Pump from the read thread (after an
// acknowledgement or a CONNACK). One lock guards the queue; it is never held while sending (the
// transport's locks may be held by a thread that calls into the outbox). One thread at a time sends,
// so publishes leave in the order they were made. Lock order: the outbox, then the QoS list.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "mqtt/TbrzWSMQTTOptions.h"

namespace brz {

class TbrzWSMQTTOutbox {
 public:
  // What the outbox needs from the engine.
  struct TLink {
    // Unacknowledged publishes now (the QoS list).
    std::function<int32_t()> InFlight;
    // Takes a packet identifier, puts the message on the QoS list and sends it; returns the identifier.
    std::function<uint16_t(TbrzWSMQTTQoSItem& aItem)> Send;
    // A publish the outbox gives up; one line for the people at the console.
    std::function<void(const std::string& aText)> Notice;
  };

  static constexpr int32_t kDefaultMaximum = 10000;

  explicit TbrzWSMQTTOutbox(TLink aLink);
  ~TbrzWSMQTTOutbox();
  TbrzWSMQTTOutbox(const TbrzWSMQTTOutbox&) = delete;
  TbrzWSMQTTOutbox& operator=(const TbrzWSMQTTOutbox&) = delete;

  // A QoS 1/2 publish: sent at once when a session is up, nothing waits and the window has room
  // (returns its identifier); otherwise queued at the end (returns 0). While a session is up and the
  // queue is full the caller waits for room; without a session the publish is refused with a notice
  // (returns 0) and counted as given up.
  uint16_t Submit(std::unique_ptr<TbrzWSMQTTQoSItem> aItem);
  // Sends waiting publishes while the session is up and the window has room.
  void Pump();
  // A CONNACK accepted the session: publishes may go out, at most aWindow unacknowledged at once.
  void SessionReady(int32_t aWindow);
  // No session from now on (the transport went, or a new one awaits its CONNACK).
  void SessionLost();
  bool Ready() const;
  // Puts publishes back at the front, in the given order (they go out before those already waiting).
  void Requeue(std::vector<std::unique_ptr<TbrzWSMQTTQoSItem>> aItems);
  // Wakes a publisher waiting for room; later publishes are refused. For the engine's destruction.
  void Close();

  // Publishes waiting (not yet sent).
  int32_t Count() const;
  int32_t Window() const;
  int32_t Maximum() const;
  void SetMaximum(int32_t aValue);

  // Publishes given up so far: refused here, dropped for want of a connection, rejected by the
  // broker, or flows a new session could not complete.
  int64_t GivenUp() const;
  void NoteGivenUp(const std::string& aNotice);
  void NoteRejected();

  // QoS 2 flows whose PUBREC arrived: the broker has the message.
  void NotePubRec(uint16_t aPacketIdentifier);
  void ForgetPubRec(uint16_t aPacketIdentifier);
  // Returns the noted flows and forgets them (a new session cannot complete them).
  std::unordered_set<uint16_t> TakePubRecs();

 private:
  bool HasRoom() const;  // FLock held
  // Sends waiting publishes while there is room; returns the identifier aMine was sent with (0 when
  // it still waits, or another thread sends). Releases guard while sending.
  uint16_t Drain(std::unique_lock<std::mutex>& guard, const TbrzWSMQTTQoSItem* aMine);

  TLink FLink;
  mutable std::mutex FLock;  // guards every field below
  std::condition_variable FRoom;
  std::deque<std::unique_ptr<TbrzWSMQTTQoSItem>> FItems;
  std::unordered_set<uint16_t> FPubRecs;
  bool FReady = false;
  bool FDraining = false;  // a thread is sending waiting publishes
  bool FClosed = false;
  int32_t FWindow = 1;
  int32_t FMaximum = kDefaultMaximum;
  int64_t FGivenUp = 0;
};

}  // namespace brz
