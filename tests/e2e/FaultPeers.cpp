#include "tests/e2e/FaultPeers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <sstream>

#include <gtest/gtest.h>

#include "app/AppMessages.h"
#include "websocket/TbrzWSHandshake.h"

namespace brz::fault {

namespace {

using Clock = std::chrono::steady_clock;

int Remaining(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

}  // namespace

long RssKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

Bytes ServerFrame(uint8_t firstByte, const Bytes& payload) {
  const size_t n = payload.size();
  Bytes frame;
  frame.reserve(n + 10);
  frame.push_back(firstByte);
  if (n < 126) {
    frame.push_back(static_cast<uint8_t>(n));
  } else if (n < 65536) {
    frame.push_back(126);
    frame.push_back(static_cast<uint8_t>(n >> 8));
    frame.push_back(static_cast<uint8_t>(n));
  } else {
    frame.push_back(127);
    for (int shift = 56; shift >= 0; shift -= 8) frame.push_back(static_cast<uint8_t>(uint64_t(n) >> shift));
  }
  for (uint8_t b : payload) frame.push_back(b);
  return frame;
}

HostileBroker::HostileBroker(bool websocket) : FWebSocket(websocket) {
  FListen = ::socket(AF_INET, SOCK_STREAM, 0);
  int on = 1;
  ::setsockopt(FListen, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(FListen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(FListen, 4) != 0) {
    throw std::runtime_error("HostileBroker: cannot listen");
  }
  socklen_t len = sizeof addr;
  ::getsockname(FListen, reinterpret_cast<sockaddr*>(&addr), &len);
  FPort = ntohs(addr.sin_port);
}

HostileBroker::~HostileBroker() {
  StopFlood();
  CloseClient();
  if (FListen >= 0) ::close(FListen);
}

std::string HostileBroker::Url() const {
  return std::string(FWebSocket ? "ws" : "tcp") + "://127.0.0.1:" + std::to_string(FPort);
}

bool HostileBroker::ReadSome(Bytes& into, Clock::time_point deadline) {
  pollfd p{FClient, POLLIN, 0};
  if (::poll(&p, 1, Remaining(deadline)) <= 0) return false;
  uint8_t buffer[4096];
  ssize_t n = ::recv(FClient, buffer, sizeof buffer, 0);
  if (n <= 0) return false;
  into.insert(into.end(), buffer, buffer + n);
  return true;
}

bool HostileBroker::AcceptAndAcknowledge(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  pollfd p{FListen, POLLIN, 0};
  if (::poll(&p, 1, Remaining(deadline)) <= 0) return false;
  FClient = ::accept(FListen, nullptr, nullptr);
  if (FClient < 0) return false;
  Bytes in;
  size_t start = 0;
  if (FWebSocket) {
    std::string text;
    while (text.find("\r\n\r\n") == std::string::npos) {
      if (!ReadSome(in, deadline)) return false;
      text.assign(in.begin(), in.end());
    }
    const std::string name = "Sec-WebSocket-Key: ";
    const size_t at = text.find(name);
    if (at == std::string::npos) return false;
    const std::string key = text.substr(at + name.size(), text.find("\r\n", at) - at - name.size());
    const std::string answer = "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                               "Sec-WebSocket-Accept: " + WebSocketAcceptKey(key) +
                               "\r\nSec-WebSocket-Protocol: mqtt\r\n\r\n";
    if (!SendRaw(test::ToBytes(answer))) return false;
    start = text.find("\r\n\r\n") + 4;
  }
  // The CONNECT: one whole packet (in one masked frame on WebSocket).
  while (true) {
    if (FWebSocket) {
      if (in.size() >= start + 2) {
        const size_t code = in[start + 1] & 0x7F;
        const size_t lengthBytes = code == 126 ? 2 : (code == 127 ? 8 : 0);
        const size_t header = start + 2 + lengthBytes + 4;
        if (in.size() >= header) {
          size_t length = code;
          if (lengthBytes > 0) {
            length = 0;
            for (size_t i = 0; i < lengthBytes; ++i) length = (length << 8) | in[start + 2 + i];
          }
          if (in.size() >= header + length && length > 0) {
            const uint8_t first = in[header] ^ in[header - 4];
            if ((first >> 4) != 1) return false;
            break;
          }
        }
      }
    } else if (in.size() >= 2) {
      size_t length = 0, multiplier = 1, i = 1;
      bool complete = false;
      while (i < in.size() && i <= 4) {
        length += (in[i] & 0x7F) * multiplier;
        multiplier *= 128;
        if ((in[i++] & 0x80) == 0) {
          complete = true;
          break;
        }
      }
      if (complete && in.size() >= i + length) {
        if ((in[0] >> 4) != 1) return false;
        break;
      }
    }
    if (!ReadSome(in, deadline)) return false;
  }
  return Send(test::Hex("20 02 00 00"));
}

bool HostileBroker::SendAll(const uint8_t* data, size_t size, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  size_t done = 0;
  while (done < size) {
    pollfd p{FClient, POLLOUT, 0};
    if (FClient < 0 || ::poll(&p, 1, Remaining(deadline)) <= 0) return false;
    ssize_t n = ::send(FClient, data + done, size - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool HostileBroker::Send(const Bytes& bytes) {
  return FWebSocket ? SendRaw(ServerFrame(0x82, bytes)) : SendRaw(bytes);
}

bool HostileBroker::SendRaw(const Bytes& bytes) { return SendAll(bytes.data(), bytes.size(), 10s); }

void HostileBroker::StartFlood(const Bytes& packet, size_t count) {
  StopFlood();
  FStopFlood = false;
  FFlooded = 0;
  const Bytes one = FWebSocket ? ServerFrame(0x82, packet) : packet;
  FFlood = std::thread([this, one, count] {
    // Whole batches per send; each waits in short steps so that Stop is seen.
    const size_t perBatch = 256;
    Bytes batch;
    for (size_t i = 0; i < perBatch; ++i) batch.insert(batch.end(), one.begin(), one.end());
    while (!FStopFlood && FFlooded < count) {
      const size_t n = std::min(perBatch, count - FFlooded.load());
      size_t done = 0;
      const size_t size = n * one.size();
      while (!FStopFlood && done < size) {
        pollfd p{FClient, POLLOUT, 0};
        if (::poll(&p, 1, 50) < 0) return;
        if ((p.revents & (POLLERR | POLLHUP)) != 0) return;
        if ((p.revents & POLLOUT) == 0) continue;
        ssize_t sent = ::send(FClient, batch.data() + done, size - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        if (sent <= 0) return;
        done += static_cast<size_t>(sent);
      }
      if (done == size) FFlooded += n;
    }
  });
}

void HostileBroker::StopFlood() {
  FStopFlood = true;
  if (FFlood.joinable()) FFlood.join();
}

void HostileBroker::CloseClient() {
  if (FClient >= 0) ::close(FClient);
  FClient = -1;
}

bool HostileBroker::WaitClientClosed(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (FClient >= 0) {
    pollfd p{FClient, POLLIN, 0};
    if (::poll(&p, 1, Remaining(deadline)) <= 0) return false;
    uint8_t buffer[4096];
    ssize_t n = ::recv(FClient, buffer, sizeof buffer, 0);
    if (n <= 0) return true;
  }
  return true;
}

Console::Console(const std::vector<std::string>& args) : FProcess([&] {
  std::vector<std::string> argv{test::BrzmqttPath()};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}()) {
  for (size_t i = 0; i < std::size(kBanner); ++i) EXPECT_EQ(FProcess.ReadLine(), kBanner[i]);
}

Console::~Console() {
  if (!::testing::Test::HasFailure()) return;
  const std::string err = FProcess.ReadStderr();
  if (!err.empty()) std::cerr << "program error output:\n" << err << "\n";
}

std::optional<std::string> Console::WaitFor(const std::string& needle, std::chrono::milliseconds timeout,
                                            std::vector<std::string>* seen) {
  return FProcess.ReadLineContaining(needle, timeout, seen);
}

bool Console::Responsive(std::chrono::milliseconds timeout, std::vector<std::string>* seen) {
  Send(R"({"message":"api", "protocol":"mqtt", "params":{"version":"5.0"}})");
  return WaitFor(R"({"event": "options", "protocol": "mqtt", "params":{"version": "5.0"}})", timeout, seen)
      .has_value();
}

void Console::Open(const std::string& url) {
  Send(R"({"message":"open", "params":{"url":")" + url + R"("}})");
}

int Console::Exit(std::chrono::milliseconds timeout) {
  Send("EXIT");
  // A console that keeps reading: the program flushes its lines before it ends.
  (void)FProcess.ReadAll(timeout);
  return FProcess.Wait(timeout);
}

}  // namespace brz::fault

namespace brz::fault {

namespace {

using Clock = std::chrono::steady_clock;

int Left(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

}  // namespace

Operator::Operator(int port) {
  FFd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (::connect(FFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(FFd);
    FFd = -1;
  }
}

Operator::~Operator() { Close(); }

bool Operator::Send(const std::string& bytes) {
  size_t done = 0;
  const auto deadline = Clock::now() + 10s;
  while (FFd >= 0 && done < bytes.size()) {
    pollfd p{FFd, POLLOUT, 0};
    if (::poll(&p, 1, Left(deadline)) <= 0) return false;
    ssize_t n = ::send(FFd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return done == bytes.size();
}

std::optional<std::string> Operator::ReadLine(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    size_t end = FBuffer.find('\n');
    if (end != std::string::npos) {
      std::string line = FBuffer.substr(0, end);
      FBuffer.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return line;
    }
    if (FFd < 0 || FEnded) return std::nullopt;
    pollfd p{FFd, POLLIN, 0};
    if (::poll(&p, 1, Left(deadline)) <= 0) return std::nullopt;
    char buffer[65536];
    ssize_t n = ::recv(FFd, buffer, sizeof buffer, 0);
    if (n <= 0) {
      FEnded = true;
      return std::nullopt;
    }
    FBuffer.append(buffer, static_cast<size_t>(n));
  }
}

bool Operator::WaitFor(const std::string& needle, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (Clock::now() < deadline) {
    auto line = ReadLine(std::chrono::milliseconds(Left(deadline)));
    if (!line) return false;
    if (line->find(needle) != std::string::npos) return true;
  }
  return false;
}

bool Operator::WaitClosed(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (FFd >= 0 && !FEnded) {
    pollfd p{FFd, POLLIN, 0};
    if (::poll(&p, 1, Left(deadline)) <= 0) return false;
    char buffer[65536];
    ssize_t n = ::recv(FFd, buffer, sizeof buffer, 0);
    if (n <= 0) FEnded = true;
  }
  return true;
}

void Operator::Abort() {
  if (FFd < 0) return;
  linger l{1, 0};
  ::setsockopt(FFd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  Close();
}

void Operator::Close() {
  if (FFd >= 0) ::close(FFd);
  FFd = -1;
}

}  // namespace brz::fault
