#include "cli/Output.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "cli/Jobs.h"
#include "cli/Platform.h"
#include "cli/Text.h"
#include "framework/Mutex.h"

namespace cli {

namespace {

constexpr int kPlainEveryMs = 1000;
constexpr int kTerminalEveryMs = 100;
constexpr int kBarWidth = 30;

fw::Mutex& OutputLock() {
    static fw::Mutex mutex;
    return mutex;
}

bool g_stdoutOpen = true;
std::string g_dataFailure;

// Characters a terminal shows, not UTF-8 bytes.
size_t Width(const std::string& s) {
    size_t n = 0;
    for (char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

}  // namespace

void DataOutput::Init(bool open) {
    g_stdoutOpen = open;
}

bool DataOutput::Put(const std::string& text, const std::string& prefix) {
    fw::Lock lock(OutputLock());
    // A command that has no data to give (write, load) may run with standard output closed; one
    // that has fails at its first word.
    if (!g_stdoutOpen && g_dataFailure.empty()) g_dataFailure = "standard output is closed";
    if (!g_dataFailure.empty()) return false;
    std::string out;
    if (prefix.empty()) {
        out = text;
    } else {
        for (size_t start = 0; start < text.size();) {
            size_t end = text.find('\n', start);
            end = end == std::string::npos ? text.size() : end + 1;
            out += prefix + text.substr(start, end - start);
            start = end;
        }
    }
    errno = 0;
    if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::ferror(stdout)) {
        g_dataFailure = std::strerror(errno != 0 ? errno : EIO);
        return false;
    }
    return true;
}

std::string DataOutput::Finish() {
    fw::Lock lock(OutputLock());
    errno = 0;
    if (g_dataFailure.empty() && g_stdoutOpen && (std::fflush(stdout) != 0 || std::ferror(stdout))) {
        g_dataFailure = std::strerror(errno != 0 ? errno : EIO);
    }
    return g_dataFailure;
}

void Say(const std::string& line) {
    fw::Lock lock(OutputLock());
    std::fprintf(stderr, "krt42: %s\n", line.c_str());
    std::fflush(stderr);
}

OutputFile::~OutputFile() {
    if (file_ != nullptr) std::fclose(file_);
    if (!temp_.empty()) RemoveFile(temp_);
}

bool OutputFile::Prepare(const std::string& path, std::string* error) {
    path_ = path;
    int64_t size = 0;
    if (KindOf(path, &size) == FileKind::Directory) {
        *error = "cannot write " + path + ": it is a folder";
        return false;
    }
    std::string why;
    file_ = CreateTempBeside(path, &temp_, &why);
    if (file_ == nullptr) {
        *error = "cannot write " + path + ": " + why;
        return false;
    }
    return true;
}

bool OutputFile::Commit(const std::string& text, std::string* error) {
    errno = 0;
    const bool written = std::fwrite(text.data(), 1, text.size(), file_) == text.size();
    const bool flushed = std::fflush(file_) == 0 && !std::ferror(file_);
    const int writeErrno = errno;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    std::string why;
    if (!written || !flushed || !closed) {
        *error = "cannot write " + path_ + ": " + std::strerror(writeErrno != 0 ? writeErrno : EIO);
        return false;
    }
    if (!MoveIntoPlace(temp_, path_, &why)) {
        *error = "cannot write " + path_ + ": " + why;
        return false;
    }
    temp_.clear();
    return true;
}

std::string TableText(const std::vector<ConfigRow>& rows) {
    std::vector<std::vector<std::string>> table = {
        {"row", "param", "index", "value", "unit", "name", "answered"}};
    for (const ConfigRow& r : rows) {
        table.push_back({std::to_string(r.row), Printable(r.param), Printable(r.index), Printable(r.value),
                         Printable(r.unit), Printable(r.name), r.answered ? "yes" : "no"});
    }
    std::vector<size_t> widths(table[0].size(), 0);
    for (const auto& line : table) {
        for (size_t k = 0; k < line.size(); ++k) widths[k] = std::max(widths[k], Width(line[k]));
    }
    std::string out;
    for (const auto& line : table) {
        for (size_t k = 0; k < line.size(); ++k) {
            out += line[k];
            if (k + 1 < line.size()) out += std::string(widths[k] - Width(line[k]) + 2, ' ');
        }
        out += "\n";
    }
    return out;
}

LoadProgress::LoadProgress(const std::vector<std::string>& ports)
    : ports_(ports), states_(ports.size()), terminal_(IsTerminal(stderr)) {}

std::string LoadProgress::Line(size_t port) const {
    const State& s = states_[port];
    const int percent = s.total > 0 ? static_cast<int>(static_cast<int64_t>(s.done) * 100 / s.total) : 100;
    const int64_t blocksLeft = (s.total - s.done + loader::BLOCK_SIZE - 1) / loader::BLOCK_SIZE;
    const int secondsLeft = static_cast<int>((blocksLeft * TICK_MS + 999) / 1000);
    char text[160];
    if (terminal_) {
        char bar[kBarWidth + 1];
        const int filled = percent * kBarWidth / 100;
        for (int i = 0; i < kBarWidth; ++i) bar[i] = i < filled ? '#' : '.';
        bar[kBarWidth] = '\0';
        std::snprintf(text, sizeof text, "[%s] %3d%%  %d/%d bytes  restarts %d  %d:%02d left ", bar, percent,
                      static_cast<int>(s.done), static_cast<int>(s.total), s.restarts, secondsLeft / 60,
                      secondsLeft % 60);
    } else {
        std::snprintf(text, sizeof text, "load: %d%% %d/%d bytes, restarts %d, %d s left", percent,
                      static_cast<int>(s.done), static_cast<int>(s.total), s.restarts, secondsLeft);
    }
    return ports_.size() > 1 ? ports_[port] + ": " + text : text;
}

void LoadProgress::Update(size_t port, int32_t done, int32_t total, int restarts, bool last) {
    fw::Lock lock(OutputLock());
    State& s = states_[port];
    s.done = done;
    s.total = total;
    s.restarts = restarts;
    const int64_t now = NowMs();
    // Progress that goes nowhere (a closed pipe, a full disk) is simply not shown: no write
    // result is looked at here, and the load goes on.
    if (!terminal_) {
        if (!last && s.lastShownMs >= 0 && now - s.lastShownMs < kPlainEveryMs) return;
        s.lastShownMs = now;
        std::fprintf(stderr, "%s\n", Line(port).c_str());
        std::fflush(stderr);
        return;
    }
    s.shown = s.shown || last;
    if (!last && lastDrawMs_ >= 0 && now - lastDrawMs_ < kTerminalEveryMs) return;
    lastDrawMs_ = now;
    std::string out;
    // One line per port, redrawn where it stands: back up over the lines drawn before.
    if (drawn_ && ports_.size() > 1) out += "\x1b[" + std::to_string(ports_.size()) + "A";
    for (size_t p = 0; p < ports_.size(); ++p) {
        out += "\r" + Line(p) + (ports_.size() > 1 ? "\x1b[K\n" : "");
    }
    drawn_ = true;
    bool allDone = true;
    for (const State& st : states_) allDone = allDone && st.shown;
    if (ports_.size() == 1 && allDone) out += "\n";
    std::fputs(out.c_str(), stderr);
    std::fflush(stderr);
}

}  // namespace cli
