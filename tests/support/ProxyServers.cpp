#include "tests/support/ProxyServers.h"

#include <unistd.h>

namespace brz::test {

namespace {

bool Installed(const std::string& path) { return ::access(path.c_str(), X_OK) == 0; }

}  // namespace

ProxyServer::ProxyServer(Kind kind, const std::string& user, const std::string& password) {
  FPort = FreeTcpPort();
  const std::string port = std::to_string(FPort);
  std::vector<std::string> argv;
  if (kind == HttpConnect) {
    std::string conf = "Port " + port + "\nListen 127.0.0.1\nTimeout 30\nMaxClients 20\nAllow 127.0.0.1\n"
                       "LogLevel Critical\n";
    if (!user.empty()) conf += "BasicAuth " + user + " " + password + "\n";
    FDir.Write("tinyproxy.conf", conf);
    if (!Installed("/usr/bin/tinyproxy")) return;
    argv = {"/usr/bin/tinyproxy", "-d", "-c", FDir.File("tinyproxy.conf")};
  } else if (kind == Socks5 && Installed("/usr/bin/microsocks")) {
    argv = {"/usr/bin/microsocks", "-i", "127.0.0.1", "-p", port};
    if (!user.empty()) argv.insert(argv.end(), {"-u", user, "-P", password});
  } else {
    std::string conf = "logoutput: stderr\ninternal: 127.0.0.1 port = " + port +
                       "\nexternal: 127.0.0.1\nclientmethod: none\nsocksmethod: none\n"
                       "user.privileged: root\nuser.unprivileged: nobody\n"
                       "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
                       "socks pass { from: 0.0.0.0/0 to: 0.0.0.0/0 protocol: tcp }\n";
    FDir.Write("danted.conf", conf);
    if (!Installed("/usr/sbin/danted")) return;
    argv = {"/usr/sbin/danted", "-f", FDir.File("danted.conf"), "-p", FDir.File("danted.pid")};
  }
  FProcess = std::make_unique<Process>(argv, true);
  FRunning = WaitForListening("127.0.0.1", FPort, std::chrono::seconds(5));
}

ProxyServer::~ProxyServer() {
  if (FProcess) {
    FProcess->Kill(15);
    FProcess->Wait(std::chrono::seconds(2));
  }
}

}  // namespace brz::test
