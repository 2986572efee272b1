#pragma once
// A server on an ephemeral loopback port with its events recorded, and a blocking raw peer.

#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#include "server/TbrzWSHTTPServer.h"

namespace brz::test {

class RecordingServer {
 public:
  // acceptRaw: unknown protocols become raw TCP connections, as the remote-control intake does.
  explicit RecordingServer(bool acceptRaw = true, bool start = true);
  ~RecordingServer();
  TbrzWebSocketHTTPServer& Server() { return *FServer; }
  void Start();
  int Port() const { return FPort; }

  std::vector<std::string> Errors();
  std::vector<std::string> Exceptions();
  std::vector<std::string> Messages();
  std::vector<std::string> Binaries();
  int Connects();
  int Disconnects();
  int TCPConnects();
  // Polls (bounded) until pred holds; returns its final value.
  template <class F>
  bool WaitFor(F pred, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    auto end = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
      if (std::chrono::steady_clock::now() >= end) return pred();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }

 private:
  std::unique_ptr<TbrzWebSocketHTTPServer> FServer;
  int FPort = 0;
  std::mutex FLock;  // guards the records
  std::vector<std::string> FErrors, FExceptions, FMessages, FBinaries;
  int FConnects = 0, FDisconnects = 0, FTCPConnects = 0;
};

// A blocking loopback TCP peer.
class RawPeer {
 public:
  explicit RawPeer(int port);
  ~RawPeer();
  RawPeer(const RawPeer&) = delete;
  RawPeer& operator=(const RawPeer&) = delete;
  int Fd() const { return FFd; }
  void Send(const std::string& bytes);
  // Reads until count bytes arrived, the peer closed, or time-out.
  std::string Read(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // Reads until the text contains needle (or close / time-out).
  std::string ReadUntil(const std::string& needle, std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // True when the server closed the connection (EOF or reset) within timeout; bytes still arriving
  // before the close are appended to rest.
  bool Closed(std::chrono::milliseconds timeout = std::chrono::seconds(5), std::string* rest = nullptr);

 private:
  int FFd = -1;
  std::string FPending;
};

// A masked client frame (RFC 6455) with a fixed key.
std::string MaskedFrame(uint8_t opcode, const std::string& payload, bool fin = true);
// The RFC 6455 upgrade request for the sample key, with extra header lines.
std::string UpgradeRequest(const std::string& extra = "", const std::string& version = "HTTP/1.1");
// Connects and completes an RFC 6455 handshake.
std::unique_ptr<RawPeer> WebSocketPeer(int port);

}  // namespace brz::test
