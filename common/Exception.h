#pragma once
// Common exception base of the system. The console driver prints ClassName() + ": " + what().

#include <exception>
#include <string>

namespace brz {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : FMessage(std::move(message)) {}
  const char* what() const noexcept override { return FMessage.c_str(); }
  const std::string& Message() const noexcept { return FMessage; }
  virtual std::string ClassName() const { return "Exception"; }

 private:
  std::string FMessage;
};

// A text that is not a valid number, e.g. "'abc' is not a valid integer value".
class EConvertError : public Exception {
 public:
  using Exception::Exception;
  std::string ClassName() const override { return "EConvertError"; }
};

// A failing console read or write.
class EInOutError : public Exception {
 public:
  using Exception::Exception;
  std::string ClassName() const override { return "EInOutError"; }
};

}  // namespace brz
