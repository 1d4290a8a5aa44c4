#include "station/Events.h"

#include <algorithm>
#include <chrono>

namespace station {

int64_t Events::Publish(const std::string& type, const std::string& data) {
    int64_t id = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        id = next_++;
        ring_.push_back({id, type, data});
        if (ring_.size() > RING) ring_.pop_front();
        if (type == "job") {
            results_.push_back({id, type, data});
            if (results_.size() > RESULTS) results_.pop_front();
        }
    }
    changed_.notify_all();
    return id;
}

std::vector<Event> Events::Since(int64_t lastId, bool* gap) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Event> out;
    const int64_t oldest = ring_.empty() ? next_ : ring_.front().id;
    *gap = lastId + 1 < oldest;
    // Job events that the ring has already dropped come first, from the longer store.
    for (const Event& e : results_) {
        if (e.id > lastId && e.id < oldest) out.push_back(e);
    }
    for (const Event& e : ring_) {
        if (e.id > lastId) out.push_back(e);
    }
    return out;
}

bool Events::Wait(int64_t lastId, int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                      [&] { return closed_ || next_ - 1 > lastId; });
    return !closed_;
}

void Events::Close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
    }
    changed_.notify_all();
}

int64_t Events::LastId() {
    std::lock_guard<std::mutex> lock(mutex_);
    return next_ - 1;
}

std::string SseText(const Event& event) {
    // The data is one line of JSON: a line break inside it would split the event.
    std::string data = event.data;
    std::replace(data.begin(), data.end(), '\n', ' ');
    return "id: " + std::to_string(event.id) + "\nevent: " + event.type + "\ndata: " + data + "\n\n";
}

}  // namespace station
