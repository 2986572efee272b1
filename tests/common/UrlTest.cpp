#include <gtest/gtest.h>

#include "common/Exception.h"
#include "common/TbrzDelimitedStringList.h"
#include "common/Url.h"

namespace brz {
namespace {

TEST(Url, SplitURLTable) {
  struct Case {
    const char* Url;
    const char* Protocol;
    const char* Host;
    const char* Port;
    const char* Path;
    const char* Query;
  } cases[] = {
      {"ws://host", "ws", "host", "", "", ""},
      {"ws://host/", "ws", "host", "", "/", ""},
      {"ws://h/p?q=1", "ws", "h", "", "/p", "q=1"},
      {"wss://broker.example:8884/mqtt", "wss", "broker.example", "8884", "/mqtt", ""},
      {"wss://broker.example", "wss", "broker.example", "", "", ""},
      {"tcp://127.0.0.1:1883", "tcp", "127.0.0.1", "1883", "", ""},
      {"tcps://broker:8883", "tcps", "broker", "8883", "", ""},
      {"http://host:8080/dir/doc.html?a=1&b=2#frag", "http", "host", "8080", "/dir/doc.html", "a=1&b=2"},
      {"ws://[::1]:9001/mqtt", "ws", "::1", "9001", "/mqtt", ""},
      {"ws://[fe80::1%25eth0]/x", "ws", "fe80::1%25eth0", "", "/x", ""},
      {"wss://[2001:db8::1]", "wss", "2001:db8::1", "", "", ""},
      {"ws://user:secret@host:81/p", "ws", "host", "81", "/p", ""},
      {"ws://user@host", "ws", "host", "", "", ""},
      {"ws://host?x", "ws", "host", "", "", "x"},
      {"ws://host:/p", "ws", "host", "", "/p", ""},
      {"WS://Host:1/", "WS", "Host", "1", "/", ""},
      {"host:1883", "host", "", "", "1883", ""},  // RFC 3986: "host" is a scheme
      {"/only/path?q", "", "", "", "/only/path", "q"},
      {"", "", "", "", "", ""},
  };
  for (const auto& c : cases) {
    std::string protocol = "x", host = "x", port = "x", path = "x", query = "x";
    SplitURL(c.Url, protocol, host, port, path, query);
    EXPECT_EQ(protocol, c.Protocol) << c.Url;
    EXPECT_EQ(host, c.Host) << c.Url;
    EXPECT_EQ(port, c.Port) << c.Url;
    EXPECT_EQ(path, c.Path) << c.Url;
    EXPECT_EQ(query, c.Query) << c.Url;
  }
}

TEST(Url, SplitHostSpec) {
  struct Case {
    const char* Text;
    bool Result;
    const char* Host;
    int Port;
    bool Tls;
  } cases[] = {
      {"wss://host:443", true, "host", 443, true},
      {"WSS://host:443", true, "host", 443, true},
      {"ws://host:80", true, "host", 80, false},
      {"tcp://h/x/:1883", true, "hx", 1883, false},
      {"a:b:1", true, "b", 1, false},
      {"host:443", false, "unset", -1, false},
      {"host", false, "unset", -1, false},
      {"", false, "unset", -1, false},
      {"ws://[::1]:80", false, "unset", -1, false},
      {"a:b:c:1", false, "unset", -1, false},
  };
  for (const auto& c : cases) {
    std::string host = "unset";
    int port = -1;
    bool tls = false;
    EXPECT_EQ(SplitHostSpec(c.Text, host, port, tls), c.Result) << c.Text;
    EXPECT_EQ(host, c.Host) << c.Text;
    EXPECT_EQ(port, c.Port) << c.Text;
    EXPECT_EQ(tls, c.Tls) << c.Text;
  }
}

TEST(Url, SplitHostSpecNonNumericPort) {
  std::string host;
  int port = 0;
  bool tls = false;
  EXPECT_THROW(SplitHostSpec("ws://host:http", host, port, tls), EConvertError);
}

TEST(Url, DelimitedStringListIsStrict) {
  TbrzDelimitedStringList list;
  list.SetDelimitedText("a, b,\"c d\",,");
  ASSERT_EQ(list.Count(), 5u);
  EXPECT_EQ(list[0], "a");
  EXPECT_EQ(list[1], " b");
  EXPECT_EQ(list[2], "\"c d\"");
  EXPECT_EQ(list[3], "");
  EXPECT_EQ(list[4], "");
  EXPECT_EQ(list.DelimitedText(), "a, b,\"c d\",,");
  list.SetDelimitedText("");
  EXPECT_EQ(list.Count(), 0u);
  list.SetDelimiter(':');
  list.SetDelimitedText("x:y");
  EXPECT_EQ(list.Count(), 2u);
}

}  // namespace
}  // namespace brz
