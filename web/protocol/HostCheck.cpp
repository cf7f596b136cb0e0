// Host and Origin as skyvane-web reads them.
#include "HostCheck.h"

#include <algorithm>
#include <cctype>

namespace web {
namespace {

struct Authority {
  std::string name;
  std::optional<std::string> port;
};

std::optional<Authority> authority(std::string_view host) {
  Authority a;
  std::string_view name = host;
  if (host.starts_with('[')) {
    const std::size_t close = host.find(']');
    if (close == std::string_view::npos) {
      return std::nullopt;
    }
    name = host.substr(1, close - 1);
    const std::string_view rest = host.substr(close + 1);
    if (!rest.empty()) {
      if (!rest.starts_with(':')) {
        return std::nullopt;
      }
      a.port = std::string(rest.substr(1));
    }
  } else if (std::count(host.begin(), host.end(), ':') == 1) {
    const std::size_t colon = host.find(':');
    name = host.substr(0, colon);
    a.port = std::string(host.substr(colon + 1));
  }
  if (a.port && (a.port->empty() || a.port->size() > 5 ||
                 !std::all_of(a.port->begin(), a.port->end(), [](char c) { return c >= '0' && c <= '9'; }))) {
    return std::nullopt;
  }
  const bool usable = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == ':' || c == '_';
  });
  if (!usable) {
    return std::nullopt;
  }
  a.name.resize(name.size());
  std::transform(name.begin(), name.end(), a.name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return a;
}

}  // namespace

std::optional<std::string> hostName(std::string_view host) {
  std::optional<Authority> a = authority(host);
  return a ? std::optional(std::move(a->name)) : std::nullopt;
}

bool hostAllowed(std::string_view host, const std::set<std::string>& names) {
  const std::optional<std::string> name = hostName(host);
  return name && names.contains(*name);
}

bool sameOrigin(std::string_view origin, std::string_view requestHost) {
  if (origin.empty()) {
    return true;
  }
  std::string_view defaultPort;
  if (origin.starts_with("http://")) {
    origin.remove_prefix(7);
    defaultPort = "80";
  } else if (origin.starts_with("https://")) {
    origin.remove_prefix(8);
    defaultPort = "443";
  } else {
    return false;
  }
  const std::optional<Authority> page = authority(origin);
  const std::optional<Authority> asked = authority(requestHost);
  return page && asked && page->name == asked->name &&
         page->port.value_or(std::string(defaultPort)) == asked->port.value_or("80");
}

}  // namespace web
