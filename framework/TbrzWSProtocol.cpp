#include "framework/TbrzWSProtocol.h"

#include <strings.h>

namespace brz {

namespace {

std::vector<std::string> SplitNames(const std::string& aText) {
  std::vector<std::string> names;
  size_t start = 0;
  while (true) {
    const size_t comma = aText.find(',', start);
    names.push_back(aText.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return names;
}

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

std::string TbrzWSProtocol::Guid() const {
  std::lock_guard<std::mutex> guard(FNameLock);
  return FGuid;
}

void TbrzWSProtocol::SetGuid(const std::string& aValue) {
  std::lock_guard<std::mutex> guard(FNameLock);
  FGuid = aValue;
}

std::string TbrzWSProtocol::Protocol() const {
  std::lock_guard<std::mutex> guard(FNameLock);
  return FProtocol;
}

void TbrzWSProtocol::SetProtocol(const std::string& aValue) {
  std::lock_guard<std::mutex> guard(FNameLock);
  FProtocol = aValue;
}

std::vector<std::string> TbrzWSProtocol::OfferedNames() const {
  const std::string guid = Guid();
  std::vector<std::string> names;
  for (const std::string& name : SplitNames(Protocol())) names.push_back(guid.empty() ? name : guid + "." + name);
  return names;
}

bool TbrzWSProtocol::MatchesProtocol(const std::string& aProtocolText) const {
  const std::string guid = Guid();
  const std::string protocol = Protocol();
  if (SameText(aProtocolText, protocol)) return true;
  if (!guid.empty() && SameText(aProtocolText, guid + "." + protocol)) return true;
  if (protocol.find(',') == std::string::npos) return false;
  for (const std::string& name : SplitNames(protocol)) {
    if (SameText(aProtocolText, name)) return true;
    if (!guid.empty() && SameText(aProtocolText, guid + "." + name)) return true;
  }
  return false;
}

std::string OfferedProtocolText(const std::vector<TbrzWSComponent_Base*>& aObjects) {
  std::string text;
  for (TbrzWSComponent_Base* object : aObjects) {
    const auto* protocol = dynamic_cast<const TbrzWSProtocol*>(object);
    if (!protocol) continue;
    for (const std::string& name : protocol->OfferedNames()) {
      if (!text.empty()) text += ",";
      text += name;
    }
  }
  return text;
}

std::vector<TbrzWSComponent_Base*> MatchingProtocolObjects(const std::vector<TbrzWSComponent_Base*>& aObjects,
                                                           const std::string& aProtocolText, bool aFirstOnly) {
  std::vector<TbrzWSComponent_Base*> matches;
  for (TbrzWSComponent_Base* object : aObjects) {
    const auto* protocol = dynamic_cast<const TbrzWSProtocol*>(object);
    if (!protocol || !protocol->MatchesProtocol(aProtocolText)) continue;
    matches.push_back(object);
    if (aFirstOnly) break;
  }
  return matches;
}

}  // namespace brz
