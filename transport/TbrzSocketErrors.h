#pragma once
// Errors of the socket layer. The "silent" family marks an ordinary end of a connection (the peer
// closed, the socket is already closed); callers may choose not to show those to the user.

#include <cstdio>
#include <string>
#include <utility>

#include "common/Exception.h"

namespace brz {

class ESocketError : public Exception {
 public:
  explicit ESocketError(std::string message, int errorCode = 0)
      : Exception(std::move(message)), FErrorCode(errorCode) {}
  std::string ClassName() const override { return "ESocketError"; }
  int ErrorCode() const { return FErrorCode; }

 private:
  int FErrorCode;
};

class ESocketSilentError : public ESocketError {
 public:
  using ESocketError::ESocketError;
  std::string ClassName() const override { return "ESocketSilentError"; }
};

// The peer has closed and nothing is left to read.
class EConnClosedGracefully : public ESocketSilentError {
 public:
  using ESocketSilentError::ESocketSilentError;
  std::string ClassName() const override { return "EConnClosedGracefully"; }
};

// An operation on a socket that was already closed locally.
class ESocketClosed : public ESocketSilentError {
 public:
  using ESocketSilentError::ESocketSilentError;
  std::string ClassName() const override { return "ESocketClosed"; }
};

class EConnectTimeout : public ESocketError {
 public:
  using ESocketError::ESocketError;
  std::string ClassName() const override { return "EConnectTimeout"; }
};

class EHostNotFound : public ESocketError {
 public:
  using ESocketError::ESocketError;
  std::string ClassName() const override { return "EHostNotFound"; }
};

class EProxyError : public ESocketError {
 public:
  using ESocketError::ESocketError;
  std::string ClassName() const override { return "EProxyError"; }
};

inline bool IsSilentSocketError(const std::exception& e) {
  return dynamic_cast<const ESocketSilentError*>(&e) != nullptr;
}

// printf-style formatting of the layer's message constants.
template <typename... Args>
std::string FormatMsg(const char* format, Args... args) {
  int n = std::snprintf(nullptr, 0, format, args...);
  if (n <= 0) return format;
  std::string out(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(out.data(), out.size(), format, args...);
  out.resize(static_cast<size_t>(n));
  return out;
}

// Builds the socket error for errno value err.
ESocketError SocketErrorFromErrno(int err);

}  // namespace brz
