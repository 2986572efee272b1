#pragma once
// Splitting of URLs and of "scheme:host:port" texts.

#include <string>
#include <string_view>

namespace brz {

// Splits a URL by RFC 3986: protocol := scheme as written (empty without one); host := the host (an IPv6
// literal without its brackets); port := the port text (empty without one); path := the whole path (directory
// and document joined; empty when the URL has none, e.g. "ws://h"); query := the text after '?' up to '#',
// without '?'. User info ("user:pw@") and the fragment are dropped.
void SplitURL(std::string_view url, std::string& protocol, std::string& host, std::string& port, std::string& path,
              std::string& query);

// Splits text at every ':' (strict). Only with exactly three parts: tls := first part is "WSS" ignoring case;
// host := second part with every '/' removed; port := third part as an integer (EConvertError when not
// numeric); returns true. Otherwise returns false and sets nothing.
// SplitHostSpec("wss://host:443") gives "host", 443, true; SplitHostSpec("host:443") is false.
bool SplitHostSpec(std::string_view text, std::string& host, int& port, bool& tls);

}  // namespace brz
