#include "tests/support/FakeWSPeer.h"

#include <openssl/sha.h>

#include <algorithm>
#include <cctype>

namespace brz::test {

namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

std::string Base64(const unsigned char* data, size_t n) {
  static const char* abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < n; i += 3) {
    uint32_t v = static_cast<uint32_t>(data[i]) << 16;
    if (i + 1 < n) v |= static_cast<uint32_t>(data[i + 1]) << 8;
    if (i + 2 < n) v |= data[i + 2];
    out += abc[(v >> 18) & 63];
    out += abc[(v >> 12) & 63];
    out += i + 1 < n ? abc[(v >> 6) & 63] : '=';
    out += i + 2 < n ? abc[v & 63] : '=';
  }
  return out;
}

}  // namespace

bool FakeWSPeer::Accept(std::chrono::milliseconds timeout) {
  FRequest.clear();
  FOffset = 0;
  return FPeer.Accept(timeout);
}

std::vector<std::string> FakeWSPeer::ReadRequest(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    const Bytes& got = FPeer.Received();
    std::string text(got.begin(), got.end());
    size_t end = text.find("\r\n\r\n");
    if (end != std::string::npos) {
      FRequest.clear();
      size_t start = 0;
      while (start < end) {
        size_t eol = text.find("\r\n", start);
        FRequest.push_back(text.substr(start, eol - start));
        start = eol + 2;
      }
      FOffset = end + 4;
      return FRequest;
    }
    FPeer.Receive(got.size() + 1, std::chrono::milliseconds(50));
  }
  return {};
}

std::string FakeWSPeer::Header(const std::string& name) const {
  std::string prefix = Lower(name) + ":";
  for (const auto& line : FRequest) {
    if (Lower(line.substr(0, prefix.size())) == prefix) {
      size_t v = prefix.size();
      while (v < line.size() && line[v] == ' ') ++v;
      return line.substr(v);
    }
  }
  return {};
}

std::string FakeWSPeer::AcceptValue() const {
  std::string text = Header("Sec-WebSocket-Key") + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
  unsigned char digest[SHA_DIGEST_LENGTH];
  SHA1(reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest);
  return Base64(digest, sizeof digest);
}

void FakeWSPeer::Answer(const std::string& protocol, const std::vector<std::string>& extraLines, const Bytes& after) {
  std::vector<std::string> lines = {"HTTP/1.1 101 Switching Protocols", "Upgrade: websocket", "Connection: Upgrade",
                                    "Sec-WebSocket-Accept: " + AcceptValue()};
  if (!protocol.empty()) lines.push_back("Sec-WebSocket-Protocol: " + protocol);
  lines.insert(lines.end(), extraLines.begin(), extraLines.end());
  std::string text;
  for (const auto& l : lines) text += l + "\r\n";
  text += "\r\n";
  Bytes bytes = ToBytes(text);
  bytes.insert(bytes.end(), after.begin(), after.end());
  FPeer.Send(bytes);
}

void FakeWSPeer::AnswerLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& l : lines) text += l + "\r\n";
  FPeer.Send(text + "\r\n");
}

std::optional<WSFrame> FakeWSPeer::ReadFrame(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const Bytes& got = FPeer.Received();
    size_t avail = got.size() > FOffset ? got.size() - FOffset : 0;
    const uint8_t* p = got.data() + FOffset;
    if (avail >= 2) {
      size_t len = p[1] & 0x7F;
      size_t pos = 2;
      if (len == 126 && avail >= 4) {
        len = (static_cast<size_t>(p[2]) << 8) | p[3];
        pos = 4;
      } else if (len == 127 && avail >= 10) {
        len = 0;
        for (int i = 0; i < 8; ++i) len = (len << 8) | p[2 + i];
        pos = 10;
      } else if (len >= 126) {
        pos = 0;
      }
      bool masked = (p[1] & 0x80) != 0;
      if (pos > 0 && avail >= pos + (masked ? 4 : 0) + len) {
        WSFrame f;
        f.Fin = (p[0] & 0x80) != 0;
        f.OpCode = p[0] & 0x0F;
        f.Masked = masked;
        const uint8_t* key = p + pos;
        if (masked) pos += 4;
        f.Payload.assign(p + pos, p + pos + len);
        if (masked) {
          for (size_t i = 0; i < len; ++i) f.Payload[i] ^= key[i % 4];
        }
        FOffset += pos + len;
        return f;
      }
    }
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    size_t before = got.size();
    FPeer.Receive(before + 1, std::chrono::milliseconds(50));
  }
}

Bytes FakeWSPeer::Unread() {
  const Bytes& got = FPeer.Received();
  Bytes rest(got.begin() + static_cast<long>(std::min(FOffset, got.size())), got.end());
  FOffset = got.size();
  return rest;
}

Bytes FakeWSPeer::Frame(uint8_t opCodeAndFin, const Bytes& payload) {
  Bytes f{opCodeAndFin};
  if (payload.size() < 126) {
    f.push_back(static_cast<uint8_t>(payload.size()));
  } else if (payload.size() <= 65535) {
    f.push_back(126);
    f.push_back(static_cast<uint8_t>(payload.size() >> 8));
    f.push_back(static_cast<uint8_t>(payload.size()));
  } else {
    f.push_back(127);
    for (int s = 56; s >= 0; s -= 8) f.push_back(static_cast<uint8_t>(static_cast<uint64_t>(payload.size()) >> s));
  }
  f.insert(f.end(), payload.begin(), payload.end());
  return f;
}

}  // namespace brz::test
