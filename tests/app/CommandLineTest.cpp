#include <gtest/gtest.h>

#include "app/CommandLine.h"
#include "app/ParamValue.h"
#include "common/Exception.h"

namespace brz {
namespace {

struct SwitchCase {
  std::vector<std::string> args;
  bool server;
  bool hasIp;
  std::string ip;
  bool hasPort;
  std::string port;
};

TEST(CommandLine, SwitchRules) {
  const SwitchCase cases[] = {
      {{}, false, false, "", false, ""},
      {{"-server"}, true, false, "", false, ""},
      {{"/SERVER"}, true, false, "", false, ""},
      {{"-Server", "-server.port:4000"}, true, false, "", true, "4000"},
      {{"-server", "-server.port4000"}, true, false, "", true, "4000"},
      {{"-server", "-server.port", "4000"}, true, false, "", true, "4000"},
      {{"-server.port", "4000"}, false, false, "", true, "4000"},
      // A value that is missing, empty or another switch leaves the switch present with no value.
      {{"-server", "-server.ip"}, true, true, "", false, ""},
      {{"-server", "-server.ip", "", "-server.port", "1"}, true, true, "", true, "1"},
      {{"-server", "-server.ip", "-server.port", "5"}, true, true, "", true, "5"},
      {{"-server", "-server.ip", "/x"}, true, true, "", false, ""},
      {{"-server", "-server.ip", "127.0.0.1", "-server.port:5000"}, true, true, "127.0.0.1", true, "5000"},
      // First match wins.
      {{"-server.port", "1", "-server.port", "2"}, false, false, "", true, "1"},
      {{"server", "server.port", "3"}, false, false, "", false, ""},
      {{"-SERVER.IP:10.0.0.1"}, false, true, "10.0.0.1", false, ""},
      {{"-server.ipx"}, false, true, "x", false, ""},
  };
  for (const auto& c : cases) {
    TbrzCommandLine line(c.args);
    std::string joined;
    for (const auto& a : c.args) joined += "[" + a + "]";
    SCOPED_TRACE(joined);
    EXPECT_EQ(line.HasSwitch("server"), c.server);
    std::string ip = "unset", port = "unset";
    EXPECT_EQ(line.FindValueSwitch("server.ip", ip), c.hasIp);
    if (c.hasIp) {
      EXPECT_EQ(ip, c.ip);
    }
    EXPECT_EQ(line.FindValueSwitch("server.port", port), c.hasPort);
    if (c.hasPort) {
      EXPECT_EQ(port, c.port);
    }
  }
}

TEST(CommandLine, PathValuesMayBeginWithASlash) {
  struct Case {
    std::vector<std::string> Args;
    bool Found;
    std::string Value;
  } cases[] = {
      {{"-server.cert", "/etc/c.pem"}, true, "/etc/c.pem"},
      {{"-server.cert", "-server.key", "k.pem"}, true, ""},
      {{"-server.cert:/a b.pem"}, true, "/a b.pem"},
      {{"/server.cert", "rel.pem"}, true, "rel.pem"},
      {{"-server.key", "k"}, false, ""},
  };
  for (const Case& c : cases) {
    std::string value = "unset";
    EXPECT_EQ(TbrzCommandLine(c.Args).FindValueSwitch("server.cert", value, true), c.Found) << c.Args[0];
    if (c.Found) {
      EXPECT_EQ(value, c.Value) << c.Args[0];
    }
  }
  // Without the path form an absolute name counts as a switch, as the base reads values.
  std::string value;
  EXPECT_TRUE(TbrzCommandLine({"-server.cert", "/etc/c.pem"}).FindValueSwitch("server.cert", value));
  EXPECT_EQ(value, "");
}

TEST(ParamValueConversion, Integers) {
  EXPECT_EQ(TbrzParamValue().AsInteger(), 0);
  EXPECT_EQ(TbrzParamValue("15").AsInteger(), 15);
  EXPECT_EQ(TbrzParamValue("+007").AsInteger(), 7);
  EXPECT_EQ(TbrzParamValue("-3").AsInteger(), -3);
  for (const char* bad : {"abc", "", "1e3", "1.5", "99999999999", " 1"}) {
    SCOPED_TRACE(bad);
    try {
      TbrzParamValue(bad).AsInteger();
      ADD_FAILURE() << "no conversion error";
    } catch (const EConvertError& e) {
      EXPECT_EQ(std::string(e.what()), "'" + std::string(bad) + "' is not a valid integer value");
      EXPECT_EQ(e.ClassName(), "EConvertError");
    }
  }
}

TEST(ParamValueConversion, LenientScanForCloseCodes) {
  const std::pair<const char*, int> cases[] = {
      {"", 0}, {"1000", 1000}, {"  1000", 1000}, {"1000abc", 1000}, {"-5", -5}, {"+7", 7},
      {"$3E8", 1000}, {"0x3e8", 1000}, {"abc", 0}, {"10.5", 10}, {"\"1000\"", 0},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(ValInteger(text), value) << text;
}

}  // namespace
}  // namespace brz
