#include <curl/curl.h>
#include <openssl/x509_vfy.h>

#include <memory>

#include "base/text.h"
#include "release_tool/online_fetch.h"
#include "windows/portable/download_messages.h"
#include "windows/portable/error_text_forms.h"

namespace vantile {
namespace {

constexpr long CHUNK_SIZE = 65536;  // what the installer reads at a time

// The WinINet errors the installer would meet where libcurl meets these failures, with the
// text Windows (English) gives for them, so the messages are the installer's.
struct WinInetError {
    std::uint32_t code;
    std::u16string_view text;
};
constexpr WinInetError TIMED_OUT{12002, u"The operation timed out"};
constexpr WinInetError NAME_NOT_RESOLVED{12007,
                                         u"The server name or address could not be resolved"};
constexpr WinInetError CANNOT_CONNECT{12029,
                                      u"A connection with the server could not be established"};
constexpr WinInetError CONNECTION_ABORTED{
    12030, u"The connection with the server was terminated abnormally"};
constexpr WinInetError CERTIFICATE_NAME{
    12038, u"The certificate's CN name does not match the passed value"};
constexpr WinInetError INVALID_CA{12045, u"The certificate authority is invalid or incorrect"};
constexpr WinInetError SECURE_CHANNEL{12157, u"An error occurred in the secure channel support"};

std::string error_text(const WinInetError& error) {
    return windows_error_form(error.text, error.code);
}

struct EasyCleanup {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct ListCleanup {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// What the callbacks share while one request runs.
struct Exchange {
    CURL* handle = nullptr;
    const ChunkConsumer* consumer = nullptr;
    HostAnswer answer;
    std::uint64_t body_bytes = 0;
    bool stopped = false;  // the consumer asked to stop
    long stall_seconds = 0;
};

std::string lower(std::string_view text) {
    std::string lowered(text);
    for (char& c : lowered) c = ascii_lower(c);
    return lowered;
}

std::string trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ' ||
                             text.back() == '\t'))
        text.remove_suffix(1);
    return std::string(text);
}

// Each header line of each answer; a new status line (after a proxy's CONNECT answer, say)
// starts the record again, so what is kept is the final answer's.
std::size_t on_header(char* data, std::size_t size, std::size_t count, void* user) {
    auto& exchange = *static_cast<Exchange*>(user);
    const std::string_view line(data, size * count);
    if (line.starts_with("HTTP/")) {
        exchange.answer.content_encoding.reset();
        exchange.answer.content_length.reset();
        exchange.answer.location.reset();
        return size * count;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return size * count;
    const std::string name = lower(line.substr(0, colon));
    const std::string value = trimmed(line.substr(colon + 1));
    if (name == "content-encoding") exchange.answer.content_encoding = value;
    if (name == "content-length") exchange.answer.content_length = value;
    if (name == "location") exchange.answer.location = value;
    return size * count;
}

// Only a 200's body is the file; any other answer's body is read and dropped.
std::size_t on_body(char* data, std::size_t size, std::size_t count, void* user) {
    auto& exchange = *static_cast<Exchange*>(user);
    long status = 0;
    curl_easy_getinfo(exchange.handle, CURLINFO_RESPONSE_CODE, &status);
    if (status != 200) return size * count;
    exchange.body_bytes += size * count;
    if (!(*exchange.consumer)(data, size * count)) {
        exchange.stopped = true;
        return CURL_WRITEFUNC_ERROR;
    }
    return size * count;
}

void describe_tls_failure(Exchange& exchange, const std::string& address, const char* detail) {
    long verify = X509_V_OK;
    curl_easy_getinfo(exchange.handle, CURLINFO_SSL_VERIFYRESULT, &verify);
    // libcurl checks the name itself after OpenSSL's verification, and says so only in text.
    const bool name_mismatch = verify == X509_V_ERR_HOSTNAME_MISMATCH ||
                               std::string_view(detail).find("host name") != std::string_view::npos;
    const WinInetError& error = name_mismatch         ? CERTIFICATE_NAME
                                : verify != X509_V_OK ? INVALID_CA
                                                      : SECURE_CHANNEL;
    exchange.answer.failure = download_failed_message(address, error_text(error));
    exchange.answer.host_did =
        fill_template("fails the TLS handshake, so no installer gets past it: {}", {detail});
}

// The transfer ended with `code`: the installer's message and the publisher's line.
void describe_end(Exchange& exchange, const std::string& address, CURLcode code,
                  const char* detail) {
    HostAnswer& answer = exchange.answer;
    long status = 0;
    curl_easy_getinfo(exchange.handle, CURLINFO_RESPONSE_CODE, &status);
    long connect_status = 0;
    curl_easy_getinfo(exchange.handle, CURLINFO_HTTP_CONNECTCODE, &connect_status);
    if (status != 0) answer.status = status;

    if (connect_status != 0 && connect_status != 200) {
        answer.status = connect_status;
        answer.failure =
            answer_message(address, static_cast<std::uint32_t>(connect_status), Answerer::Proxy);
        answer.host_did = fill_template(
            "was not asked: the proxy (curl's https_proxy) answered HTTP {} to CONNECT",
            {std::to_string(connect_status)});
        return;
    }
    const bool got_answer = status != 0;
    const std::string after = got_answer ? fill_template("after {} bytes of the body",
                                                         {std::to_string(exchange.body_bytes)})
                                         : std::string("before its answer");
    switch (code) {
        case CURLE_OK:
        case CURLE_PARTIAL_FILE:
            break;
        case CURLE_WRITE_ERROR:
            if (exchange.stopped) {
                answer.complete = true;
                return;
            }
            break;
        case CURLE_OPERATION_TIMEDOUT:
            answer.failure = got_answer ? download_stopped_message(address, error_text(TIMED_OUT))
                                        : download_failed_message(address, error_text(TIMED_OUT));
            answer.host_did = fill_template("sent nothing for {} s {}",
                                            {std::to_string(exchange.stall_seconds), after});
            return;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            answer.unreachable = true;
            answer.failure = download_failed_message(address, error_text(NAME_NOT_RESOLVED));
            answer.host_did = fill_template("has a name that cannot be resolved: {}", {detail});
            return;
        case CURLE_COULDNT_CONNECT:
            answer.unreachable = true;
            answer.failure = download_failed_message(address, error_text(CANNOT_CONNECT));
            answer.host_did = fill_template("accepts no connection: {}", {detail});
            return;
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
            describe_tls_failure(exchange, address, detail);
            return;
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_GOT_NOTHING:
            answer.failure = got_answer
                                 ? download_stopped_message(address, error_text(CONNECTION_ABORTED))
                                 : download_failed_message(address, error_text(CONNECTION_ABORTED));
            answer.host_did = fill_template("broke the connection {}", {after});
            return;
        default:
            answer.failure = download_failed_message(address, detail);
            answer.host_did = fill_template("could not be read by libcurl: {}", {detail});
            return;
    }

    if (status != 200) {
        answer.failure =
            answer_message(address, static_cast<std::uint32_t>(status), Answerer::Server);
        answer.host_did =
            status >= 300 && status < 400
                ? fill_template(
                      "redirects (HTTP {}) to {}; the installer follows no "
                      "redirect, so the file must be served at this address itself",
                      {std::to_string(status), answer.location.value_or("nowhere")})
                : fill_template("answered HTTP {} instead of the file", {std::to_string(status)});
        return;
    }
    // A body cut short after its head ends, for WinINet, as an end of data: the size check
    // then names the difference.
    if (code == CURLE_PARTIAL_FILE)
        answer.host_did = fill_template(
            "closed the connection after {} bytes, though its Content-Length is {}",
            {std::to_string(exchange.body_bytes), answer.content_length.value_or("unknown")});
    answer.complete = true;
}

}  // namespace

HostAnswer fetch_from_host(const std::string& address, const ChunkConsumer& consumer,
                           const FetchSettings& settings) {
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    Exchange exchange;
    std::unique_ptr<CURL, EasyCleanup> handle(initialised ? curl_easy_init() : nullptr);
    if (!handle) {
        exchange.answer.failure = start_failed_message("libcurl could not start");
        return exchange.answer;
    }
    exchange.handle = handle.get();
    exchange.consumer = &consumer;
    char detail[CURL_ERROR_SIZE] = {};
    const std::string agent = installer_user_agent();
    const long stall_seconds =
        std::max<long>(1, static_cast<long>((settings.stall_limit.count() + 999) / 1000));
    // The installer's request: no cache answers, nothing asked to be compressed (so a body the
    // host compresses anyway arrives as it was sent), no redirect, no cookies.
    std::unique_ptr<curl_slist, ListCleanup> headers(
        curl_slist_append(nullptr, "Cache-Control: no-cache"));
    headers.reset(curl_slist_append(headers.release(), "Pragma: no-cache"));
    CURL* curl = handle.get();
    curl_easy_setopt(curl, CURLOPT_URL, address.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, agent.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, detail);
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, CHUNK_SIZE);
    exchange.stall_seconds = stall_seconds;
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, stall_seconds);
    // Less than a byte a second for the stall limit is a stall.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, stall_seconds);
    if (settings.ca_file) curl_easy_setopt(curl, CURLOPT_CAINFO, settings.ca_file->c_str());
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, on_header);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &exchange);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, on_body);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &exchange);
    const CURLcode code = curl_easy_perform(curl);
    describe_end(exchange, address, code, detail[0] != '\0' ? detail : curl_easy_strerror(code));
    return exchange.answer;
}

}  // namespace vantile
