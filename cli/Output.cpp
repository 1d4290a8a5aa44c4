#include "cli/Output.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "framework/Mutex.h"
#include "tray/Exit.h"
#include "tray/Platform.h"
#include "tray/Text.h"

namespace cli {

using namespace tray;

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

std::string ForbiddenTarget(const std::string& path, const std::vector<std::string>& ports, TargetKind* kind,
                            std::string* resolved) {
    *kind = TargetOf(path, resolved);
    for (const std::string& port : ports) {
        if (SameFile(*resolved, PortDevice(port))) return path + " is the port " + port;
    }
    if (*kind == TargetKind::Terminal) return path + " is a terminal, which may be a serial line";
    if (*kind == TargetKind::Other) return path + " is neither a file nor a device that takes text";
    return std::string();
}

int OutputFile::Prepare(const std::string& path, const std::vector<std::string>& ports, std::string* error) {
    path_ = path;
    TargetKind kind = TargetKind::Absent;
    const std::string forbidden = ForbiddenTarget(path, ports, &kind, &target_);
    if (!forbidden.empty()) {
        *error = "will not write " + forbidden;
        return EXIT_USAGE;
    }
    if (kind == TargetKind::Directory) {
        *error = "cannot write " + path + ": it is a folder";
        return EXIT_FAILED;
    }
    if (kind == TargetKind::Fifo || kind == TargetKind::Device) {
        file_ = OpenInPlace(target_);
        if (file_ == nullptr) {
            if (Interrupted()) return EXIT_INTERRUPTED + StopSignal();
            *error = "cannot write " + path + ": " + LastErrorText();
            return EXIT_FAILED;
        }
        return EXIT_OK;
    }
    std::string why;
    file_ = CreateTempBeside(target_, &temp_, &why);
    if (file_ == nullptr) {
        *error = "cannot write " + path + ": " + why;
        return EXIT_FAILED;
    }
    return EXIT_OK;
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
    if (temp_.empty()) return true;  // written in place
    if (!MoveIntoPlace(temp_, target_, &why)) {
        *error = "cannot write " + path_ + ": " + why;
        return false;
    }
    temp_.clear();
    return true;
}

std::string AlignedTable(const std::vector<std::vector<std::string>>& table) {
    std::vector<size_t> widths(table.empty() ? 0 : table[0].size(), 0);
    for (const auto& line : table) {
        for (size_t k = 0; k < line.size() && k < widths.size(); ++k)
            widths[k] = std::max(widths[k], Width(line[k]));
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

std::string TableText(const std::vector<ConfigRow>& rows) {
    std::vector<std::vector<std::string>> table = {
        {"row", "param", "index", "value", "unit", "name", "answered"}};
    for (const ConfigRow& r : rows) {
        table.push_back({std::to_string(r.row), Printable(r.param), Printable(r.index), Printable(r.value),
                         Printable(r.unit), Printable(r.name), r.answered ? "yes" : "no"});
    }
    return AlignedTable(table);
}

LoadProgress::LoadProgress(const std::vector<std::string>& ports)
    : ports_(ports), states_(ports.size()), shown_(ports.size()), terminal_(IsTerminal(stderr)) {}

std::string LoadProgress::Line(const State& s, size_t port) const {
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
    {
        fw::Lock lock(stateLock_);
        State& s = states_[port];
        s.done = done;
        s.total = total;
        s.restarts = restarts;
        s.started = true;
        s.finished = s.finished || last;
    }
    if (last) Show(port);
}

void LoadProgress::Show(size_t only) {
    // What the jobs noted is copied out first: a standard error that blocks holds up this thread
    // and the output lock, never a job that notes its progress.
    std::vector<State> now;
    {
        fw::Lock lock(stateLock_);
        now = states_;
    }
    fw::Lock lock(OutputLock());
    for (size_t port = 0; port < now.size(); ++port) {
        Shown& w = shown_[port];
        const bool last = now[port].finished;
        if (!now[port].started || w.last || (only != SIZE_MAX && port != only)) continue;
        const int64_t ms = NowMs();
        if (!terminal_) {
            if (!last && w.ms >= 0 && ms - w.ms < kPlainEveryMs) continue;
            w.ms = ms;
            w.last = last;
            std::fprintf(stderr, "%s\n", Line(now[port], port).c_str());
            std::fflush(stderr);
            continue;
        }
        w.last = last;
        if (!last && lastDrawMs_ >= 0 && ms - lastDrawMs_ < kTerminalEveryMs) continue;
        lastDrawMs_ = ms;
        std::string out;
        // One line per port, redrawn where it stands: back up over the lines drawn before.
        if (drawn_ && ports_.size() > 1) out += "\x1b[" + std::to_string(ports_.size()) + "A";
        for (size_t p = 0; p < ports_.size(); ++p) {
            out += "\r" + Line(now[p], p) + (ports_.size() > 1 ? "\x1b[K\n" : "");
        }
        drawn_ = true;
        bool allDone = true;
        for (const Shown& st : shown_) allDone = allDone && st.last;
        if (ports_.size() == 1 && allDone) out += "\n";
        // Progress that goes nowhere (a closed pipe, a full disk) is simply not shown: no write
        // result is looked at here, and the load goes on.
        std::fputs(out.c_str(), stderr);
        std::fflush(stderr);
        break;  // every port's line is drawn
    }
}

std::string RowName(const std::string& param, const std::string& index) {
    return param + (index.empty() ? std::string() : ":" + index);
}

std::string Quoted(const std::string& utf8) {
    return "\"" + Printable(utf8) + "\"";
}

std::string DifferenceLine(const Difference& d) {
    // Where the texts look alike but the bytes differ, the bytes follow in hex so that the
    // difference can be seen.
    const bool alike = d.fileValue == d.adapterValue;
    return "row " + std::to_string(d.row) + "  " + RowName(d.param, d.index) + "  file " +
           Quoted(d.fileValue) + (alike ? " [" + HexOfBytes(d.fileBytes) + "]" : "") + "  adapter " +
           Quoted(d.adapterValue) + (alike ? " [" + HexOfBytes(d.adapterBytes) + "]" : "");
}

std::string AppliedLine(const AppliedRow& r) {
    std::string line = "row " + std::to_string(r.d.row) + "  " + RowName(r.d.param, r.d.index) + "  " +
                       Quoted(r.d.adapterValue) + " -> " + Quoted(r.d.fileValue) + "  ";
    switch (r.result) {
        case AppliedRow::Refused:
            return line + "refused: " + Printable(r.refusal);
        case AppliedRow::NotSent:
            return line + "unanswered (not sent)";
        default:
            return line + AppliedResultName(r.result);
    }
}

std::string ReadBackLine(const ReadBackRow& r) {
    const std::string head =
        "row " + std::to_string(r.row) + "  " + RowName(r.param, r.index) + "  read back";
    if (!r.answered) return head + ": no answer";
    return head + " " + Quoted(r.value) + ", written " + Quoted(r.writtenValue) +
           (r.value == r.writtenValue ? " [" + HexOfBytes(r.bytes) + " / " + HexOfBytes(r.writtenBytes) + "]"
                                      : std::string());
}

}  // namespace cli
