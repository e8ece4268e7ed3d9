// What makes a change come from the page itself: a POST from the page's own
// origin, carrying a token that only dcuweb can make. The token is an HMAC
// (SHA-256) of the user and the hour, keyed with a secret made on the unit
// ("/var/lib/dcu-web/token-secret", made at installation or by the first
// run, readable by dcuweb's user only), so another site can neither read
// one (its scripts can't read the page's answers) nor make one.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace dcu::web::access {

inline constexpr std::string_view kSecretFile = "/var/lib/dcu-web/token-secret";
// A token is made for the current hour and holds through the next.
inline constexpr std::time_t kWindowSeconds = 3600;

// "<window>.<64 hex digits>" for user at now; nothing when the secret can't
// be read or made.
std::optional<std::string> token_for(std::string_view user, std::time_t now);

// Whether token is one token_for gave user in this window or the one before.
bool token_valid(std::string_view token, std::string_view user, std::time_t now);

// Whether origin (the Origin header) is the page's own: the request's own
// scheme and Host.
bool same_origin(std::string_view origin, std::string_view scheme, std::string_view host);

}  // namespace dcu::web::access
