#pragma once
// A scripted TCP peer on loopback: accepts clients, records what they send, sends crafted bytes and
// closes on request. Every call runs on the test's thread and is bounded by its time-out.

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace brz::test {

class ScriptedPeer {
 public:
  // Listens on 127.0.0.1 (or ::1) on a free port.
  explicit ScriptedPeer(bool ipv6 = false, int backlog = 16);
  ~ScriptedPeer();
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  int Port() const { return FPort; }
  std::string Host() const { return FIPv6 ? "::1" : "127.0.0.1"; }
  std::string Url(const std::string& scheme) const;

  // Waits for the next client; it becomes the current one. False on time-out.
  bool Accept(std::chrono::milliseconds timeout = std::chrono::seconds(5));
  int AcceptedCount() const { return FAccepted; }
  // Sends to the current client.
  void Send(const Bytes& bytes);
  void Send(const std::string& text) { Send(ToBytes(text)); }
  // Reads until at least count bytes have arrived from the current client in total (or time-out);
  // returns everything received so far.
  Bytes Receive(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // Reads whatever arrives within the window (for "nothing more was sent" checks).
  Bytes ReceiveFor(std::chrono::milliseconds window);
  // Everything received from the current client so far.
  const Bytes& Received() const { return FReceived; }
  // True once the current client has closed its side (reading what remains).
  bool WaitClientClosed(std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // Closes the current client connection.
  void CloseClient();
  // Stops listening (later connects are refused).
  void StopListening();

 private:
  int FListen = -1;
  int FClient = -1;
  int FPort = 0;
  int FAccepted = 0;
  bool FIPv6;
  bool FClientClosed = false;
  Bytes FReceived;
};

// Opens a listener on loopback whose accept queue is full, so a further connect neither succeeds
// nor is refused: the connecting side runs into its time-out.
class BlackHolePeer {
 public:
  BlackHolePeer();
  ~BlackHolePeer();
  BlackHolePeer(const BlackHolePeer&) = delete;
  BlackHolePeer& operator=(const BlackHolePeer&) = delete;
  int Port() const { return FPort; }

 private:
  int FListen = -1;
  int FPort = 0;
  std::vector<int> FFillers;
};

}  // namespace brz::test
