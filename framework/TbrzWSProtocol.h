#pragma once
// Sub-protocol objects: a protocol (such as the MQTT engine) attaches to a client component and then
// receives the events of the client's connections that negotiated its name, instead of the client's
// own handlers, and writes through the client.
//
// TbrzWSProtocol carries the name(s), the optional "Guid." prefix and how binary data is treated;
// TbrzWSProtocol_Client adds the client it is attached to; TbrzWSProtocol_Client_Base writes through
// it. Attaching and detaching are meant to happen before connecting: the client's list of attached
// objects is not locked. Events reach an object on the thread the client delivers them on.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "framework/TbrzWSComponent_Base.h"
#include "transport/TbrzTransportTypes.h"

namespace brz {

class TbrzWSComponent_WSClient;

// How a protocol object takes binary messages: msgText turns raw TCP bytes into text messages.
enum class TwsProtocolMessage : uint8_t { msgText, msgBinary, msgTextBinary };

using TbrzRawMessageEvent =
    std::function<void(const TbrzConnectionPtr& Connection, const std::string& Text, bool& Handled)>;

class TbrzWSProtocol : public TbrzWSComponent_Base {
 public:
  // Optional prefix: when not empty the names are offered and matched as Guid.Name.
  std::string Guid() const;
  void SetGuid(const std::string& aValue);
  // One name, or several separated by commas.
  std::string Protocol() const;
  void SetProtocol(const std::string& aValue);
  TwsProtocolMessage MsgType() const { return FMsgType.load(); }
  void SetMsgType(TwsProtocolMessage aValue) { FMsgType.store(aValue); }

  TbrzRawMessageEvent OnRawMessage;

  // The names this object offers in a handshake, in order ("Guid.Name" when a Guid is set).
  std::vector<std::string> OfferedNames() const;
  // Case-insensitive: the connection's protocol text equals Guid.Protocol or Protocol, or, for a
  // list of names, Guid.Name or Name of one of them.
  bool MatchesProtocol(const std::string& aProtocolText) const;

  // Asked on every heartbeat tick of the client for a connection running this protocol: true when
  // the protocol keeps the connection alive itself, so the client sends no ping of its own.
  virtual bool DoProtocolHeartBeat(const TbrzConnectionPtr& /*aConnection*/) { return false; }

 private:
  mutable std::mutex FNameLock;  // guards FGuid, FProtocol
  std::string FGuid;
  std::string FProtocol;
  std::atomic<TwsProtocolMessage> FMsgType{TwsProtocolMessage::msgText};
};

// The comma-separated sub-protocol list a client offers for its attached objects, in attachment
// order; objects that are no protocol objects offer nothing.
std::string OfferedProtocolText(const std::vector<TbrzWSComponent_Base*>& aObjects);
// The attached objects whose names match a connection's protocol text, in attachment order;
// aFirstOnly stops at the first (disconnects go to one object only).
std::vector<TbrzWSComponent_Base*> MatchingProtocolObjects(const std::vector<TbrzWSComponent_Base*>& aObjects,
                                                           const std::string& aProtocolText, bool aFirstOnly);

}  // namespace brz
