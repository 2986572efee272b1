#pragma once
// The socket adapter: one TCP socket with buffered input, a write batch, connect (resolve, time-out,
// proxy tunnel, I/O handler opening) and the socket options the components apply.
//
// Thread-safety: one reading thread (WaitForData, ReadBuffered, CheckForDisconnect), any number of
// writers (the write batch is used under the owning connection's main lock), and close from any
// thread. The descriptor is guarded by a shared lock held for every I/O call; closing first shuts
// the socket down (waking a blocked poll or send) and then takes the lock exclusively.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "common/Bytes.h"
#include "transport/TbrzIOHandler.h"
#include "transport/TbrzSocketProxy.h"
#include "transport/TbrzTransportTypes.h"

namespace brz {

class TbrzSocket {
 public:
  TbrzSocket();
  ~TbrzSocket();
  TbrzSocket(const TbrzSocket&) = delete;
  TbrzSocket& operator=(const TbrzSocket&) = delete;

  // Settings read by Connect.
  std::string Host;
  int Port = 0;
  TwsIPVersion IPVersion = TwsIPVersion::ipV4;
  int ConnectTimeout = 0;  // ms; 0: the system's own blocking connect
  int ReadTimeout = -1;    // ms for blocking reads (proxy negotiation); -1: none
  bool UseNagle = false;
  int BoundPortMin = 0;
  int BoundPortMax = 0;

  // Raised on the connecting thread once the socket (tunnel and handler included) stands.
  std::function<void()> OnConnected;
  // Raised with ssDisconnected exactly once per connected socket, on the thread that closed it.
  std::function<void(TbrzSocketStatus)> OnStatus;

  // The handler used for I/O; a plain socket handler when none is set.
  void SetIOHandler(std::shared_ptr<TbrzIOHandler> handler);
  std::shared_ptr<TbrzIOHandler> IOHandler() const;
  void SetProxy(std::unique_ptr<TbrzProxy> proxy);

  // Resolves Host (or the proxy host), connects within ConnectTimeout, opens the proxy tunnel and
  // the I/O handler, then raises OnConnected. Throws on failure; the socket is closed then.
  void Connect();
  // Takes over an accepted descriptor (server side) and opens the handler on it.
  void Attach(int fd);

  bool Connected() const;
  bool Opened() const { return Connected(); }
  // A descriptor is open (also after the peer closed, until the socket is closed here).
  bool HandleAllocated() const { return FFd.load() >= 0; }

  // Buffered input.
  size_t BufferedCount() const;
  // Waits up to ms (< 0: no limit) for input and buffers what arrived; true when something did.
  // WakeWaiter ends the wait early (false then).
  bool WaitForData(int ms);
  // Ends a WaitForData under way, or the next one at once. Any thread.
  void WakeWaiter();
  TBytes ReadBuffered(size_t count);
  void ClearBuffered();

  // Write batch: WriteBytes outside a batch sends at once.
  void BeginWriteBatch();
  void WriteBytes(const TBytes& bytes);
  void WriteBytes(const uint8_t* data, size_t size);
  void FlushWriteBatch();
  void EndWriteBatch();
  void ClearWriteBuffer();

  // Raises EConnClosedGracefully (after closing and announcing) when the peer has closed and nothing
  // is buffered; ESocketClosed when the socket was closed locally and nothing is buffered.
  void CheckForDisconnect();
  bool ClosedGracefully() const { return FClosedByPeer.load(); }

  void CloseSocket();
  // Closes and announces ssDisconnected (once).
  void Disconnect(bool notifyPeer = false);
  // Announces ssDisconnected unless that was already done for this socket.
  void NotifyDisconnected();

  // Socket options applied after connect.
  void SetSendTimeout(int ms);
  void SetKeepAlive(bool enabled, int timeMs, int intervalMs);

  // Addresses; empty / 0 when not connected.
  std::string PeerIP() const;
  int PeerPort() const;
  std::string LocalIP() const;
  int LocalPort() const;
  TwsIPVersion Family() const;

 private:
  class Link;
  int OpenTCP(const std::string& host, int port);
  void Publish(int fd);
  void Negotiate();

  mutable std::shared_mutex FFdLock;  // guards FFd against closing during I/O
  std::mutex FCloseLock;              // serialises closers
  std::atomic<int> FFd{-1};
  int FWakeFd = -1;  // eventfd that ends a WaitForData; lives as long as the object
  std::atomic<bool> FClosedByPeer{false};
  std::atomic<bool> FStatusAnnounced{true};

  mutable std::mutex FInputLock;  // guards FInput
  TBytes FInput;
  size_t FInputStart = 0;

  std::mutex FBatchLock;  // guards FBatch and FBatching
  TBytes FBatch;
  bool FBatching = false;

  mutable std::mutex FSettingsLock;  // guards the handler and proxy pointers
  std::shared_ptr<TbrzIOHandler> FIOHandler;
  std::unique_ptr<TbrzProxy> FProxy;
};

}  // namespace brz
