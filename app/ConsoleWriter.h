#pragma once
// The one writer of standard output. Lines from different threads never interleave: each line is
// written whole under one lock. A failing write raises EInOutError.

#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

namespace brz {

class TbrzConsoleWriter {
 public:
  // Writes Text followed by a line end.
  void WriteLine(std::string_view Text);
  // The process-wide writer on file descriptor 1.
  static TbrzConsoleWriter& Instance();

  explicit TbrzConsoleWriter(int fd = 1) : FFd(fd) {}

 private:
  int FFd;
  std::mutex FLock;  // guards FBuffer and the descriptor's write position
  std::string FBuffer;
};

// Shorthand for TbrzConsoleWriter::Instance().WriteLine.
void ConsoleWriteLine(std::string_view Text);

}  // namespace brz
