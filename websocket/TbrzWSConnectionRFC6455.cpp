#include "websocket/TbrzWSConnectionRFC6455.h"

namespace brz {

TbrzWSConnectionClientRFC6455::TbrzWSConnectionClientRFC6455() : FCore(*this, *this) {
  FCore.Extensions().SetMode(TwsApplicationMode::appClient);
}

void TbrzWSConnectionClientRFC6455::SyncSettings() {
  FCore.SetMasked(Masked());
  FCore.SetValidateUTF8(ValidateUTF8());
  FCore.SetFragmentedMessages(FragmentedMessages());
}

void TbrzWSConnectionClientRFC6455::SendHandshakeRequest() {
  SyncSettings();
  TbrzWSOptionsClient options = Options();
  TbrzWSHandshakeRequest request;
  request.Parameters = options.Parameters();
  request.Host = Host();
  request.Port = Port();
  request.Origin = options.Origin;
  request.ExtraHeaders = options.Headers;
  FCore.SendHandshakeRequest(request, [this](std::vector<std::string>& lines) {
    if (OnHandshake) OnHandshake(Self(), lines);
  });
}

void TbrzWSConnectionClientRFC6455::ReadHandshake() {
  TbrzWSHandshakeProgress progress = FCore.ReadHandshakeResponse(static_cast<bool>(OnRedirect));
  if (!progress.Complete) return;
  if (progress.Redirect) {
    // Never enabled: the component reconnects to the new location.
    OnRedirect(Self(), progress.Location);
    return;
  }
  Enable();
}

void TbrzWSConnectionClientRFC6455::ReadWebSocketStep() {
  SyncSettings();
  FCore.ReadStep();
}

void TbrzWSConnectionClientRFC6455::WriteFrameText(const std::string& text, int size, TwsStreaming streaming) {
  SyncSettings();
  FCore.WriteText(text, size, streaming);
}

void TbrzWSConnectionClientRFC6455::WriteFrameStream(TbrzMemoryStream& stream, int size, TwsStreaming streaming) {
  SyncSettings();
  FCore.WriteStream(stream, size, streaming);
}

void TbrzWSConnectionClientRFC6455::Ping(const std::string& aText) {
  SyncSettings();
  FCore.Ping(aText);
}

void TbrzWSConnectionClientRFC6455::Close(int aCloseCode) {
  if (Transport() == TwsTransport::trpTCP) return TbrzWSConnectionClient::Close(aCloseCode);
  SyncSettings();
  FCore.Close(aCloseCode);
}

}  // namespace brz
