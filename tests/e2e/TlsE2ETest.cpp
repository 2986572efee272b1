// The built program over TLS: tcps:// and wss:// through mosquitto's TLS listeners, and the
// refusals (a peer offering only TLS 1.3, a plain listener on a wss:// URL) as error lines after
// which the program goes on. The console does not verify certificates, so no CA is configured.

#include <gtest/gtest.h>

#include <string>

#include "app/AppMessages.h"
#include "tests/support/TestCerts.h"
#include "tests/support/TestSupport.h"

namespace brz {
namespace {

using namespace std::chrono_literals;
using test::Broker;
using test::Process;
using test::TestCerts;

// A running brzmqtt whose banner has been read.
class Console {
 public:
  Console() : FProcess({test::BrzmqttPath()}) {
    for (const char* line : kBanner) EXPECT_EQ(FProcess.ReadLine(), line);
  }
  void Send(const std::string& line) { FProcess.WriteLine(line); }
  std::string NextLine() { return FProcess.ReadLine(10s).value_or("<nothing>"); }

 private:
  Process FProcess;
};

std::string OpenCommand(const std::string& url) { return R"({"message":"open", "params":{"url":")" + url + "\"}}"; }

// mosquitto with a TLS 1.2 MQTT listener and a TLS websockets listener beside its plain one.
class TlsBroker {
 public:
  TlsBroker() : FTLSPort(test::FreeTcpPort()), FWssPort(test::FreeTcpPort()), FBroker(Config(), false) {
    for (int port : {FTLSPort, FWssPort})
      if (!test::WaitForListening("127.0.0.1", port, 10s)) throw std::runtime_error("mosquitto TLS listener did not start");
  }
  int Port() const { return FBroker.Port(); }
  int TLSPort() const { return FTLSPort; }
  int WssPort() const { return FWssPort; }

 private:
  std::string Config() const {
    const TestCerts& c = TestCerts::Get();
    const std::string files = "cafile " + c.CAFile + "\ncertfile " + c.ServerCert + "\nkeyfile " + c.ServerKey + "\n";
    return "listener " + std::to_string(FTLSPort) + " 127.0.0.1\n" + files + "tls_version tlsv1.2\n" +
           "listener " + std::to_string(FWssPort) + "\nprotocol websockets\nbind_interface lo\n" + files;
  }
  int FTLSPort;
  int FWssPort;
  Broker FBroker;
};

TEST(TlsConsole, TcpsAndWssCompleteAnMQTTRoundTrip) {
  TlsBroker broker;
  for (const std::string& url : {"tcps://127.0.0.1:" + std::to_string(broker.TLSPort()),
                                 "wss://127.0.0.1:" + std::to_string(broker.WssPort()) + "/mqtt"}) {
    SCOPED_TRACE(url);
    Console console;
    console.Send(OpenCommand(url));
    EXPECT_EQ(console.NextLine(),
              R"({"event": "connect", "protocol": "mqtt", "params":{"session": "false", "reasoncode": 0, "reasonname": "Connection Accepted"}})");
    console.Send(R"({"message":"subscribe", "protocol":"mqtt", "params":{"topic":"t"}})");
    EXPECT_EQ(console.NextLine(),
              R"({"event": "subscribe", "protocol": "mqtt", "params":{"packetidentifier": 1, "reasoncode": 0, "reasonname": "Granted QoS 0"}})");
    console.Send(R"({"message":"publish", "protocol":"mqtt", "params":{"topic":"t", "text":"x"}})");
    EXPECT_EQ(console.NextLine(), R"({"event": "publish", "protocol": "mqtt", "params":{"topic": "t", "text": "x"}})");
  }
}

TEST(TlsConsole, RefusedPeersGiveAnErrorLineAndTheProgramGoesOn) {
  TlsBroker broker;
  test::OpenSSLServer tls13({"-tls1_3"});
  struct Case {
    std::string Url;
    std::string Line;
  };
  const std::string init = R"({"event": "error", "description": "SChannel initialization error: )";
  const Case cases[] = {
      // The console asks for TLS 1.2; the peer answers with a protocol-version alert.
      {"tcps://127.0.0.1:" + std::to_string(tls13.Port()), init + "InitializeSecurityContext returns 80090302\"}"},
      {"wss://127.0.0.1:" + std::to_string(tls13.Port()) + "/mqtt", init + "InitializeSecurityContext returns 80090302\"}"},
      // mosquitto reads the client hello as a broken MQTT packet and resets the connection.
      {"wss://127.0.0.1:" + std::to_string(broker.Port()) + "/mqtt", init + "recv returns 00000068\"}"},
  };
  Console console;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Url);
    console.Send(OpenCommand(c.Url));
    EXPECT_EQ(console.NextLine(), c.Line);
    console.Send(R"({"message":"api", "protocol":"mqtt", "params":{"version":"5.0"}})");
    EXPECT_EQ(console.NextLine(), R"({"event": "options", "protocol": "mqtt", "params":{"version": "5.0"}})");
  }
}

}  // namespace
}  // namespace brz
