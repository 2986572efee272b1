#include "transport/TbrzSocketErrors.h"

#include <cerrno>
#include <cstring>

#include "transport/TransportMessages.h"

namespace brz {

ESocketError SocketErrorFromErrno(int err) {
  char buffer[256];
  // GNU strerror_r may return a static text instead of filling the buffer.
  const char* text = strerror_r(err, buffer, sizeof buffer);
  return ESocketError(FormatMsg(msg::kSocketError, err, text), err);
}

}  // namespace brz
