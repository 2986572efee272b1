#pragma once
// Option groups of the client component. Value types: a copy is a deep copy.

#include <string>
#include <utility>
#include <vector>

#include "transport/TbrzSocketOptions.h"

namespace brz {

enum class TwsFragmentedMessages : uint8_t { frgOnlyBuffer, frgOnlyFragmented, frgAll };

class TbrzWSOptionsClient {
 public:
  bool CleanDisconnect = false;
  TwsFragmentedMessages FragmentedMessages = TwsFragmentedMessages::frgOnlyBuffer;
  std::string Origin;
  bool RaiseDisconnectExceptions = true;
  bool ValidateUTF8 = false;
  // Extra lines of the opening handshake request (name, value), sent in this order.
  std::vector<std::pair<std::string, std::string>> Headers;

  // Request path and query; reading normalises it to begin with "/" (stored back).
  const std::string& Parameters() {
    if (FParameters.empty() || FParameters[0] != '/') FParameters = "/" + FParameters;
    return FParameters;
  }
  void SetParameters(const std::string& value) { FParameters = value; }
  void Assign(const TbrzWSOptionsClient& other) { *this = other; }

 private:
  std::string FParameters;
};

struct TbrzWSSpecificationDrafts {
  bool Hixie76 = false;
};

struct TbrzWSSpecifications {
  bool RFC6455 = true;
  TbrzWSSpecificationDrafts Drafts;
  void Assign(const TbrzWSSpecifications& other) { *this = other; }
};

// The client's proxy options: the socket proxy group with the client's default port.
struct TbrzWSProxy_Options : TbrzSocketProxy_Options {
  TbrzWSProxy_Options() { Port = 8080; }
};

}  // namespace brz
