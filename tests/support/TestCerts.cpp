#include "tests/support/TestCerts.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>

namespace brz::test {

namespace {

void Run(const std::string& dir, const std::string& command) {
  std::string line = "cd '" + dir + "' && " + command + " >>gen.log 2>&1";
  if (std::system(line.c_str()) != 0) throw std::runtime_error("certificate generation failed: " + command);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

const char* kEc = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";

void MakeCA(const std::string& dir, const std::string& name, const std::string& cn) {
  Run(dir, std::string("openssl req -x509 ") + kEc + " -keyout " + name + ".key -out " + name +
               ".pem -days 3 -subj '/CN=" + cn +
               "' -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign");
}

// days -1 makes a certificate that expired a day after it began, a moment ago.
void MakeLeaf(const std::string& dir, const std::string& name, const std::string& cn, const std::string& ca,
              const std::string& ext, const std::string& serial, const std::string& days = "3") {
  std::ofstream(dir + "/" + name + ".ext") << ext;
  Run(dir, std::string("openssl req ") + kEc + " -keyout " + name + ".key -out " + name + ".csr -subj '/CN=" + cn + "'");
  Run(dir, "openssl x509 -req -in " + name + ".csr -CA " + ca + ".pem -CAkey " + ca + ".key -set_serial " + serial +
               " -days " + days + " -out " + name + ".pem -extfile " + name + ".ext");
}

}  // namespace

const TestCerts& TestCerts::Get() {
  static std::mutex lock;
  static std::unique_ptr<TempDir> dir;
  static std::unique_ptr<TestCerts> certs;
  std::lock_guard<std::mutex> guard(lock);
  if (certs) return *certs;
  dir = std::make_unique<TempDir>();
  auto c = std::make_unique<TestCerts>();
  const std::string d = dir->Path();
  c->Dir = d;
  MakeCA(d, "ca", "brz test CA");
  MakeLeaf(d, "server", "localhost", "ca",
           "basicConstraints=CA:FALSE\nkeyUsage=digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n"
           "subjectAltName=DNS:localhost,IP:127.0.0.1\n",
           "1001");
  MakeLeaf(d, "client", "brz test client", "ca",
           "basicConstraints=CA:FALSE\nkeyUsage=digitalSignature\nextendedKeyUsage=clientAuth\n", "1002");
  const std::string serverExt =
      "basicConstraints=CA:FALSE\nkeyUsage=digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n";
  MakeLeaf(d, "expired", "localhost", "ca", serverExt + "subjectAltName=DNS:localhost,IP:127.0.0.1\n", "1003", "-1");
  MakeLeaf(d, "wronghost", "other.example", "ca", serverExt + "subjectAltName=DNS:other.example\n", "1004");
  MakeCA(d, "otherca", "brz other CA");
  MakeLeaf(d, "otherserver", "localhost", "otherca",
           "basicConstraints=CA:FALSE\nkeyUsage=digitalSignature\nextendedKeyUsage=serverAuth\n"
           "subjectAltName=DNS:localhost,IP:127.0.0.1\n",
           "2001");
  Run(d, std::string("openssl pkey -in client.key -out client-enc.key -aes256 -passout pass:") + kClientKeyPassword);
  Run(d, std::string("openssl pkcs12 -export -in client.pem -inkey client.key -certfile ca.pem -out client.p12 "
                     "-passout pass:") + kClientP12Password);
  Run(d, "openssl pkcs12 -export -in client.pem -inkey client.key -out client-nopass.p12 -passout pass:");
  Run(d, "(openssl x509 -in client.pem -noout -fingerprint -sha1 > client.sha1)");
  std::string fp = ReadFile(d + "/client.sha1");
  size_t eq = fp.find('=');
  for (char ch : fp.substr(eq == std::string::npos ? 0 : eq + 1)) {
    if (std::isxdigit(static_cast<unsigned char>(ch))) c->ClientThumbprint += static_cast<char>(std::toupper(ch));
  }
  c->CAFile = d + "/ca.pem";
  c->CAKey = d + "/ca.key";
  c->ServerCert = d + "/server.pem";
  c->ServerKey = d + "/server.key";
  c->ClientCert = d + "/client.pem";
  c->ClientKey = d + "/client.key";
  c->ClientKeyEncrypted = d + "/client-enc.key";
  c->ClientP12 = d + "/client.p12";
  c->ClientP12NoPassword = d + "/client-nopass.p12";
  c->ExpiredServerCert = d + "/expired.pem";
  c->ExpiredServerKey = d + "/expired.key";
  c->WrongHostServerCert = d + "/wronghost.pem";
  c->WrongHostServerKey = d + "/wronghost.key";
  c->OtherCAFile = d + "/otherca.pem";
  c->OtherServerCert = d + "/otherserver.pem";
  c->OtherServerKey = d + "/otherserver.key";
  certs = std::move(c);
  return *certs;
}

int ConnectLoopback(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

TestListener::TestListener() {
  FFd = ::socket(AF_INET, SOCK_STREAM, 0);
  int on = 1;
  ::setsockopt(FFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(FFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(FFd, 16) != 0)
    throw std::runtime_error("listen failed");
  socklen_t len = sizeof addr;
  ::getsockname(FFd, reinterpret_cast<sockaddr*>(&addr), &len);
  FPort = ntohs(addr.sin_port);
}

TestListener::~TestListener() {
  if (FFd >= 0) ::close(FFd);
}

int TestListener::Accept(std::chrono::milliseconds timeout) {
  pollfd p{FFd, POLLIN, 0};
  if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return -1;
  return ::accept(FFd, nullptr, nullptr);
}

OpenSSLServer::OpenSSLServer(const std::vector<std::string>& extraArgs, const std::string& cert, const std::string& key) {
  const TestCerts& certs = TestCerts::Get();
  FPort = FreeTcpPort();
  std::vector<std::string> argv = {"openssl", "s_server", "-accept", "127.0.0.1:" + std::to_string(FPort),
                                   "-cert", cert.empty() ? certs.ServerCert : cert,
                                   "-key", key.empty() ? certs.ServerKey : key, "-quiet"};
  argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
  FProcess = std::make_unique<Process>(argv, true);
  if (!WaitForListening("127.0.0.1", FPort, std::chrono::seconds(10))) throw std::runtime_error("s_server did not start");
}

void ServePlainPeer(TestListener& listener, const std::string& answer, bool silent) {
  int fd = listener.Accept(std::chrono::seconds(5));
  if (fd < 0) return;
  // Read what the client sent first, so closing sends a FIN and not a reset.
  char buffer[4096];
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, 2000) > 0) (void)!::recv(fd, buffer, sizeof buffer, 0);
  if (!answer.empty()) (void)!::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
  if (silent) {
    ::poll(&p, 1, 1500);
  } else {
    ::shutdown(fd, SHUT_WR);
    // Drain until the client closes, so nothing is left unread.
    while (::poll(&p, 1, 2000) > 0 && ::recv(fd, buffer, sizeof buffer, 0) > 0) {
    }
  }
  ::close(fd);
}

bool OpenSSLSupports(const std::string& protocolSwitch) {
  static std::mutex lock;
  static std::map<std::string, bool> known;
  std::lock_guard<std::mutex> guard(lock);
  auto it = known.find(protocolSwitch);
  if (it != known.end()) return it->second;
  std::string cmd = "openssl s_client -help 2>&1 | grep -q -- '^ *" + protocolSwitch + " '";
  bool ok = std::system(cmd.c_str()) == 0;
  known[protocolSwitch] = ok;
  return ok;
}

}  // namespace brz::test
