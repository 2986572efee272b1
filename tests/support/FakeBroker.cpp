#include "tests/support/FakeBroker.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

namespace brz::test {

namespace {

// Length of the whole packet at the start of the bytes, or 0 while its header is incomplete.
size_t PacketLength(const Bytes& bytes) {
  size_t value = 0, multiplier = 1, position = 1;
  while (true) {
    if (position >= bytes.size()) return 0;
    const uint8_t byte = bytes[position++];
    value += (byte & 0x7F) * multiplier;
    if ((byte & 0x80) == 0) break;
    multiplier *= 128;
    if (position > 5) throw std::runtime_error("client sent a malformed remaining length");
  }
  return position + value;
}

}  // namespace

FakeBroker::FakeBroker() {
  FListen = ::socket(AF_INET, SOCK_STREAM, 0);
  int yes = 1;
  ::setsockopt(FListen, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  if (::bind(FListen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(FListen, 8) != 0)
    throw std::runtime_error("fake broker cannot listen");
  socklen_t length = sizeof address;
  ::getsockname(FListen, reinterpret_cast<sockaddr*>(&address), &length);
  FPort = ntohs(address.sin_port);
}

FakeBroker::~FakeBroker() {
  CloseClient();
  if (FListen >= 0) ::close(FListen);
}

std::string FakeBroker::Url(const std::string& scheme) const {
  return scheme + "://127.0.0.1:" + std::to_string(FPort);
}

bool FakeBroker::Accept(std::chrono::milliseconds timeout) {
  pollfd wait{FListen, POLLIN, 0};
  if (::poll(&wait, 1, static_cast<int>(timeout.count())) <= 0) return false;
  const int client = ::accept(FListen, nullptr, nullptr);
  if (client < 0) return false;
  CloseClient();
  int yes = 1;
  ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
  FClient = client;
  FClosed = false;
  FPending.clear();
  return true;
}

bool FakeBroker::Fill(std::chrono::steady_clock::time_point deadline) {
  auto complete = [this] {
    const size_t length = PacketLength(FPending);
    return length != 0 && FPending.size() >= length;
  };
  while (!complete()) {
    if (FClient < 0 || FClosed) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd wait{FClient, POLLIN, 0};
    if (::poll(&wait, 1, static_cast<int>(left.count())) <= 0) continue;
    uint8_t buffer[4096];
    const ssize_t count = ::recv(FClient, buffer, sizeof buffer, 0);
    if (count <= 0) {
      FClosed = true;
      return false;
    }
    FPending.insert(FPending.end(), buffer, buffer + count);
  }
  return true;
}

std::optional<Bytes> FakeBroker::TakePacket() {
  const size_t length = PacketLength(FPending);
  if (length == 0 || FPending.size() < length) return std::nullopt;
  Bytes packet(FPending.begin(), FPending.begin() + static_cast<std::ptrdiff_t>(length));
  FPending.erase(FPending.begin(), FPending.begin() + static_cast<std::ptrdiff_t>(length));
  return packet;
}

std::optional<Bytes> FakeBroker::NextPacket(std::chrono::milliseconds timeout) {
  if (auto packet = TakePacket()) return packet;
  Fill(std::chrono::steady_clock::now() + timeout);
  return TakePacket();
}

std::optional<Bytes> FakeBroker::NextPacketOfType(uint8_t aType, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    auto packet = NextPacket(left);
    if (!packet) return std::nullopt;
    if ((*packet)[0] >> 4 == aType) return packet;
  }
  return std::nullopt;
}

std::vector<Bytes> FakeBroker::PacketsWithin(std::chrono::milliseconds window) {
  std::vector<Bytes> packets;
  const auto deadline = std::chrono::steady_clock::now() + window;
  while (std::chrono::steady_clock::now() < deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    auto packet = NextPacket(left);
    if (!packet) break;
    packets.push_back(*packet);
  }
  return packets;
}

void FakeBroker::Send(const Bytes& bytes) {
  size_t sent = 0;
  while (FClient >= 0 && sent < bytes.size()) {
    const ssize_t count = ::send(FClient, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (count <= 0) return;
    sent += static_cast<size_t>(count);
  }
}

void FakeBroker::SendSplit(const Bytes& bytes, const std::vector<size_t>& cuts) {
  size_t start = 0;
  for (size_t cut : cuts) {
    Send(Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(start), bytes.begin() + static_cast<std::ptrdiff_t>(cut)));
    start = cut;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  Send(Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(start), bytes.end()));
}

void FakeBroker::CloseClient() {
  if (FClient >= 0) ::close(FClient);
  FClient = -1;
}

bool FakeBroker::WaitClientClosed(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (FClient >= 0 && !FClosed && std::chrono::steady_clock::now() < deadline) {
    pollfd wait{FClient, POLLIN, 0};
    if (::poll(&wait, 1, 20) <= 0) continue;
    uint8_t buffer[4096];
    const ssize_t count = ::recv(FClient, buffer, sizeof buffer, 0);
    if (count <= 0) FClosed = true;
    else FPending.insert(FPending.end(), buffer, buffer + count);
  }
  return FClosed;
}

ConnectPacket SplitConnect(const Bytes& packet) {
  size_t position = 1;
  while (position < packet.size() && (packet[position] & 0x80)) ++position;
  ++position;                // past the remaining length
  position += 6;             // protocol name "MQTT"
  const uint8_t level = packet.at(position);
  position += 4;             // level, flags, keep alive
  if (level == 5) {
    size_t value = 0, multiplier = 1;
    uint8_t byte = 0;
    do {
      byte = packet.at(position++);
      value += (byte & 0x7F) * multiplier;
      multiplier *= 128;
    } while (byte & 0x80);
    position += value;       // CONNECT properties
  }
  const size_t length = static_cast<size_t>(packet.at(position)) << 8 | packet.at(position + 1);
  ConnectPacket result;
  result.ClientId.assign(packet.begin() + static_cast<std::ptrdiff_t>(position + 2),
                         packet.begin() + static_cast<std::ptrdiff_t>(position + 2 + length));
  result.WithoutClientId.assign(packet.begin(), packet.begin() + static_cast<std::ptrdiff_t>(position));
  result.WithoutClientId.insert(result.WithoutClientId.end(),
                                packet.begin() + static_cast<std::ptrdiff_t>(position + 2 + length), packet.end());
  return result;
}

}  // namespace brz::test
