// The station's live events: every change of a port and every job that starts or ends, numbered
// in one sequence, kept in a short ring for clients that reconnect, and sent to each event-stream
// client as Server-Sent Events. A job's end is kept longer than progress, so that a client that
// comes back with Last-Event-ID misses no result.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace station {

struct Event {
    int64_t id = 0;
    std::string type;  // "port" or "job"
    std::string data;  // one JSON object
};

class Events {
  public:
    static constexpr std::size_t RING = 1024;     // recent events of every kind
    static constexpr std::size_t RESULTS = 4096;  // recent job events, kept however busy the ring is

    // Adds an event; wakes every waiting stream. Gives its id.
    int64_t Publish(const std::string& type, const std::string& data);

    // The events after `lastId` that are still kept, oldest first: those of
    // the ring, and every job event since then even when the ring has moved past it. `gap`: some
    // port events after lastId are gone (the client should fetch the tray again).
    std::vector<Event> Since(int64_t lastId, bool* gap);

    // Waits until an event after `lastId` exists, the wait runs out, or Close; false on Close.
    bool Wait(int64_t lastId, int timeoutMs);
    // Ends every wait for good (the station stops).
    void Close();

    int64_t LastId();

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Event> ring_;
    std::deque<Event> results_;
    int64_t next_ = 1;
    bool closed_ = false;
};

// An event in the stream's own form: "id: N\nevent: TYPE\ndata: JSON\n\n".
std::string SseText(const Event& event);

}  // namespace station
