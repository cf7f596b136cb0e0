// Which host a browser's request names: the Host header and the Origin header as skyvane-web judges them (a
// page of another site that had its name point here, DNS rebinding, names its own host). No Qt: fuzzed.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace web {

// The host name of a Host header or an origin's authority: "name:port", "[v6]:port", "[v6]" or a bare name
// (an IPv6 address bare too), lowercased, without brackets or port; nothing when it is malformed (empty, a
// port that is not 1 to 5 digits, a bracket unclosed, a character no host name has).
std::optional<std::string> hostName(std::string_view host);

// Whether a request naming `host` is for this server, known by `names` (lowercase).
bool hostAllowed(std::string_view host, const std::set<std::string>& names);

// Whether an Origin header is the page's own: empty (not a browser's page), or "http://" or "https://" then
// the same host name and port as `requestHost` (the port given or the scheme's).
bool sameOrigin(std::string_view origin, std::string_view requestHost);

}  // namespace web
