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
