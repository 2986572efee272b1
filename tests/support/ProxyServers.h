#pragma once
// Real proxies from the system packages, started on free loopback ports with temporary
// configuration files: tinyproxy (HTTP CONNECT, optional Basic credentials), microsocks (SOCKS5,
// optional user/password) and danted (SOCKS4, SOCKS4A and SOCKS5 without authentication).

#include <memory>
#include <string>

#include "tests/support/TestSupport.h"

namespace brz::test {

class ProxyServer {
 public:
  enum Kind { HttpConnect, Socks5, Socks4 };
  // user/password empty: no authentication.
  ProxyServer(Kind kind, const std::string& user = "", const std::string& password = "");
  ~ProxyServer();
  int Port() const { return FPort; }
  // False when the proxy did not come up (package missing).
  bool Running() const { return FRunning; }

 private:
  TempDir FDir;
  int FPort = 0;
  bool FRunning = false;
  std::unique_ptr<Process> FProcess;
};

}  // namespace brz::test
