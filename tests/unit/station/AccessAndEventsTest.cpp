// Who may talk to the station, and the events a client that comes back still gets.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "station/Access.h"
#include "station/Events.h"

namespace station_test {

using station::Access;
using station::Events;

int Status(const Access& access, const std::string& method, const std::string& host,
           const std::string& origin = "", const std::string& site = "",
           const std::string& authorization = "", const std::string& cookie = "",
           const std::string& path = "/api/ports", const std::string& tokenParam = "") {
    return access.Check(method, path, host, origin, site, authorization, cookie, tokenParam).status;
}

TEST(Access, LoopbackAnswersItsOwnNamesAndRefusesOtherSitesChanges) {
    const Access access("127.0.0.1", 8042, true, "");
    for (const char* host :
         {"127.0.0.1:8042", "localhost:8042", "LOCALHOST:8042", "[::1]:8042", "localhost"}) {
        EXPECT_EQ(Status(access, "GET", host), 0) << host;
    }
    // A name that a page rebinds to our address, another port, nothing at all.
    for (const char* host : {"evil.example:8042", "127.0.0.1:8043", "", "127.0.0.1.evil.example:8042"}) {
        EXPECT_EQ(Status(access, "GET", host), 403) << host;
    }
    EXPECT_EQ(Status(access, "POST", "localhost:8042", "http://localhost:8042"), 0);
    EXPECT_EQ(Status(access, "POST", "localhost:8042"), 0);  // curl, a script: no Origin
    EXPECT_EQ(Status(access, "POST", "localhost:8042", "http://evil.example"), 403);
    EXPECT_EQ(Status(access, "POST", "localhost:8042", "http://127.0.0.1:8042"), 403);  // another origin
    EXPECT_EQ(Status(access, "POST", "localhost:8042", "", "cross-site"), 403);
    EXPECT_EQ(Status(access, "GET", "localhost:8042", "http://evil.example"), 0);  // reading changes nothing
}

TEST(Access, BeyondLoopbackEveryRequestCarriesTheToken) {
    const std::string token(64, 'a');
    const Access access("0.0.0.0", 8042, false, token);
    EXPECT_EQ(Status(access, "GET", "line-pc:8042"), 401);
    EXPECT_EQ(Status(access, "GET", "line-pc:8042", "", "", "Bearer " + token), 0);
    EXPECT_EQ(Status(access, "GET", "line-pc:8042", "", "", "Bearer " + token.substr(1) + "b"), 401);
    EXPECT_EQ(Status(access, "GET", "line-pc:8042", "", "", "Bearer " + token + "a"), 401);
    EXPECT_EQ(Status(access, "GET", "line-pc:8042", "", "", "", "lang=ru; krt42_token=" + token), 0);
    EXPECT_EQ(Status(access, "GET", "line-pc:8042", "", "", "", "krt42_token=" + token.substr(2)), 401);
    // The token's own address, for the page only.
    EXPECT_EQ(Status(access, "GET", "line-pc:8042", "", "", "", "", "/", token), 0);
    EXPECT_EQ(Status(access, "GET", "line-pc:8042", "", "", "", "", "/api/ports", token), 401);
    // With the token, a cross-site post is still refused.
    EXPECT_EQ(Status(access, "POST", "line-pc:8042", "http://evil.example", "", "Bearer " + token), 403);
    EXPECT_NE(access.TokenCookie().find("HttpOnly"), std::string::npos);
    EXPECT_NE(access.TokenCookie().find("SameSite=Strict"), std::string::npos);
    EXPECT_EQ(station::NewToken().size(), 64u);
    EXPECT_NE(station::NewToken(), station::NewToken());
}

TEST(Events, AClientThatComesBackGetsEveryResultEvenWhenTheRingHasMovedOn) {
    Events events;
    const int64_t before = events.LastId();
    const int64_t result = events.Publish("job", "{\"id\": 1}");
    for (size_t k = 0; k < Events::RING + 10; ++k) events.Publish("port", "{}");
    bool gap = false;
    const auto since = events.Since(before, &gap);
    EXPECT_TRUE(gap);  // port events are gone: the client reads the tray again
    ASSERT_FALSE(since.empty());
    EXPECT_EQ(since.front().id, result);
    EXPECT_EQ(since.size(), Events::RING + 1);
    for (size_t k = 1; k < since.size(); ++k) EXPECT_LT(since[k - 1].id, since[k].id);
    events.Since(events.LastId() - 3, &gap);
    EXPECT_FALSE(gap);
    EXPECT_EQ(station::SseText({7, "port", "{\"a\":\n1}"}), "id: 7\nevent: port\ndata: {\"a\": 1}\n\n");
}

TEST(Events, WaitEndsWithAnEventOrWithClose) {
    Events events;
    const int64_t last = events.LastId();
    std::thread publisher([&] { events.Publish("port", "{}"); });
    EXPECT_TRUE(events.Wait(last, 10000));
    publisher.join();
    EXPECT_GT(events.LastId(), last);
    std::thread closer([&] { events.Close(); });
    EXPECT_FALSE(events.Wait(events.LastId(), 10000));
    closer.join();
}

}  // namespace station_test
