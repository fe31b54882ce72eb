#include "windows/portable/download_messages.h"

#include "base/text.h"
#include "base/version.h"

namespace vantile {

std::string installer_user_agent() {
    return fill_template("Vantile-Install/{}", {PROGRAM_VERSION});
}

std::string download_failed_message(const std::string& address, const std::string& error) {
    return fill_template("Could not download {}: {}", {address, error});
}

std::string download_stopped_message(const std::string& address, const std::string& error) {
    return fill_template("The download of {} stopped: {}", {address, error});
}

std::string start_failed_message(const std::string& error) {
    return fill_template("Could not start a download: {}", {error});
}

// Without a proxy, every answer is the server's. Through one, its own answer to CONNECT (407 to
// sign in, 403 by policy, 503 when the host is down, a redirect elsewhere) comes back as the
// request's status; only the server's own answer comes over the TLS connection made through
// the tunnel. A 407 is a proxy's by definition.
Answerer answerer_of(bool direct, std::uint32_t status, std::optional<bool> came_over_tls) {
    if (direct) return Answerer::Server;
    if (status == HTTP_STATUS_PROXY_SIGN_IN) return Answerer::Proxy;
    if (!came_over_tls) return Answerer::Unknown;
    return *came_over_tls ? Answerer::Server : Answerer::Proxy;
}

std::string answer_message(const std::string& address, std::uint32_t status, Answerer answerer) {
    switch (answerer) {
        case Answerer::Server:
            return fill_template("{} answered HTTP {}, not the file.",
                                 {address, std::to_string(status)});
        case Answerer::Proxy:
            if (status == HTTP_STATUS_PROXY_SIGN_IN) {
                return fill_template(
                    "The proxy server asks for a user name and password (HTTP 407) before it "
                    "passes on {}; Vantile's installer cannot sign in to a proxy.",
                    {address});
            }
            return fill_template("The proxy server answered HTTP {} instead of passing on {}.",
                                 {std::to_string(status), address});
        case Answerer::Unknown:
            break;
    }
    return fill_template(
        "HTTP {} came back instead of {}, from the proxy server or from the server behind it.",
        {std::to_string(status), address});
}

}  // namespace vantile
