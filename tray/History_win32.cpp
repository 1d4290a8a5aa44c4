// The Windows build keeps no job history (it has no SQLite): Open says so, so that `history` and
// --history can tell the user rather than pretend; every other call does nothing.
#include "tray/History.h"

namespace tray {

// The layout that the Linux build writes; nothing here reads or writes it.
const int History::SCHEMA_VERSION = 2;

struct History::Impl {
    std::string error = "the job history is not available on Windows";
};

History::History() : impl_(new Impl) {}

History::~History() = default;

bool History::Available() {
    return false;
}

bool History::Open(const std::string& path, std::string* error) {
    if (error != nullptr) *error = impl_->error;
    return false;
}

bool History::IsOpen() const {
    return false;
}

int History::MarkInterrupted() {
    return 0;
}

int64_t History::Begin(const JobRecord& record) {
    return 0;
}

bool History::End(const JobRecord& record) {
    return false;
}

std::vector<JobRecord> History::List(const HistoryFilter& filter) {
    return std::vector<JobRecord>();
}

bool History::Find(int64_t id, JobRecord* record) {
    return false;
}

const std::string& History::Error() const {
    return impl_->error;
}

}  // namespace tray
