// Where the client connects when the command line names no server. The host is also the
// one the account-link key is checked against, so it names the official server only.
#pragma once

#include <cstdint>
#include <string_view>

namespace kestrel {

inline constexpr std::string_view default_server_host = "play.kestrel-game.net";
inline constexpr std::uint32_t default_server_port = 7777;

// The game's web site: crew invites ("/?crew=" + code) and account links ("/#link=" + key)
// point here.
inline constexpr std::string_view web_site = "https://kestrel-game.net";

} // namespace kestrel
