#include "tests/server/ServerTestSupport.h"
#include "tests/support/TestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

namespace brz::test {

RecordingServer::RecordingServer(bool acceptRaw, bool start) : FServer(std::make_unique<TbrzWebSocketHTTPServer>()) {
  TbrzWebSocketHTTPServer& s = *FServer;
  // A free port of its own (kept across restarts), so tests can run side by side.
  s.AddBinding("127.0.0.1", FreeTcpPort());
  s.OnError = [this](const TbrzConnectionPtr&, const std::string& e) {
    std::lock_guard<std::mutex> g(FLock);
    FErrors.push_back(e);
  };
  s.OnException = [this](const TbrzConnectionPtr&, const Exception& e) {
    std::lock_guard<std::mutex> g(FLock);
    FExceptions.push_back(e.what());
  };
  s.OnMessage = [this](const TbrzConnectionPtr&, const std::string& t) {
    std::lock_guard<std::mutex> g(FLock);
    FMessages.push_back(t);
  };
  s.OnBinary = [this](const TbrzConnectionPtr&, TbrzMemoryStream& d) {
    std::lock_guard<std::mutex> g(FLock);
    FBinaries.emplace_back(reinterpret_cast<const char*>(d.Memory()), d.Size());
  };
  s.OnConnect = [this](const TbrzConnectionPtr&) {
    std::lock_guard<std::mutex> g(FLock);
    ++FConnects;
  };
  s.OnDisconnect = [this](const TbrzConnectionPtr&, int32_t) {
    std::lock_guard<std::mutex> g(FLock);
    ++FDisconnects;
  };
  s.OnTCPConnect = [this](const TbrzConnectionPtr&, bool&) {
    std::lock_guard<std::mutex> g(FLock);
    ++FTCPConnects;
  };
  if (acceptRaw) {
    s.OnUnknownProtocol = [](const TbrzConnectionPtr& c, bool& accept) {
      accept = true;
      c->SetTransport(TwsTransport::trpTCP);
    };
  }
  if (start) Start();
}

void RecordingServer::Start() {
  FServer->SetActive(true);
  std::string address = FServer->ListeningAddresses().at(0);
  FPort = std::stoi(address.substr(address.rfind(':') + 1));
}

RecordingServer::~RecordingServer() { FServer.reset(); }

std::vector<std::string> RecordingServer::Errors() {
  std::lock_guard<std::mutex> g(FLock);
  return FErrors;
}
std::vector<std::string> RecordingServer::Exceptions() {
  std::lock_guard<std::mutex> g(FLock);
  return FExceptions;
}
std::vector<std::string> RecordingServer::Messages() {
  std::lock_guard<std::mutex> g(FLock);
  return FMessages;
}
std::vector<std::string> RecordingServer::Binaries() {
  std::lock_guard<std::mutex> g(FLock);
  return FBinaries;
}
int RecordingServer::Connects() {
  std::lock_guard<std::mutex> g(FLock);
  return FConnects;
}
int RecordingServer::Disconnects() {
  std::lock_guard<std::mutex> g(FLock);
  return FDisconnects;
}
int RecordingServer::TCPConnects() {
  std::lock_guard<std::mutex> g(FLock);
  return FTCPConnects;
}

RawPeer::RawPeer(int port) {
  FFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (FFd < 0 || ::connect(FFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
    throw std::runtime_error("connect failed");
}

RawPeer::~RawPeer() {
  if (FFd >= 0) ::close(FFd);
}

void RawPeer::Send(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(FFd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) throw std::runtime_error("send failed");
    done += static_cast<size_t>(n);
  }
}

namespace {

// One read within the deadline: > 0 bytes, 0 closed, -1 time-out.
ssize_t ReadSome(int fd, std::string& out, std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  if (left.count() <= 0) return -1;
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return -1;
  char buffer[65536];
  ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
  if (n < 0) return 0;  // a reset counts as closed
  out.append(buffer, static_cast<size_t>(n));
  return n;
}

}  // namespace

std::string RawPeer::Read(size_t count, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (FPending.size() < count) {
    if (ReadSome(FFd, FPending, deadline) <= 0) break;
  }
  size_t n = std::min(count, FPending.size());
  std::string out = FPending.substr(0, n);
  FPending.erase(0, n);
  return out;
}

std::string RawPeer::ReadUntil(const std::string& needle, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (FPending.find(needle) == std::string::npos) {
    if (ReadSome(FFd, FPending, deadline) <= 0) break;
  }
  size_t at = FPending.find(needle);
  size_t n = at == std::string::npos ? FPending.size() : at + needle.size();
  std::string out = FPending.substr(0, n);
  FPending.erase(0, n);
  return out;
}

bool RawPeer::Closed(std::chrono::milliseconds timeout, std::string* rest) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    ssize_t n = ReadSome(FFd, FPending, deadline);
    if (n == 0) break;
    if (n < 0) return false;
  }
  if (rest) *rest += FPending;
  FPending.clear();
  return true;
}

std::string MaskedFrame(uint8_t opcode, const std::string& payload, bool fin) {
  const uint8_t key[4] = {0x37, 0xfa, 0x21, 0x3d};
  std::string f;
  f += static_cast<char>((fin ? 0x80 : 0) | opcode);
  if (payload.size() < 126) {
    f += static_cast<char>(0x80 | payload.size());
  } else {
    f += static_cast<char>(0x80 | 126);
    f += static_cast<char>(payload.size() >> 8);
    f += static_cast<char>(payload.size() & 0xff);
  }
  f.append(reinterpret_cast<const char*>(key), 4);
  for (size_t i = 0; i < payload.size(); ++i) f += static_cast<char>(payload[i] ^ key[i % 4]);
  return f;
}

std::string UpgradeRequest(const std::string& extra, const std::string& version) {
  return "GET /chat " + version +
         "\r\nHost: server.example.com\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
         "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n" +
         extra + "\r\n";
}

std::unique_ptr<RawPeer> WebSocketPeer(int port) {
  auto peer = std::make_unique<RawPeer>(port);
  peer->Send(UpgradeRequest());
  std::string response = peer->ReadUntil("\r\n\r\n");
  if (response.rfind("HTTP/1.1 101", 0) != 0) throw std::runtime_error("handshake failed: " + response);
  return peer;
}

}  // namespace brz::test
