#pragma once
// A scripted MQTT broker on loopback for engine tests: accepts the client, cuts what it sends into
// whole MQTT packets (recording them), and sends crafted bytes, whole or split so that they arrive in
// separate reads. Every call runs on the test's thread and is bounded by its time-out.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace brz::test {

class FakeBroker {
 public:
  FakeBroker();
  ~FakeBroker();
  FakeBroker(const FakeBroker&) = delete;
  FakeBroker& operator=(const FakeBroker&) = delete;

  int Port() const { return FPort; }
  std::string Url(const std::string& scheme = "tcp") const;

  // Waits for the next client; it becomes the current one (its unread bytes are dropped).
  bool Accept(std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // The next whole packet the client sent, or nothing on time-out or when the client closed.
  std::optional<Bytes> NextPacket(std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // The next packet whose type (first byte >> 4) is aType; packets of other types are skipped.
  std::optional<Bytes> NextPacketOfType(uint8_t aType, std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // Every packet that arrives within the window.
  std::vector<Bytes> PacketsWithin(std::chrono::milliseconds window);

  void Send(const Bytes& bytes);
  // Sends the bytes cut at the given offsets, pausing between the pieces so that each arrives in a
  // read of its own.
  void SendSplit(const Bytes& bytes, const std::vector<size_t>& cuts);
  void CloseClient();
  // True once the client has closed its side.
  bool WaitClientClosed(std::chrono::milliseconds timeout = std::chrono::seconds(5));

 private:
  // Reads what arrives until the deadline or until a whole packet is buffered.
  bool Fill(std::chrono::steady_clock::time_point deadline);
  std::optional<Bytes> TakePacket();

  int FListen = -1;
  int FClient = -1;
  int FPort = 0;
  bool FClosed = false;
  Bytes FPending;
};

// The fields of a CONNECT the client sent: the client identifier (a string in the payload) and the
// packet with that identifier replaced by "*", so that the rest can be compared byte for byte.
struct ConnectPacket {
  std::string ClientId;
  Bytes WithoutClientId;
};
ConnectPacket SplitConnect(const Bytes& packet);

}  // namespace brz::test
