// Who may talk to the station. It changes firmware on devices, so nobody reaches it by accident:
// on a loopback address it answers only requests addressed to that address or to localhost (a web
// page that rebinds its own name to 127.0.0.1 gets nothing); on any other address every request
// carries the token; and a request that changes something comes from the station's own page or
// from no page at all, never from another site's form.
#pragma once

#include <string>

namespace station {

struct Refusal {
    int status = 0;  // 0: let it through
    std::string reason;
};

class Access {
  public:
    // `token` empty: loopback, no token needed.
    Access(std::string listenHost, int listenPort, bool loopback, std::string token);

    // The answer to a request before it is routed: its method, its path, and the headers asked
    // for by name (Host, Origin, Sec-Fetch-Site, Authorization, Cookie).
    template <class Request>
    Refusal Check(const Request& req) const {
        return Check(req.method, req.path, req.get_header_value("Host"), req.get_header_value("Origin"),
                     req.get_header_value("Sec-Fetch-Site"), req.get_header_value("Authorization"),
                     req.get_header_value("Cookie"),
                     req.has_param("token") ? req.get_param_value("token") : "");
    }
    Refusal Check(const std::string& method, const std::string& path, const std::string& host,
                  const std::string& origin, const std::string& fetchSite, const std::string& authorization,
                  const std::string& cookie, const std::string& tokenParam) const;

    bool TokenNeeded() const { return !token_.empty(); }
    // Whether `given` is the token, in time that does not depend on where they differ.
    bool IsToken(const std::string& given) const;
    // The cookie that the token's URL sets: HttpOnly, SameSite=Strict.
    std::string TokenCookie() const;

  private:
    bool HostIsOurs(const std::string& host) const;

    std::string host_;
    int port_;
    bool loopback_;
    std::string token_;
};

// A new token: 32 random bytes as hex, from the system's random source; "" when there is none.
std::string NewToken();

}  // namespace station
