#pragma once
// Throw-away TLS material for the tests, made at test time with the openssl command line: a CA,
// a server certificate for localhost / 127.0.0.1 (also an expired one and one for another host), a client certificate (PEM, encrypted key,
// PKCS #12 with and without a password), and a second CA with a server certificate it signed.
// Also loopback helpers for TLS peers. Nothing secret is committed.

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace brz::test {

struct TestCerts {
  std::string Dir;
  std::string CAFile, CAKey;
  std::string ServerCert, ServerKey;
  std::string ClientCert, ClientKey;
  std::string ClientKeyEncrypted;  // pass phrase kClientKeyPassword
  std::string ClientP12;           // password kClientP12Password
  std::string ClientP12NoPassword; // empty password
  std::string ClientThumbprint;    // SHA-1 of the client certificate, 40 upper-case hex digits
  std::string ExpiredServerCert, ExpiredServerKey;      // by the CA, for 127.0.0.1, expired
  std::string WrongHostServerCert, WrongHostServerKey;  // by the CA, for other.example only
  std::string OtherCAFile;
  std::string OtherServerCert, OtherServerKey;  // signed by the other CA
  static constexpr const char* kClientKeyPassword = "keypass";
  static constexpr const char* kClientP12Password = "secret";

  // Made once per process (the first call takes a second or two); throws on failure.
  static const TestCerts& Get();
};

// A blocking TCP connection to 127.0.0.1:port; -1 on failure.
int ConnectLoopback(int port);

// A listening socket on 127.0.0.1 with a free port.
class TestListener {
 public:
  TestListener();
  ~TestListener();
  TestListener(const TestListener&) = delete;
  TestListener& operator=(const TestListener&) = delete;
  int Port() const { return FPort; }
  // An accepted descriptor within timeout, or -1.
  int Accept(std::chrono::milliseconds timeout = std::chrono::seconds(10));

 private:
  int FFd = -1;
  int FPort = 0;
};

// `openssl s_server` on a free loopback port with extra arguments (e.g. {"-tls1_2"}), serving
// the test server certificate. Killed on destruction.
class OpenSSLServer {
 public:
  explicit OpenSSLServer(const std::vector<std::string>& extraArgs, const std::string& cert = "",
                         const std::string& key = "");
  int Port() const { return FPort; }
  Process& Proc() { return *FProcess; }

 private:
  int FPort = 0;
  std::unique_ptr<Process> FProcess;
};

// Accepts one connection and plays a peer that speaks no TLS: it reads the client's first bytes,
// then sends answer (may be empty) and closes, or with silent says nothing for 1.5 s.
void ServePlainPeer(TestListener& listener, const std::string& answer, bool silent);

// Whether the installed openssl command line offers a protocol switch (e.g. "-tls1") at all.
bool OpenSSLSupports(const std::string& protocolSwitch);

}  // namespace brz::test
