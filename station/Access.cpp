#include "station/Access.h"

#include <fcntl.h>
#include <unistd.h>

#include <utility>

namespace station {

namespace {

const char kCookie[] = "krt42_token";

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return text;
}

// "Bearer T" → T.
std::string BearerToken(const std::string& authorization) {
    static const std::string kBearer = "Bearer ";
    return authorization.compare(0, kBearer.size(), kBearer) == 0 ? authorization.substr(kBearer.size()) : "";
}

std::string CookieValue(const std::string& cookies, const std::string& name) {
    size_t at = 0;
    while (at < cookies.size()) {
        size_t end = cookies.find(';', at);
        if (end == std::string::npos) end = cookies.size();
        std::string pair = cookies.substr(at, end - at);
        const size_t first = pair.find_first_not_of(' ');
        pair = first == std::string::npos ? std::string() : pair.substr(first);
        if (pair.compare(0, name.size() + 1, name + "=") == 0) return pair.substr(name.size() + 1);
        at = end + 1;
    }
    return std::string();
}

bool ChangesSomething(const std::string& method) {
    return method != "GET" && method != "HEAD" && method != "OPTIONS";
}

}  // namespace

Access::Access(std::string listenHost, int listenPort, bool loopback, std::string token)
    : host_(std::move(listenHost)), port_(listenPort), loopback_(loopback), token_(std::move(token)) {}

bool Access::IsToken(const std::string& given) const {
    if (token_.empty() || given.size() != token_.size()) return false;
    unsigned char differs = 0;
    for (size_t i = 0; i < token_.size(); ++i) differs |= static_cast<unsigned char>(given[i] ^ token_[i]);
    return differs == 0;
}

std::string Access::TokenCookie() const {
    return std::string(kCookie) + "=" + token_ + "; Path=/; HttpOnly; SameSite=Strict";
}

bool Access::HostIsOurs(const std::string& hostHeader) const {
    // "name", "name:port", "[v6]" or "[v6]:port".
    std::string host = Lower(hostHeader), port;
    if (!host.empty() && host[0] == '[') {
        const size_t close = host.find(']');
        if (close == std::string::npos) return false;
        port = close + 1 < host.size() && host[close + 1] == ':' ? host.substr(close + 2) : std::string();
        host = host.substr(0, close + 1);
    } else {
        const size_t colon = host.rfind(':');
        if (colon != std::string::npos) {
            port = host.substr(colon + 1);
            host = host.substr(0, colon);
        }
    }
    if (!port.empty() && port != std::to_string(port_)) return false;
    if (host == "localhost" || host == "127.0.0.1" || host == "[::1]") return true;
    return host == Lower(host_) || "[" + host_ + "]" == host;
}

Refusal Access::Check(const std::string& method, const std::string& path, const std::string& host,
                      const std::string& origin, const std::string& fetchSite,
                      const std::string& authorization, const std::string& cookie,
                      const std::string& tokenParam) const {
    // A name that some web page rebinds to our address: the request was never meant for us.
    if (loopback_ && !HostIsOurs(host)) return {403, "this station answers only to its own address"};
    if (!token_.empty()) {
        const bool carried = IsToken(BearerToken(authorization)) || IsToken(CookieValue(cookie, kCookie)) ||
                             (method == "GET" && path == "/" && IsToken(tokenParam));
        if (!carried)
            return {401, "the station's token is missing: open the address it printed when it started"};
    }
    if (ChangesSomething(method)) {
        // A form of another site posts with its own Origin; the station's page with ours; a
        // program (curl, a script) with none.
        if (!origin.empty() && Lower(origin) != "http://" + Lower(host)) {
            return {403, "a request from another site is refused"};
        }
        if (origin.empty() && !fetchSite.empty() && fetchSite != "same-origin" && fetchSite != "none") {
            return {403, "a request from another site is refused"};
        }
    }
    return {};
}

std::string NewToken() {
    unsigned char bytes[32];
    const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::string();
    size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = ::read(fd, bytes + got, sizeof bytes - got);
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    if (got != sizeof bytes) return std::string();
    static const char kDigits[] = "0123456789abcdef";
    std::string token;
    for (unsigned char b : bytes) {
        token += kDigits[b >> 4];
        token += kDigits[b & 0x0F];
    }
    return token;
}

}  // namespace station
