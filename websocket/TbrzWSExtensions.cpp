#include "websocket/TbrzWSExtensions.h"

#include <string_view>

#include "websocket/ExtensionMessages.h"

namespace brz {

void TbrzWSExtensions::Assign(const TbrzWSExtensions& aSource) {
  FMode = aSource.FMode;
  FPerMessage_Deflate.Assign(aSource.FPerMessage_Deflate);
  FDeflateFrame.Assign(aSource.FDeflateFrame);
}

void TbrzWSExtensions::SetMode(TwsApplicationMode aValue) {
  FMode = aValue;
  FPerMessage_Deflate.SetMode(aValue);
  FDeflateFrame.SetMode(aValue);
}

void TbrzWSExtensions::SetMaxInflatedSize(size_t aValue) {
  FPerMessage_Deflate.SetMaxInflatedSize(aValue);
  FDeflateFrame.SetMaxInflatedSize(aValue);
}

void TbrzWSExtensions::WriteHeader(std::vector<std::string>& aHeader) const {
  if (FMode == TwsApplicationMode::appClient) {
    if (FPerMessage_Deflate.Enabled()) aHeader.push_back(kExtensionsHeader + FPerMessage_Deflate.OfferText());
    if (FDeflateFrame.Enabled()) aHeader.push_back(kExtensionsHeader + FDeflateFrame.GetName());
  } else if (FMode == TwsApplicationMode::appServer) {
    if (FPerMessage_Deflate.Active()) aHeader.push_back(FPerMessage_Deflate.GetHeaderExtension());
    if (FDeflateFrame.Active()) aHeader.push_back(FDeflateFrame.GetHeaderExtension());
  }
}

void TbrzWSExtensions::DecodeExtensions(const std::string& aExtensions) {
  // A second negotiation on the same object starts from nothing active and empty histories.
  FPerMessage_Deflate.ResetState();
  FDeflateFrame.ResetState();
  FExtensionNegotiated = false;
  const std::string_view value(aExtensions);
  size_t start = 0;
  for (;;) {
    const size_t at = value.find(',', start);
    const std::string item(value.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
    if (FPerMessage_Deflate.Enabled() && !FPerMessage_Deflate.Active() && FPerMessage_Deflate.DecodeExtension(item)) {
      FPerMessage_Deflate.FActive = true;
      FDeflateFrame.FActive = false;
    }
    if (FDeflateFrame.Enabled() && !FPerMessage_Deflate.Active() && !FDeflateFrame.Active() &&
        FDeflateFrame.DecodeExtension(item))
      FDeflateFrame.FActive = true;
    if (at == std::string_view::npos) break;
    start = at + 1;
  }
  FExtensionNegotiated = Active();
}

std::vector<std::string> TbrzWSExtensions::List() const {
  std::vector<std::string> names;
  if (FPerMessage_Deflate.Active()) names.emplace_back(kPerMessageDeflate);
  if (FDeflateFrame.Active()) names.emplace_back(kDeflateFrame);
  return names;
}

TbrzWSExtension_Base* TbrzWSExtensions::ActiveExtension() {
  if (FPerMessage_Deflate.Active()) return &FPerMessage_Deflate;
  if (FDeflateFrame.Active()) return &FDeflateFrame;
  return nullptr;
}

const TbrzWSExtension_Base* TbrzWSExtensions::ActiveExtension() const {
  return const_cast<TbrzWSExtensions*>(this)->ActiveExtension();
}

void TbrzWSExtensions::EncodeHeader(uint8_t& aByte) const {
  if (const auto* extension = ActiveExtension()) extension->EncodeHeader(aByte);
}

void TbrzWSExtensions::DecodeHeader(uint8_t aByte) {
  if (auto* extension = ActiveExtension()) extension->DecodeHeader(aByte);
}

bool TbrzWSExtensions::MessageCompressed() const {
  const auto* extension = ActiveExtension();
  return extension != nullptr && extension->MessageCompressed();
}

void TbrzWSExtensions::WriteStream(TBytes& aStream) {
  if (auto* extension = ActiveExtension()) extension->DeflateFrame(aStream);
}

void TbrzWSExtensions::ReadStream(TBytes& aStream) {
  auto* extension = ActiveExtension();
  if (extension != nullptr && extension->MessageCompressed()) extension->InflateFrame(aStream);
}

}  // namespace brz
