#pragma once
// The installer's messages for a download that failed on the way: a call that failed, a body
// that stopped, an answer other than 200 (named as the server's or the proxy's). Kept apart
// from WinINet so that vantile-release, reading the same addresses another way, says the same.
#include <cstdint>
#include <optional>
#include <string>

namespace vantile {

inline constexpr std::uint32_t HTTP_STATUS_PROXY_SIGN_IN = 407;

// The User-Agent of every request the installer makes.
std::string installer_user_agent();

// `error` is the error text in WinINet's form ("… (Windows error 12002)").
std::string download_failed_message(const std::string& address, const std::string& error);
std::string download_stopped_message(const std::string& address, const std::string& error);
std::string start_failed_message(const std::string& error);

// Who gave an answer other than 200.
enum class Answerer { Server, Proxy, Unknown };

// Who gave the answer, from what is known of its request: whether it went straight to the
// servers, its status, and whether the answer came over the server's TLS connection (nullopt
// when that could not be read).
Answerer answerer_of(bool direct, std::uint32_t status, std::optional<bool> came_over_tls);

// A status other than 200, named as the answer of whoever gave it; when that cannot be known,
// the message names neither.
std::string answer_message(const std::string& address, std::uint32_t status, Answerer answerer);

}  // namespace vantile
