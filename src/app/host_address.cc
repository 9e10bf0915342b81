#include "app/host_address.h"

#include <string_view>

namespace tandrel {

namespace {

bool parsePort(std::string_view text, int& port) {
  if (text.empty() || text.size() > 5) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > 65535) return false;
  port = value;
  return true;
}

}  // namespace

bool parseHostArgument(const std::string& text, ServerAddress& address, std::string& problem) {
  std::string_view rest = text;
  address = ServerAddress{};
  if (rest.starts_with("ftp://")) {
    rest.remove_prefix(6);
  } else if (rest.starts_with("ftps://")) {
    rest.remove_prefix(7);
    address.security = Security::implicit;
    address.port = 990;
  } else if (rest.starts_with("ftpes://")) {
    rest.remove_prefix(8);
    address.security = Security::explicit_;
  }
  // A path after the host, in every form, is ignored: the server directory is
  // -s alone, so there is one way to give it.
  if (size_t slash = rest.find('/'); slash != std::string_view::npos) rest = rest.substr(0, slash);
  if (rest.starts_with("[")) {
    size_t close = rest.find(']');
    if (close == std::string_view::npos) {
      problem = "missing ']'";
      return false;
    }
    address.host = std::string(rest.substr(1, close - 1));
    std::string_view after = rest.substr(close + 1);
    if (after.empty()) return true;
    if (after[0] != ':' || !parsePort(after.substr(1), address.port)) {
      problem = "invalid port";
      return false;
    }
    return true;
  }
  size_t colon = rest.find(':');
  if (colon != std::string_view::npos && rest.find(':', colon + 1) == std::string_view::npos) {
    address.host = std::string(rest.substr(0, colon));
    if (!parsePort(rest.substr(colon + 1), address.port)) {
      problem = "invalid port";
      return false;
    }
    return true;
  }
  // No colon, or several: a name, or an IPv6 address without a port.
  address.host = std::string(rest);
  return true;
}

}  // namespace tandrel
