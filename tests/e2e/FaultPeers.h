#pragma once
// Hostile peers for the fault tests: a scripted broker (plain TCP or WebSocket) that answers the
// CONNECT and then misbehaves, and helpers around a running brzmqtt. Everything is bounded in time.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TestSupport.h"

namespace brz::fault {

using Bytes = test::Bytes;
using namespace std::chrono_literals;

// VmRSS of a process in KiB (0 when it is gone).
long RssKiB(pid_t pid);

// A broker on 127.0.0.1 that takes one client. With websocket it answers the upgrade (sub-protocol
// "mqtt") and wraps everything it sends in unmasked binary frames unless sent raw.
class HostileBroker {
 public:
  explicit HostileBroker(bool websocket = false);
  ~HostileBroker();
  HostileBroker(const HostileBroker&) = delete;
  HostileBroker& operator=(const HostileBroker&) = delete;

  int Port() const { return FPort; }
  std::string Url() const;
  // Accepts the client, (upgrades,) reads its CONNECT and answers CONNACK 20 02 00 00.
  bool AcceptAndAcknowledge(std::chrono::milliseconds timeout = 10s);
  // Bytes as one MQTT payload (a binary frame on WebSocket).
  bool Send(const Bytes& bytes);
  // Bytes as they are, whatever the transport.
  bool SendRaw(const Bytes& bytes);
  // Sends packet repeatedly from a thread until count copies are out or Stop; returns at once.
  void StartFlood(const Bytes& packet, size_t count);
  size_t Flooded() const { return FFlooded.load(); }
  void StopFlood();
  void CloseClient();
  // True once the client closed its side (draining what it sends), within the time-out.
  bool WaitClientClosed(std::chrono::milliseconds timeout = 10s);

 private:
  bool SendAll(const uint8_t* data, size_t size, std::chrono::milliseconds timeout);
  bool ReadSome(Bytes& into, std::chrono::steady_clock::time_point deadline);

  bool FWebSocket;
  int FListen = -1;
  int FClient = -1;
  int FPort = 0;
  std::thread FFlood;
  std::atomic<bool> FStopFlood{false};
  std::atomic<size_t> FFlooded{0};
};

// A WebSocket frame as a server sends it (unmasked), with the shortest length form.
Bytes ServerFrame(uint8_t firstByte, const Bytes& payload);

// A running brzmqtt whose banner has been read.
class Console {
 public:
  explicit Console(const std::vector<std::string>& args = {});
  // Shows what the program wrote to its error output when the test failed (a sanitizer report).
  ~Console();
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;
  test::Process& Child() { return FProcess; }
  void Send(const std::string& line) { FProcess.WriteLine(line); }
  // Reads lines until one contains needle; the lines read are appended to seen.
  std::optional<std::string> WaitFor(const std::string& needle, std::chrono::milliseconds timeout = 10s,
                                     std::vector<std::string>* seen = nullptr);
  // Asks for the MQTT 5.0 options line and waits for it (past any other lines), up to maxLines.
  bool Responsive(std::chrono::milliseconds timeout = 10s, std::vector<std::string>* seen = nullptr);
  void Open(const std::string& url);
  // EXIT, reading what is still printed, then the exit status (-1 when it did not end in time).
  int Exit(std::chrono::milliseconds timeout = 10s);

 private:
  test::Process FProcess;
};

}  // namespace brz::fault

namespace brz::fault {

// A raw TCP operator of the remote-control server (its first bytes are no HTTP request).
class Operator {
 public:
  explicit Operator(int port);
  ~Operator();
  Operator(const Operator&) = delete;
  Operator& operator=(const Operator&) = delete;
  bool Connected() const { return FFd >= 0; }
  bool Send(const std::string& bytes);
  // The next line the program sent (without its line end), or nothing on time-out or close.
  std::optional<std::string> ReadLine(std::chrono::milliseconds timeout = 10s);
  // Reads until a line contains needle.
  bool WaitFor(const std::string& needle, std::chrono::milliseconds timeout = 10s);
  // True once the program closed the connection (what it still sends is dropped).
  bool WaitClosed(std::chrono::milliseconds timeout = 10s);
  // Closes with a reset instead of an orderly end.
  void Abort();
  void Close();

 private:
  int FFd = -1;
  std::string FBuffer;
  bool FEnded = false;
};

}  // namespace brz::fault
