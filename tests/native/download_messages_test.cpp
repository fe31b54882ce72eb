#include <gtest/gtest.h>

#include <optional>

#include "windows/portable/download_messages.h"

namespace vantile {
namespace {

constexpr const char* ADDRESS = "https://releases.example.test/m.json";

TEST(AnswerOrigin, DecidedOnlyByWhatIsKnown) {
    struct Case {
        const char* name;
        bool direct;
        std::uint32_t status;
        std::optional<bool> came_over_tls;
        Answerer answerer;
    };
    const Case cases[] = {
        {"direct, whatever the connection showed", true, 302, false, Answerer::Server},
        {"direct, nothing read", true, 404, std::nullopt, Answerer::Server},
        {"direct 407", true, 407, std::nullopt, Answerer::Server},
        {"through a proxy, over the server's TLS", false, 404, true, Answerer::Server},
        {"through a proxy, not over TLS", false, 503, false, Answerer::Proxy},
        {"through a proxy, a redirect not over TLS", false, 302, false, Answerer::Proxy},
        {"407 through a proxy, even over TLS", false, 407, true, Answerer::Proxy},
        {"407 through a proxy, nothing read", false, 407, std::nullopt, Answerer::Proxy},
        {"through a proxy, nothing read", false, 204, std::nullopt, Answerer::Unknown},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(answerer_of(c.direct, c.status, c.came_over_tls), c.answerer);
    }
}

TEST(AnswerMessage, NamesWhoAnsweredOrNeither) {
    EXPECT_EQ(answer_message(ADDRESS, 404, Answerer::Server),
              "https://releases.example.test/m.json answered HTTP 404, not the file.");
    EXPECT_EQ(answer_message(ADDRESS, 503, Answerer::Proxy),
              "The proxy server answered HTTP 503 instead of passing on "
              "https://releases.example.test/m.json.");
    EXPECT_EQ(answer_message(ADDRESS, 407, Answerer::Proxy),
              "The proxy server asks for a user name and password (HTTP 407) before it passes on "
              "https://releases.example.test/m.json; Vantile's installer cannot sign in to a "
              "proxy.");
    EXPECT_EQ(answer_message(ADDRESS, 302, Answerer::Unknown),
              "HTTP 302 came back instead of https://releases.example.test/m.json, from the proxy "
              "server or from the server behind it.");
}

}  // namespace
}  // namespace vantile
