#include "transport/TbrzIOHandler.h"

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>

#include "transport/TbrzSocketErrors.h"
#include "transport/TransportMessages.h"

namespace brz {

void TbrzIOHandlerSocket::Connect(int fd, const std::string& /*host*/, int /*timeoutMs*/) { FFd = fd; }

int TbrzIOHandlerSocket::Fd() const { return FFd.load(); }

bool TbrzIOHandlerSocket::Opened() const { return FFd.load() >= 0; }

void TbrzIOHandlerSocket::Close() { FFd = -1; }

ssize_t TbrzIOHandlerSocket::Read(void* buffer, size_t size) {
  int fd = FFd.load();
  if (fd < 0) throw ESocketClosed(msg::kSocketClosed);
  for (;;) {
    ssize_t n = ::recv(fd, buffer, size, MSG_DONTWAIT);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return -1;
    throw SocketErrorFromErrno(errno);
  }
}

void TbrzIOHandlerSocket::Write(const void* buffer, size_t size) {
  int fd = FFd.load();
  if (fd < 0) throw ESocketClosed(msg::kSocketClosed);
  const auto* p = static_cast<const uint8_t*>(buffer);
  while (size > 0) {
    ssize_t n = ::send(fd, p, size, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw SocketErrorFromErrno(errno);
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
}

bool TbrzIOHandlerSocket::Readable(int ms) {
  int fd = FFd.load();
  if (fd < 0) return false;
  pollfd p{fd, POLLIN, 0};
  int rc = ::poll(&p, 1, ms < 0 ? -1 : ms);
  if (rc < 0) {
    if (errno == EINTR) return false;
    throw SocketErrorFromErrno(errno);
  }
  return rc > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

}  // namespace brz
