#include "server/TbrzWSConnectionServer.h"

#include <algorithm>
#include <chrono>

#include "common/Encoding.h"
#include "common/HttpRequest.h"
#include "common/Memory.h"
#include "common/Text.h"
#include "transport/TbrzWSException.h"

namespace brz {

namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int64_t WallMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

void TbrzReplayIOHandler::Unread(const TBytes& bytes) {
  std::lock_guard<std::mutex> guard(FReplayLock);
  FReplay.insert(FReplay.begin(), bytes.begin(), bytes.end());
}

ssize_t TbrzReplayIOHandler::Read(void* buffer, size_t size) {
  {
    std::lock_guard<std::mutex> guard(FReplayLock);
    if (!FReplay.empty()) {
      size_t n = std::min(size, FReplay.size());
      std::copy_n(FReplay.begin(), n, static_cast<uint8_t*>(buffer));
      FReplay.erase(FReplay.begin(), FReplay.begin() + static_cast<std::ptrdiff_t>(n));
      return static_cast<ssize_t>(n);
    }
  }
  return FInner->Read(buffer, size);
}

bool TbrzReplayIOHandler::Readable(int ms) {
  if (Pending() > 0) return true;
  return FInner->Readable(ms);
}

size_t TbrzReplayIOHandler::Pending() {
  {
    std::lock_guard<std::mutex> guard(FReplayLock);
    if (!FReplay.empty()) return FReplay.size();
  }
  return FInner->Pending();
}

TbrzWSConnectionServer::TbrzWSConnectionServer() : FCore(*this, *this) {
  FCore.Extensions().SetMode(TwsApplicationMode::appServer);
  FCore.SetMasked(false);
  FCore.SetRequireMasked(true);
  FCore.SetMaxMessageSize(kMaxMessageSize);
  FCore.Extensions().SetMaxInflatedSize(kMaxMessageSize);
  FAcceptedAt = NowMs();
}

std::string TbrzWSConnectionServer::ServerOriginsAllowed() const {
  std::lock_guard<std::mutex> guard(FServerLock);
  return FServerOriginsAllowed;
}

void TbrzWSConnectionServer::SetServerOriginsAllowed(const std::string& value) {
  std::lock_guard<std::mutex> guard(FServerLock);
  FServerOriginsAllowed = value;
}

void TbrzWSConnectionServer::SetIPVersion(TwsIPVersion value) {
  std::lock_guard<std::mutex> guard(FCacheLock);
  FIPVersion = value;
  FIPVersionKnown = true;
}

void TbrzWSConnectionServer::SetRequest(std::vector<std::string> lines, TBytes rest) {
  FRequest = std::move(lines);
  FRequestRest = std::move(rest);
  std::lock_guard<std::mutex> guard(FServerLock);
  FURLKnown = false;
}

std::string TbrzWSConnectionServer::GetURL() {
  std::lock_guard<std::mutex> guard(FServerLock);
  if (!FURLKnown) {
    FURL = RequestTarget(FRequest);
    FURLKnown = true;
  }
  return FURL;
}

void TbrzWSConnectionServer::Subscribe(const std::string& channel) {
  {
    TbrzLock list(CS(kCSSubscriptions));
    std::lock_guard<std::mutex> guard(FServerLock);
    if (!FChannels.insert(channel).second) return;
  }
  if (OnSubscription) OnSubscription(Self(), channel, true);
}

void TbrzWSConnectionServer::UnSubscribe(const std::string& channel) {
  {
    TbrzLock list(CS(kCSSubscriptions));
    std::lock_guard<std::mutex> guard(FServerLock);
    if (FChannels.erase(channel) == 0) return;
  }
  if (OnSubscription) OnSubscription(Self(), channel, false);
}

bool TbrzWSConnectionServer::Subscribed(const std::string& channel) const {
  std::lock_guard<std::mutex> guard(FServerLock);
  return FChannels.count(channel) > 0;
}

std::vector<std::string> TbrzWSConnectionServer::Channels() const {
  std::lock_guard<std::mutex> guard(FServerLock);
  return {FChannels.begin(), FChannels.end()};
}

std::string TbrzWSConnectionServer::TextTerminator() const {
  std::lock_guard<std::mutex> guard(FServerLock);
  return FTextTerminator;
}

void TbrzWSConnectionServer::SetTextTerminator(const std::string& value) {
  std::lock_guard<std::mutex> guard(FServerLock);
  FTextTerminator = value;
}

void TbrzWSConnectionServer::WriteData(const std::string& text, int size, TwsStreaming streaming) {
  if (Transport() == TwsTransport::trpTCP) {
    std::string terminator = TextTerminator();
    if (!terminator.empty()) return TbrzWSConnection_Socket::WriteData(text + terminator, size, streaming);
  }
  TbrzWSConnection_Socket::WriteData(text, size, streaming);
}

void TbrzWSConnectionServer::SyncSettings() {
  FCore.SetValidateUTF8(ValidateUTF8());
  FCore.SetFragmentedMessages(FragmentedMessages());
}

void TbrzWSConnectionServer::WriteResponse(const std::vector<std::string>& lines, const TBytes& answer) {
  auto s = Socket();
  if (!s) return;
  std::string text = SerializeHeaderLines(lines);
  TbrzLock guard(CS());
  s->BeginWriteBatch();
  try {
    s->WriteBytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    s->WriteBytes(answer);
    FSendBytes += static_cast<int64_t>(text.size() + answer.size());
    s->FlushWriteBatch();
  } catch (...) {
    RunQuietly([&s] { s->EndWriteBatch(); });
    throw;
  }
  s->EndWriteBatch();
}

void TbrzWSConnectionServer::DoHandshake() {
  SyncSettings();
  FHandshake = TbrzWSHandShakeServer();
  FHandshake.Parse(FRequest, std::string_view(reinterpret_cast<const char*>(FRequestRest.data()), FRequestRest.size()));
  SetSpecification(FHandshake.GetSpecification());

  SetProtocol(FHandshake.FIsProtocols ? SelectSubProtocol(FHandshake.FProtocols, Protocol()) : std::string());
  if (FHandshake.FIsOrigin) CheckOrigin(ServerOriginsAllowed(), FHandshake.FOrigin);
  FCore.Extensions().DecodeExtensions(FHandshake.FExtensions);

  std::vector<std::string> lines;
  TBytes answer;
  if (Specification() == TwsSpecification::spHixie76) {
    if (Transport() == TwsTransport::trpUndefined) SetTransport(TwsTransport::trpHixie76);
    lines = Hixie76ResponseLines(FHandshake, Protocol());
    answer = Hixie76Answer(FHandshake.FKey1, FHandshake.FKey2, HexToBytes(FHandshake.FKey3));
  } else {
    if (Transport() == TwsTransport::trpUndefined) SetTransport(TwsTransport::trpRFC6455);
    std::vector<std::string> extensionLines;
    FCore.Extensions().WriteHeader(extensionLines);
    lines = RFC6455ResponseLines(FHandshake.FKey, Protocol(), extensionLines);
  }
  if (OnHandshake) OnHandshake(Self(), lines);
  WriteResponse(lines, answer);
  Enable();
  if (AuthenticationCloseCode() != 1000) Close(AuthenticationCloseCode());
}

void TbrzWSConnectionServer::Enable() {
  FEnabledAt = WallMs();
  SetEnabled(true);
  if (OnUpdate) OnUpdate(Self());
}

void TbrzWSConnectionServer::ReadWebSocketStep() {
  SyncSettings();
  FCore.ReadStep();
}

void TbrzWSConnectionServer::WriteFrameText(const std::string& text, int size, TwsStreaming streaming) {
  FCore.WriteText(text, size, streaming);
}

void TbrzWSConnectionServer::WriteFrameStream(TbrzMemoryStream& stream, int size, TwsStreaming streaming) {
  FCore.WriteStream(stream, size, streaming);
}

void TbrzWSConnectionServer::Close(int aCloseCode) {
  if (Transport() == TwsTransport::trpTCP) return TbrzWSConnection_Socket::Close(aCloseCode);
  FCore.Close(aCloseCode);
}

}  // namespace brz
