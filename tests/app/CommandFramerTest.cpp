// Raw operators' byte streams into commands: objects end at their closing brace, span lines and
// skip comment lines; other text ends at its line end; the same commands for every chunking.

#include <gtest/gtest.h>

#include "app/CommandFramer.h"

namespace brz {
namespace {

using Commands = std::vector<std::string>;

// Feeds stream in pieces of size chunk (0: whole) and returns the commands, then what Finish gives.
std::pair<Commands, std::string> Frame(const std::string& stream, size_t chunk, size_t max = 1000) {
  TbrzCommandFramer framer(max);
  Commands out;
  const size_t step = chunk == 0 ? std::max<size_t>(stream.size(), 1) : chunk;
  for (size_t i = 0; i < stream.size(); i += step) framer.Feed(std::string_view(stream).substr(i, step), out);
  return {out, framer.Finish()};
}

TEST(CommandFramer, SameCommandsForEveryChunking) {
  const std::string a = R"({"message":"api", "params":{"version":"5.0"}})";
  struct Case {
    std::string Stream;
    Commands Expected;
    std::string Rest;
  } cases[] = {
      {a, {a}, ""},
      {a + a + "\n", {a, a}, ""},
      {"  " + a + " \r\n\n", {a}, ""},
      {"{\"message\":\"api\",\n  \"params\":{\"version\":\"5.0\"}}", {"{\"message\":\"api\",\n  \"params\":{\"version\":\"5.0\"}}"}, ""},
      // Comment lines between commands and inside an object; a '#' within a string or a line is text.
      {"# first\n" + a + "\n  # second\n", {a}, ""},
      {"{\"a\":1,\n   # note }\n\"b\":\"#}\"}", {"{\"a\":1,\n   \n\"b\":\"#}\"}"}, ""},
      // Braces and quotes inside strings, escaped quotes, nested arrays.
      {R"({"t":"}{\"}","l":[{"x":[1]}]})", {R"({"t":"}{\"}","l":[{"x":[1]}]})"}, ""},
      // Lines that are no objects end at the line end; a carriage return is dropped; blanks are nothing.
      {"EXIT\r\nnot json\n\n \n", {"EXIT", "not json"}, ""},
      {a + " tail\n", {a, "tail"}, ""},
      // What is unfinished at the end comes out of Finish.
      {"{\"message\":\"api\"", {}, "{\"message\":\"api\""},
      {a + "\nline without end\r", {a}, "line without end"},
      {"# only a comment", {}, ""},
  };
  for (const Case& c : cases) {
    for (size_t chunk : {0, 1, 2, 3, 7}) {
      auto [commands, rest] = Frame(c.Stream, chunk);
      EXPECT_EQ(commands, c.Expected) << c.Stream << " in pieces of " << chunk;
      EXPECT_EQ(rest, c.Rest) << c.Stream << " in pieces of " << chunk;
    }
  }
}

TEST(CommandFramer, AnOverlongCommandStopsTheStream) {
  TbrzCommandFramer framer(10);
  Commands out;
  EXPECT_TRUE(framer.Feed("{\"a\":1}\nshort\n", out));
  EXPECT_FALSE(framer.Feed("{\"x\":\"0123456789\"}{\"b\":2}", out));
  EXPECT_EQ(out, (Commands{"{\"a\":1}", "short"}));
  EXPECT_FALSE(framer.Feed("{}", out));
  EXPECT_EQ(out.size(), 2u);
  EXPECT_EQ(framer.Finish(), "");
  // A line without end grows past the bound as well.
  TbrzCommandFramer lines(10);
  EXPECT_FALSE(lines.Feed(std::string(11, 'x'), out));
}

}  // namespace
}  // namespace brz
