#pragma once
// A scripted WebSocket server on loopback for client tests: reads the upgrade request, answers it
// (correctly or with crafted lines), then reads the client's frames and sends crafted bytes. Every call
// runs on the test's thread and is bounded by its time-out.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/ScriptedPeer.h"

namespace brz::test {

struct WSFrame {
  uint8_t OpCode = 0;
  bool Fin = false;
  bool Masked = false;
  Bytes Payload;  // unmasked
  std::string Text() const { return ToText(Payload); }
};

class FakeWSPeer {
 public:
  FakeWSPeer() = default;
  int Port() const { return FPeer.Port(); }
  std::string Url(const std::string& path = "") const { return FPeer.Url("ws") + path; }
  ScriptedPeer& Raw() { return FPeer; }

  bool Accept(std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // The request header up to its empty line (the lines without line ends); empty on time-out.
  std::vector<std::string> ReadRequest(std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // Value of a request header (name compared ignoring case), or empty.
  std::string Header(const std::string& name) const;
  // Sends the 101 answer with the accept value of the request's key, the given sub-protocol (none when
  // empty), extra lines, then extra bytes right after the empty line.
  void Answer(const std::string& protocol = "mqtt", const std::vector<std::string>& extraLines = {},
              const Bytes& after = {});
  // Sends these lines and the empty line as they are.
  void AnswerLines(const std::vector<std::string>& lines);
  std::string AcceptValue() const;

  // The next frame the client sent, or none on time-out.
  std::optional<WSFrame> ReadFrame(std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // Raw bytes received after the request that were not taken by ReadFrame.
  Bytes Unread();
  void Send(const Bytes& bytes) { FPeer.Send(bytes); }
  // A server frame (unmasked).
  static Bytes Frame(uint8_t opCodeAndFin, const Bytes& payload);
  bool WaitClientClosed(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    return FPeer.WaitClientClosed(timeout);
  }
  void CloseClient() { FPeer.CloseClient(); }

 private:
  ScriptedPeer FPeer;
  std::vector<std::string> FRequest;
  size_t FOffset = 0;
};

}  // namespace brz::test
