#include "websocket/TbrzWSConnectionCore.h"

#include <algorithm>
#include <chrono>

#include "common/Memory.h"
#include "common/Text.h"
#include "transport/TbrzSocketErrors.h"
#include "transport/TbrzWSException.h"
#include "websocket/TbrzWSFrameMessages.h"

namespace brz {

namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

const uint8_t* Bytes(const std::string& text) { return reinterpret_cast<const uint8_t*>(text.data()); }

}  // namespace

TbrzWSConnectionCore::TbrzWSConnectionCore(TbrzTCPConnection_Base& owner, IbrzWSConnectionHost& host)
    : FOwner(owner), FHost(host), FReader(*this, this), FHixie76Reader(*this) {
  for (auto* q : {&FQueueLevel0, &FQueueLevel1, &FQueueLevel2}) q->SetDuplicates(TDuplicates::dupAccept);
}

void TbrzWSConnectionCore::SetQueueOptions(const TbrzWSQueueOptions& value) {
  std::lock_guard<std::mutex> guard(FStateLock);
  FQueueOptions = value;
}

TbrzWSQueueOptions TbrzWSConnectionCore::QueueOptions() const {
  std::lock_guard<std::mutex> guard(FStateLock);
  return FQueueOptions;
}

std::string TbrzWSConnectionCore::Key() const {
  std::lock_guard<std::mutex> guard(FStateLock);
  return FKey;
}

std::shared_ptr<const TbrzWSHandShakeClient> TbrzWSConnectionCore::Handshake() const {
  std::lock_guard<std::mutex> guard(FStateLock);
  return FHandshake;
}

std::string TbrzWSConnectionCore::CloseReason() const {
  std::lock_guard<std::mutex> guard(FStateLock);
  return FCloseReason;
}

bool TbrzWSConnectionCore::IsRFC6455() const {
  TwsTransport t = FOwner.Transport();
  return t != TwsTransport::trpTCP && t != TwsTransport::trpSSE && FOwner.Specification() != TwsSpecification::spHixie76;
}

// --- Handshake ---

void TbrzWSConnectionCore::SendHandshakeRequest(TbrzWSHandshakeRequest request,
                                                const std::function<void(std::vector<std::string>&)>& onHeaders) {
  std::string key = NewWebSocketKey();
  {
    std::lock_guard<std::mutex> guard(FStateLock);
    FKey = key;
    FHandshake.reset();
  }
  FHeaderReader.Reset();
  request.Key = key;
  request.Protocol = FOwner.Protocol();
  FExtensions.WriteHeader(request.ExtensionLines);
  std::vector<std::string> lines = BuildHandshakeRequest(request);
  if (onHeaders) onHeaders(lines);
  std::string text = SerializeHeaderLines(lines);
  auto s = FOwner.Socket();
  if (!s) return;
  TbrzLock guard(FOwner.CS());
  s->BeginWriteBatch();
  try {
    s->WriteBytes(Bytes(text), text.size());
    FHost.AddSentBytes(static_cast<int64_t>(text.size()));
    s->FlushWriteBatch();
  } catch (...) {
    RunQuietly([&s] { s->EndWriteBatch(); });
    throw;
  }
  s->EndWriteBatch();
}

TbrzWSHandshakeProgress TbrzWSConnectionCore::ReadHandshakeResponse(bool canRedirect) {
  TbrzWSHandshakeProgress progress;
  auto s = FOwner.Socket();
  if (!s) return progress;
  // One byte at a time, so whatever follows the empty line stays buffered for the frame reader.
  while (!FHeaderReader.Complete() && s->BufferedCount() > 0) {
    TBytes b = s->ReadBuffered(1);
    if (b.empty()) break;
    FHost.AddReceivedBytes(1);
    FHeaderReader.Feed(b.data(), b.size());
  }
  if (!FHeaderReader.Complete()) return progress;
  auto response = std::make_shared<TbrzWSHandShakeClient>(ParseHandshakeResponse(FHeaderReader.Lines()));
  std::string key;
  {
    std::lock_guard<std::mutex> guard(FStateLock);
    FHandshake = response;
    key = FKey;
  }
  TbrzWSHandshakeVerdict verdict = AcceptHandshakeResponse(*response, key, FOwner.Protocol(), canRedirect);
  progress.Complete = true;
  if (verdict.Redirect) {
    progress.Redirect = true;
    progress.Location = verdict.Location;
    return progress;
  }
  FOwner.SetProtocol(verdict.Protocol);
  FExtensions.DecodeExtensions(verdict.Extensions);
  return progress;
}

// --- Reading ---

void TbrzWSConnectionCore::ResetReadState() {
  FReader.Reset();
  FHixie76Reader.Reset();
}

void TbrzWSConnectionCore::ReadStep() {
  auto s = FOwner.Socket();
  if (!s) return;
  size_t n = std::min(s->BufferedCount(), kReadChunkSize);
  TBytes chunk = n > 0 ? s->ReadBuffered(n) : TBytes();
  // A step that obtains nothing ends the connection rather than spinning.
  if (chunk.empty()) {
    FOwner.SetDisconnected(true);
    return;
  }
  FHost.AddReceivedBytes(static_cast<int64_t>(chunk.size()));
  if (FOwner.Specification() == TwsSpecification::spHixie76) {
    FHixie76Reader.Feed(chunk.data(), chunk.size());
    return;
  }
  TbrzWSReaderOptions& options = FReader.Options();
  options.RequireMasked = FRequireMasked.load();
  options.ValidateUTF8 = FValidateUTF8.load();
  options.FragmentedMessages = FFragmentedMessages.load();
  options.MaxMessageSize = FMaxMessageSize.load();
  FReader.Feed(chunk.data(), chunk.size());
}

void TbrzWSConnectionCore::AfterDelivery() {
  if (FOwner.Disconnected() || FOwner.MustDisconnect()) {
    FReader.Stop();
  }
}

void TbrzWSConnectionCore::WSText(const std::string& text) {
  // The component's handler stores the text; without one the connection keeps it itself.
  if (FOwner.OnMessage) {
    FOwner.OnMessage(FOwner.Self(), text);
  } else {
    FOwner.SetMsgReceived(text);
  }
  AfterDelivery();
}

void TbrzWSConnectionCore::WSBinary(TbrzMemoryStream& data) {
  data.SetPosition(0);
  if (FOwner.OnBinary) FOwner.OnBinary(FOwner.Self(), data);
  AfterDelivery();
}

void TbrzWSConnectionCore::WSFragment(TbrzMemoryStream& data, TOpcode opCode, bool continuation) {
  if (FOwner.OnFragmented) FOwner.OnFragmented(FOwner.Self(), data, opCode, continuation);
  AfterDelivery();
}

void TbrzWSConnectionCore::WSPing(const TBytes& payload) {
  // Answered at once from the read thread, under the main lock like every frame.
  WriteFrame(TOpcode::opPong, true, false, payload.data(), payload.size());
}

void TbrzWSConnectionCore::WSPong(const std::string& text) {
  FLastPong = NowMs();
  bool mismatch = false;
  {
    std::lock_guard<std::mutex> guard(FPingLock);
    if (!FPings.empty()) {
      auto it = std::find_if(FPings.begin(), FPings.end(), [&text](const PingItem& p) { return p.Text == text; });
      if (it != FPings.end()) {
        FPings.erase(it);
        FOwner.SetPong(text);
      } else {
        mismatch = true;
      }
    }
  }
  // A pong must answer one of the pings still pending.
  if (mismatch) WSViolation(msg::kWSPongMismatch, kWSCloseNormal);
}

void TbrzWSConnectionCore::WSClose(int code, const std::string& reason) {
  FOwner.SetCloseCode(code);
  {
    std::lock_guard<std::mutex> guard(FStateLock);
    FCloseReason = reason;
  }
  FOwner.SetDisconnected(true);
  FOwner.Disconnect(std::string(), kWSCloseNormal);
}

void TbrzWSConnectionCore::WSViolation(const std::string& message, int closeCode) {
  FReader.Stop();
  if (FReader.CloseCode() != 0) FOwner.SetCloseCode(FReader.CloseCode());
  // A peer sending more than we take is told why (1009) before the connection ends.
  const bool tellPeer = FOwner.CleanDisconnect() || closeCode == kWSCloseTooBig;
  if (FOwner.RaiseDisconnectExceptions()) {
    // Reported first (OnException), then the component drops the connection (OnDisconnect).
    if (tellPeer) RunQuietly([&] { SendCloseFrame(closeCode); });
    throw TbrzWSException(message);
  }
  if (tellPeer && !FOwner.CleanDisconnect()) RunQuietly([&] { SendCloseFrame(closeCode); });
  FOwner.SetDisconnected(true);
  FOwner.Disconnect(std::string(), closeCode);
}

void TbrzWSConnectionCore::Compress(TbrzMemoryStream& stream) {
  TBytes bytes = stream.ToBytes();
  FExtensions.WriteStream(bytes);
  stream.LoadFromBytes(bytes);
}

void TbrzWSConnectionCore::Decompress(TbrzMemoryStream& stream) {
  if (!FExtensions.MessageCompressed()) return;
  TBytes bytes = stream.ToBytes();
  FExtensions.ReadStream(bytes);
  stream.LoadFromBytes(bytes);
}

// --- Writing ---

void TbrzWSConnectionCore::WriteBytes(const uint8_t* data, size_t count) {
  auto s = FOwner.Socket();
  if (!s) return;
  TbrzLock guard(FOwner.CS());
  s->BeginWriteBatch();
  try {
    s->WriteBytes(data, count);
    FHost.AddSentBytes(static_cast<int64_t>(count));
    s->FlushWriteBatch();
  } catch (const std::exception& e) {
    RunQuietly([&s] { s->EndWriteBatch(); });
    throw TbrzWSException(FormatMsg(msg::kWSErrorWriting, e.what()));
  }
  s->EndWriteBatch();
}

void TbrzWSConnectionCore::WriteFrame(TOpcode opCode, bool fin, bool rsv1, const uint8_t* payload, size_t count) {
  TbrzLock guard(FOwner.CS());
  std::array<uint8_t, 4> key{};
  if (FMasked) key = FMaskGenerator.Next();
  TBytes frame = BuildWSFrame(opCode, fin, rsv1, payload, count, FMasked ? &key : nullptr);
  WriteBytes(frame.data(), frame.size());
}

void TbrzWSConnectionCore::SendMessage(TOpcode opCode, const uint8_t* data, size_t count, size_t cutLength, int size,
                                       TwsStreaming streaming) {
  // One message holds the main lock from its first to its last fragment: data frames of two callers
  // must never interleave (only control frames may come between fragments).
  TbrzLock guard(FOwner.CS());
  size_t fragmentSize = size > 0 ? static_cast<size_t>(size) : 0;
  // Only whole messages are compressed, once, with RSV1 on their first frame; pieces written by
  // separate calls go out plain, which every peer accepts.
  if (streaming == TwsStreaming::stmNone && FExtensions.Active()) {
    TBytes compressed(data, data + count);
    try {
      FExtensions.WriteStream(compressed);
    } catch (const std::exception& e) {
      throw TbrzWSException(FormatMsg(msg::kWSErrorDeflating, e.what()));
    }
    auto frames = PlanWSMessage(opCode, compressed.size(), compressed.size(), fragmentSize, streaming);
    for (size_t i = 0; i < frames.size(); ++i) {
      const auto& f = frames[i];
      WriteFrame(f.OpCode, f.Fin, i == 0, compressed.data() + f.Offset, f.Size);
    }
    return;
  }
  for (const auto& f : PlanWSMessage(opCode, count, cutLength, fragmentSize, streaming)) {
    WriteFrame(f.OpCode, f.Fin, false, data + f.Offset, f.Size);
  }
}

void TbrzWSConnectionCore::SendText(const std::string& text, int size, TwsStreaming streaming) {
  if (!FOwner.Enabled()) return;
  if (FOwner.Transport() == TwsTransport::trpTCP) return WriteBytes(Bytes(text), text.size());
  if (FOwner.Specification() == TwsSpecification::spHixie76) {
    TBytes frame = BuildHixie76Text(text);
    return WriteBytes(frame.data(), frame.size());
  }
  SendMessage(TOpcode::opText, Bytes(text), text.size(), UTF16Length(text), size, streaming);
}

void TbrzWSConnectionCore::SendStream(TbrzMemoryStream& stream, int size, TwsStreaming streaming) {
  if (!FOwner.Enabled()) return;
  if (FOwner.Transport() == TwsTransport::trpTCP) return WriteBytes(stream.Memory(), stream.Size());
  // Hixie-76 has no binary frames.
  if (FOwner.Specification() == TwsSpecification::spHixie76) return;
  SendMessage(TOpcode::opBinary, stream.Memory(), stream.Size(), stream.Size(), size, streaming);
}

void TbrzWSConnectionCore::WriteText(const std::string& text, int size, TwsStreaming streaming) {
  SendText(text, size, streaming);
}

void TbrzWSConnectionCore::WriteStream(TbrzMemoryStream& stream, int size, TwsStreaming streaming) {
  SendStream(stream, size, streaming);
}

void TbrzWSConnectionCore::SendCloseFrame(int code) {
  if (!FOwner.Enabled()) return;
  if (FOwner.Transport() == TwsTransport::trpTCP) return;
  if (FOwner.Specification() == TwsSpecification::spHixie76) {
    TBytes frame = BuildHixie76Close();
    return WriteBytes(frame.data(), frame.size());
  }
  uint8_t payload[2] = {static_cast<uint8_t>(code >> 8), static_cast<uint8_t>(code)};
  WriteFrame(TOpcode::opClose, true, false, payload, code < 0 ? 0 : 2);
}

void TbrzWSConnectionCore::Close(int code) {
  FOwner.SetDisconnected(true);
  if (auto s = FOwner.Socket()) s->ClearBuffered();
  SendCloseFrame(code);
}

// --- Pings ---

bool TbrzWSConnectionCore::ParkPing(const std::string& text) {
  TwsQueueMsgLevels level = QueueOptions().Ping.Level;
  if (level == TwsQueueMsgLevels::qmNone) return false;
  auto item = std::make_shared<TbrzQueueObject>();
  item->FText = text;
  item->FOpCode = TOpcode::opPing;
  Park(level, std::move(item));
  return true;
}

void TbrzWSConnectionCore::Ping(const std::string& text) {
  if (ParkPing(text)) return;
  SendPing(text);
}

void TbrzWSConnectionCore::RecordPing() {
  int64_t now = NowMs();
  int64_t never = 0;
  FFirstPing.compare_exchange_strong(never, now);
  FLastPing = now;
}

void TbrzWSConnectionCore::SendPing(const std::string& text) {
  if (!FOwner.Enabled()) return;
  if (FOwner.Transport() == TwsTransport::trpTCP) {
    RecordPing();
    return WriteBytes(Bytes(text), text.size());
  }
  WriteFramePing(text);
}

void TbrzWSConnectionCore::WriteFramePing(const std::string& text) {
  // Hixie-76 has no ping frames.
  if (!IsRFC6455()) return;
  // A longer payload does not fit a control frame: the peer would end the connection.
  if (text.size() > 125) throw TbrzWSException(msg::kWSPingTooLong);
  RecordPing();
  {
    std::lock_guard<std::mutex> guard(FPingLock);
    if (FPings.size() >= kMaxPendingPings) FPings.erase(FPings.begin());
    FPings.push_back({text, FLastPing.load()});
  }
  WriteFrame(TOpcode::opPing, true, false, Bytes(text), text.size());
}

// --- Parking ---

TbrzThreadList<TbrzQueueObjectPtr>* TbrzWSConnectionCore::QueueFor(TwsQueueMsgLevels level) {
  switch (level) {
    case TwsQueueMsgLevels::qmLevel0: return &FQueueLevel0;
    case TwsQueueMsgLevels::qmLevel1: return &FQueueLevel1;
    case TwsQueueMsgLevels::qmLevel2: return &FQueueLevel2;
    case TwsQueueMsgLevels::qmNone: break;
  }
  return nullptr;
}

void TbrzWSConnectionCore::Park(TwsQueueMsgLevels level, TbrzQueueObjectPtr item) {
  // A closing connection sends nothing more; its queues were emptied when it was marked.
  if (FOwner.Disconnected()) return;
  if (auto* q = QueueFor(level)) q->Add(item);
  // The read thread sends what is queued; a quiet one sleeps until woken.
  if (auto socket = FOwner.Socket()) socket->WakeWaiter();
}

bool TbrzWSConnectionCore::ParkText(const std::string& text, int size, TwsStreaming streaming) {
  TwsQueueMsgLevels level = QueueOptions().Text.Level;
  if (level == TwsQueueMsgLevels::qmNone) return false;
  auto item = std::make_shared<TbrzQueueObject>();
  item->FText = text;
  item->FSize = size;
  item->FStreaming = streaming;
  Park(level, std::move(item));
  return true;
}

bool TbrzWSConnectionCore::ParkStream(TbrzMemoryStream& stream, int size, TwsStreaming streaming) {
  TwsQueueMsgLevels level = QueueOptions().Binary.Level;
  if (level == TwsQueueMsgLevels::qmNone) return false;
  auto item = std::make_shared<TbrzQueueObject>();
  item->FStream = TbrzMemoryStream(stream.ToBytes());
  item->FSize = size;
  item->FStreaming = streaming;
  item->FOpCode = TOpcode::opBinary;
  Park(level, std::move(item));
  return true;
}

void TbrzWSConnectionCore::ClearQueues() {
  for (auto* q : {&FQueueLevel0, &FQueueLevel1, &FQueueLevel2}) q->Clear();
}

void TbrzWSConnectionCore::FlushQueues() {
  for (auto* q : {&FQueueLevel0, &FQueueLevel1, &FQueueLevel2}) {
    if (!FOwner.Enabled() || FOwner.Disconnected()) return;
    std::vector<TbrzQueueObjectPtr> items;
    {
      TbrzLock guard(q->Lock());
      auto& list = q->LockList();
      items.swap(list);
      q->UnlockList();
    }
    for (auto& item : items) {
      switch (item->FOpCode) {
        case TOpcode::opBinary: SendStream(item->FStream, item->FSize, item->FStreaming); break;
        case TOpcode::opPing: SendPing(item->FText); break;
        default: SendText(item->FText, item->FSize, item->FStreaming); break;
      }
    }
  }
}

}  // namespace brz
