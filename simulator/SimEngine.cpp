#include "simulator/SimEngine.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "adapter/AdapterLink.h"

namespace sim {

namespace {

std::string FnHex(uint8_t code) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02X", code);
    return buf;
}

// Head fields of a request, for the log only.
std::vector<std::string> HeadFields(const std::string& data) {
    std::vector<std::string> fields;
    std::size_t i = 0;
    while (i < data.size() && data[i] == static_cast<char>(adapter::HT)) {
        std::size_t end = ++i;
        while (end < data.size() && data[end] != static_cast<char>(adapter::HT) &&
               data[end] != static_cast<char>(adapter::FF))
            ++end;
        fields.emplace_back(data, i, end - i);
        i = end;
    }
    return fields;
}

std::string FormatName(const LineInfo& li) {
    std::string f = li.cs8 ? "8" : "7";
    f += li.parenb ? "E" : "N";
    f += li.cstopb ? "2" : "1";
    return f;
}

}  // namespace

std::string DescribeRequest(const RequestFrame& frame) {
    const std::vector<std::string> f = HeadFields(frame.data);
    const std::string param = f.size() > 1 ? f[1] : "?";
    const std::string range = f.size() > 3 ? "[" + f[2] + "+" + f[3] + "]" : "";
    switch (frame.code) {
        case adapter::FN_READ_PARAM:
            return "read " + param;
        case adapter::FN_READ_ARRAY:
            return "read " + param + range;
        case adapter::FN_PARAM_VALUE:
        case adapter::FN_ARRAY_VALUES:
            return "write " + param + range;
        default:
            return "function " + FnHex(frame.code);
    }
}

Engine::Engine(SimHost& host, const Options& options) : host_(host), opt_(options) {
    std::sort(opt_.rAfter.begin(), opt_.rAfter.end());
    for (const auto& write : opt_.ignoredWrites) model_.IgnoreWrites(write.first, write.second);
    unplugAt_ = opt_.unplugAfter;
    SyncModel();
}

void Engine::SyncModel() {
    model_.SetRefusal(opt_.refusal);
    model_.SetRefusalWithEmptyValue(opt_.refusalEmptyValue);
    model_.SetArrayLimit(opt_.shortArray);
    model_.SetForgetWrites(opt_.forgetWrites);
}

void Engine::Queue(Bytes bytes, int64_t due, Flow flow, std::string sentNote) {
    // Pieces leave in the order they were queued, so none may be due before the one ahead of it:
    // a late answer holds back those behind it, as an adapter busy with one request would.
    if (!out_.empty() && out_.back().due > due) due = out_.back().due;
    out_.push_back({due, std::move(bytes), flow, std::move(sentNote)});
}

Bytes Engine::TakeDue(int64_t nowMs, Flow* flow, std::string* sentNote) {
    if (flow != nullptr) *flow = Flow::None;
    if (sentNote != nullptr) sentNote->clear();
    if (out_.empty() || out_.front().due > nowMs) return {};
    Bytes b = std::move(out_.front().bytes);
    if (flow != nullptr) *flow = out_.front().flow;
    if (sentNote != nullptr) *sentNote = std::move(out_.front().sentNote);
    out_.pop_front();
    stats_.txBytes += static_cast<long>(b.size());
    return b;
}

void Engine::OnReceived(const uint8_t* bytes, std::size_t n, int64_t nowMs) {
    if (n == 0) return;
    stats_.rxBytes += static_cast<long>(n);
    if (opt_.mode == Mode::Loader) {
        OnLoaderBytes(bytes, n, nowMs);
        CountReceived(n, nowMs);
        return;
    }
    for (std::size_t i = 0; i < n; ++i) {
        const RequestAssembler::Result r = assembler_.Feed(bytes[i]);
        if (r == RequestAssembler::None) continue;
        const std::size_t noise = assembler_.TakeNoiseCount();
        if (noise) {
            stats_.noise += static_cast<long>(noise);
            host_.Log("NOISE n=" + std::to_string(noise));
        }
        const RequestFrame& f = assembler_.Frame();
        if (r == RequestAssembler::BadCrc) {
            ++stats_.badCrc;
            host_.Log("BADCRC hex=" + HexDump(f.raw));
        } else if (r == RequestAssembler::Malformed) {
            ++stats_.malformed;
            host_.Log("MALFORMED hex=" + HexDump(f.raw));
        } else {
            OnFrame(f, nowMs);
        }
    }
    CountReceived(n, nowMs);
}

void Engine::CountReceived(std::size_t n, int64_t nowMs) {
    if (opt_.mode == Mode::Loader && opt_.rEvery > 0) {
        sinceR_ += static_cast<long>(n);
        if (sinceR_ >= opt_.rEvery) SendR(nowMs, opt_.ixon);
    }
    if (unplugAt_ > 0 && !unpluggedByCount_ && stats_.rxBytes >= unplugAt_) {
        // For good: the program's port stays dead until a replug command.
        unpluggedByCount_ = true;
        out_.clear();
        std::string detail;
        const bool done = host_.Unplug(detail);
        host_.Log("UNPLUG rx_total=" + std::to_string(stats_.rxBytes) +
                  " after=" + std::to_string(unplugAt_) + (done ? "" : " failed: " + detail));
    }
}

void Engine::OnFrame(const RequestFrame& frame, int64_t nowMs) {
    ++stats_.frames;
    // The adapter listens at one speed only: what the program sends at another is garbage to it.
    const LineInfo li = host_.Line(opt_.speed);
    if (li.speed != opt_.speed) {
        ++stats_.ignored;
        host_.Log("IGNORED speed=" + std::to_string(li.speed) + " want=" + std::to_string(opt_.speed) +
                  " hex=" + HexDump(frame.raw));
        return;
    }
    host_.Log("RX speed=" + std::to_string(li.speed) + " fn=" + FnHex(frame.code) +
              " hex=" + HexDump(frame.raw) + " | " + DescribeRequest(frame));
    if (opt_.silent) {
        ++stats_.silenced;
        host_.Log("SILENT | " + DescribeRequest(frame));
        return;
    }
    const bool write = frame.code == adapter::FN_PARAM_VALUE || frame.code == adapter::FN_ARRAY_VALUES;
    if (write && opt_.stallAtWrite && !opt_.stalled) {
        // An adapter that holds the line the moment writes begin: the program's next writes stay
        // in its own queue, whatever its flow control says.
        opt_.stalled = true;
        Queue({XOFF}, nowMs, Flow::Hold);
        host_.Log("STALL at the first write | " + DescribeRequest(frame));
        return;
    }
    const Outcome outcome = model_.Handle(frame);
    if (!outcome.answered) {
        ++stats_.unanswered;
        host_.Log("NOANSWER | " + outcome.note);
        return;
    }
    SendAnswer(outcome, nowMs);
}

void Engine::SendAnswer(const Outcome& outcome, int64_t nowMs) {
    Bytes frame = BuildFrame(outcome.code, outcome.data);
    if (opt_.badCrc) frame.back() ^= 0xFF;
    ++stats_.answered;
    // The copy goes first and in the same write: a program that takes the first good frame of
    // what it reads takes the stale answer and drops the new one.
    Bytes wire;
    if (opt_.repeatPrevious && !previous_.empty()) {
        host_.Log("REPEAT hex=" + HexDump(previous_) + " | the previous answer again, in the same write");
        wire = previous_;
    }
    previous_ = frame;
    // A late reply may find the program gone; the host still puts it into the port's input and
    // logs the note of its last piece once it is there.
    const bool late = outcome.code == adapter::FN_WRITE_REPLY && opt_.lateWriteReplyMs > 0;
    const std::string lateMs = std::to_string(opt_.lateWriteReplyMs);
    host_.Log("TX fn=" + FnHex(outcome.code) + " hex=" + HexDump(frame) + " | " + outcome.note +
              (opt_.badCrc ? " (bad crc)" : "") + (late ? " (late by " + lateMs + " ms)" : ""));
    wire.insert(wire.end(), frame.begin(), frame.end());
    const std::size_t piece = opt_.split > 0 ? static_cast<std::size_t>(opt_.split) : wire.size();
    int64_t due = nowMs + (late ? opt_.lateWriteReplyMs : opt_.delayMs);
    for (std::size_t at = 0; at < wire.size(); at += piece) {
        const std::size_t len = std::min(piece, wire.size() - at);
        const bool last = at + len == wire.size();
        Queue(Bytes(wire.begin() + at, wire.begin() + at + len), due, Flow::None,
              late && last ? "LATE sent " + lateMs + " ms after the request | " + outcome.note : "");
        due += SPLIT_PAUSE_MS;
    }
}

void Engine::SendR(int64_t nowMs, bool stalled) {
    ++stats_.rSent;
    sinceR_ = 0;
    if (stalled) {
        // The loader reads input only while one of its writes is still going out; on a pty no
        // write ever is, unless the line is held: XOFF makes its next write wait, the 'R' goes
        // in behind it, and XON lets the write finish after the loader has had time to read.
        Queue({XOFF}, nowMs, Flow::Hold);
        Queue({'R'}, nowMs);
        Queue({XON}, nowMs + STALL_HOLD_MS, Flow::Release);
        host_.Log("TX R (stalled with XOFF for " + std::to_string(STALL_HOLD_MS) + " ms)");
    } else {
        Queue({'R'}, nowMs);
        host_.Log("TX R");
    }
}

void Engine::OnLoaderBytes(const uint8_t* bytes, std::size_t n, int64_t nowMs) {
    host_.Capture(bytes, n);
    // Only reported here: no waiting for the speed to settle.
    const LineInfo li = host_.Line(0);
    std::string line = "LINE speed=" + std::to_string(li.speed) + " want=" + std::to_string(opt_.speed) +
                       " format=" + FormatName(li) + " cs8=" + (li.cs8 ? "1" : "0") +
                       " parenb=" + (li.parenb ? "1" : "0") + " cstopb=" + (li.cstopb ? "1" : "0");
    if (line != lastLine_) {
        host_.Log(line);
        lastLine_ = line;
    }
    host_.Log("RXBYTES n=" + std::to_string(n) + " total=" + std::to_string(stats_.rxBytes) +
              " hex=" + HexDump(bytes, std::min<std::size_t>(n, 16)) + (n > 16 ? " ..." : ""));
    while (rAfterNext_ < opt_.rAfter.size() && stats_.rxBytes >= opt_.rAfter[rAfterNext_]) {
        ++rAfterNext_;
        SendR(nowMs, opt_.ixon);
    }
}

namespace {

bool ParseHex(const std::string& text, Bytes& out) {
    std::string digits;
    for (char c : text) {
        if (c != ' ') digits += c;
    }
    if (digits.empty() || digits.size() % 2 != 0) return false;
    out.clear();
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        char* end = nullptr;
        const std::string pair = digits.substr(i, 2);
        const long v = std::strtol(pair.c_str(), &end, 16);
        if (*end != '\0') return false;
        out.push_back(static_cast<uint8_t>(v));
    }
    return true;
}

}  // namespace

bool Engine::SendHex(const std::string& hex, int64_t nowMs) {
    Bytes bytes;
    if (!ParseHex(hex, bytes)) return false;
    host_.Log("TX raw hex=" + HexDump(bytes));
    Queue(std::move(bytes), nowMs);
    return true;
}

bool Engine::Flood(const std::string& arg, int64_t nowMs, std::string& answer) {
    // flood BYTES [HEX]: BYTES of noise, with the frame HEX behind every 64 kB of it and at the
    // end. Two zero bytes go before each frame: noise that ended in DLE ETX would take the
    // frame's first bytes as its checksum.
    const std::size_t sp = arg.find(' ');
    long total = 0;
    std::string why;
    if (!ParseCount(arg.substr(0, sp), total, why) || total <= 0) return false;
    Bytes frame;
    if (sp != std::string::npos && !ParseHex(arg.substr(sp + 1), frame)) return false;
    constexpr long kPiece = 4096, kFrameEvery = 65536;
    uint32_t x = 0x2545F491u;
    long sent = 0, frames = 0;
    while (sent < total) {
        const long n = std::min(kPiece, total - sent);
        Bytes noise(static_cast<std::size_t>(n));
        for (uint8_t& b : noise) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            b = static_cast<uint8_t>(x >> 24);
        }
        Queue(std::move(noise), nowMs);
        sent += n;
        if (!frame.empty() && (sent % kFrameEvery == 0 || sent == total)) {
            Bytes framed{0, 0};
            framed.insert(framed.end(), frame.begin(), frame.end());
            Queue(std::move(framed), nowMs);
            ++frames;
        }
    }
    answer = "OK flood " + std::to_string(total) + " frames=" + std::to_string(frames);
    return true;
}

std::string Engine::StatsLine() const {
    std::ostringstream s;
    s << "rx_bytes=" << stats_.rxBytes << " frames=" << stats_.frames << " answered=" << stats_.answered
      << " unanswered=" << stats_.unanswered << " ignored=" << stats_.ignored
      << " silenced=" << stats_.silenced << " bad_crc=" << stats_.badCrc << " malformed=" << stats_.malformed
      << " noise=" << stats_.noise << " tx_bytes=" << stats_.txBytes << " r_sent=" << stats_.rSent;
    return s.str();
}

std::string Engine::Command(const std::string& rawLine, int64_t nowMs) {
    std::string line = rawLine;
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' '))
        line.pop_back();
    const std::size_t sp = line.find(' ');
    const std::string cmd = line.substr(0, sp);
    std::string arg = sp == std::string::npos ? "" : line.substr(sp + 1);
    while (!arg.empty() && arg.front() == ' ') arg.erase(0, 1);

    const Switch* s = FindCommand(cmd);
    std::string answer;
    if (s == nullptr) {
        answer = "ERR unknown command: " + line;
    } else if (s->set != nullptr) {
        answer = SetSwitch(*s, arg);
    } else {
        answer = Act(cmd, arg, nowMs);
    }
    host_.Log("CMD " + line + " -> " + answer);
    return answer;
}

std::string Engine::SetSwitch(const Switch& s, const std::string& arg) {
    Options next = opt_;
    std::string why;
    if (!s.set(next, arg, why)) return "ERR " + std::string(s.name) + ": " + why;
    const std::string name = s.name;
    if (name == "speed" && !host_.SetSpeed(next.speed, why)) return "ERR speed: " + why;
    if (name == "r-every") sinceR_ = 0;
    if (name == "unplug-after") {
        // Counted from now on, so that a test can arm it in the middle of a load.
        unplugAt_ = next.unplugAfter == 0 ? 0 : stats_.rxBytes + next.unplugAfter;
        unpluggedByCount_ = false;
    }
    opt_ = std::move(next);
    SyncModel();
    return "OK " + name + (arg.empty() ? "" : " " + arg);
}

std::string Engine::Act(const std::string& cmd, const std::string& arg, int64_t nowMs) {
    bool flag = false;
    std::string detail, answer;
    if (cmd == "stall" && ParseOnOff(arg, flag, detail)) {
        // The adapter stops (or resumes) reading; with ixon it also holds the program's writes.
        opt_.stalled = flag;
        if (opt_.ixon) Queue({flag ? XOFF : XON}, nowMs, flag ? Flow::Hold : Flow::Release);
        return "OK stall " + arg;
    }
    if (cmd == "send-hex" && SendHex(arg, nowMs)) return "OK send-hex";
    if (cmd == "flood" && Flood(arg, nowMs, answer)) return answer;
    if (cmd == "R" && (arg.empty() || arg == "plain" || arg == "stalled")) {
        SendR(nowMs, arg.empty() ? opt_.ixon : arg == "stalled");
        return arg.empty() ? "OK R" : "OK R " + arg;
    }
    if (!arg.empty()) return "ERR " + cmd + ": bad argument: " + arg;
    if (cmd == "unplug") {
        out_.clear();
        return host_.Unplug(detail) ? "OK unplugged" : "ERR unplug: " + detail;
    }
    if (cmd == "replug") return host_.Replug(detail) ? "OK replugged " + detail : "ERR replug: " + detail;
    if (cmd == "stats") return "OK " + StatsLine();
    if (cmd == "quit") {
        host_.Quit();
        return "OK quit";
    }
    return "ERR " + cmd + ": bad argument";
}

}  // namespace sim
