#pragma once
// The I/O handler seam between the socket adapter and the bytes on the wire. The plain handler
// reads and writes the socket; a TLS handler wraps the same descriptor after the TCP connect (and
// after any proxy tunnel) and keeps its own decrypted bytes, reported by Pending().
// Thread-safety: Read runs on the reading thread, Write on writers (serialised by the caller),
// Close from any thread; a handler with its own state must lock it.

#include <atomic>
#include <cstddef>
#include <string>
#include <sys/types.h>

namespace brz {

class TbrzIOHandler {
 public:
  virtual ~TbrzIOHandler() = default;
  // The TCP connection (and proxy tunnel) to host stands on fd; do the handler's own opening
  // (a TLS handshake) within timeoutMs (<= 0: no limit). Throws on failure.
  virtual void Connect(int fd, const std::string& host, int timeoutMs) = 0;
  // Reads up to size bytes without blocking: > 0 bytes read, 0 the peer has closed, -1 nothing
  // available now. Throws on a socket or protocol error.
  virtual ssize_t Read(void* buffer, size_t size) = 0;
  // Writes all size bytes (blocking, bounded by the socket's send time-out). Throws on failure.
  virtual void Write(const void* buffer, size_t size) = 0;
  // Ends the handler's own session (a TLS close notify); the descriptor is closed by the adapter.
  virtual void Close() = 0;
  // Whether bytes are waiting inside the handler or on the descriptor within ms milliseconds.
  virtual bool Readable(int ms) = 0;
  // Bytes already decoded by the handler and not yet returned by Read.
  virtual size_t Pending() = 0;
  virtual bool Opened() const = 0;
};

// Plain socket I/O.
class TbrzIOHandlerSocket : public TbrzIOHandler {
 public:
  void Connect(int fd, const std::string& host, int timeoutMs) override;
  ssize_t Read(void* buffer, size_t size) override;
  void Write(const void* buffer, size_t size) override;
  void Close() override;
  bool Readable(int ms) override;
  size_t Pending() override { return 0; }
  bool Opened() const override;

 protected:
  int Fd() const;

 private:
  // Written on connect and close, read by the reading thread and writers.
  std::atomic<int> FFd{-1};
};

}  // namespace brz
