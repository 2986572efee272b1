#include "app/ConsoleWriter.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/Exception.h"

namespace brz {

void TbrzConsoleWriter::WriteLine(std::string_view Text) {
  std::lock_guard<std::mutex> guard(FLock);
  FBuffer.assign(Text);
  FBuffer.push_back('\n');
  size_t done = 0;
  while (done < FBuffer.size()) {
    const ssize_t n = ::write(FFd, FBuffer.data() + done, FBuffer.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int err = errno;
      throw EInOutError(std::string("I/O error ") + std::to_string(err) + ": " + std::strerror(err));
    }
    done += static_cast<size_t>(n);
  }
}

TbrzConsoleWriter& TbrzConsoleWriter::Instance() {
  // Never destroyed: threads may still print while the process ends.
  static TbrzConsoleWriter* writer = new TbrzConsoleWriter(1);
  return *writer;
}

void ConsoleWriteLine(std::string_view Text) { TbrzConsoleWriter::Instance().WriteLine(Text); }

}  // namespace brz
