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

bool ParseCount(const std::string& s, long& out) {
    if (s.empty() || s.size() > 9) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    out = std::strtol(s.c_str(), nullptr, 10);
    return true;
}

bool ParseOnOff(const std::string& s, bool& out) {
    if (s == "on")
        out = true;
    else if (s == "off")
        out = false;
    else
        return false;
    return true;
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
    model_.SetRefusal(opt_.refusal);
    model_.SetRefusalWithEmptyValue(opt_.refusalEmptyValue);
    for (const auto& write : opt_.ignoredWrites) model_.IgnoreWrites(write.first, write.second);
}

void Engine::Queue(Bytes bytes, int64_t due, Flow flow) {
    // Pieces leave in the order they were queued, so none may be due before the one ahead of it.
    if (!out_.empty() && out_.back().due > due) due = out_.back().due;
    out_.push_back({due, std::move(bytes), flow});
}

Bytes Engine::TakeDue(int64_t nowMs, Flow* flow) {
    if (flow != nullptr) *flow = Flow::None;
    if (out_.empty() || out_.front().due > nowMs) return {};
    Bytes b = std::move(out_.front().bytes);
    if (flow != nullptr) *flow = out_.front().flow;
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
    if (opt_.unplugAfter > 0 && !unpluggedByCount_ && stats_.rxBytes >= opt_.unplugAfter) {
        // For good: the program's port stays dead until a replug command.
        unpluggedByCount_ = true;
        out_.clear();
        std::string detail;
        const bool done = host_.Unplug(detail);
        host_.Log("UNPLUG rx_total=" + std::to_string(stats_.rxBytes) +
                  " after=" + std::to_string(opt_.unplugAfter) + (done ? "" : " failed: " + detail));
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
    host_.Log("TX fn=" + FnHex(outcome.code) + " hex=" + HexDump(frame) + " | " + outcome.note +
              (opt_.badCrc ? " (bad crc)" : ""));
    const std::size_t piece = opt_.split > 0 ? static_cast<std::size_t>(opt_.split) : frame.size();
    int64_t due = nowMs + opt_.delayMs;
    for (std::size_t at = 0; at < frame.size(); at += piece) {
        const std::size_t len = std::min(piece, frame.size() - at);
        Queue(Bytes(frame.begin() + at, frame.begin() + at + len), due);
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
    if (!ParseCount(arg.substr(0, sp), total) || total <= 0) return false;
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

    std::string answer;
    bool flag = false;
    long number = 0;
    std::string detail;
    if (cmd == "silent" && ParseOnOff(arg, flag)) {
        opt_.silent = flag;
        answer = "OK silent " + arg;
    } else if (cmd == "badcrc" && ParseOnOff(arg, flag)) {
        opt_.badCrc = flag;
        answer = "OK badcrc " + arg;
    } else if (cmd == "refuse" && !arg.empty()) {
        opt_.refusal = arg == "off" ? "" : Utf8ToCp866(arg);
        model_.SetRefusal(opt_.refusal);
        answer = "OK refuse " + arg;
    } else if (cmd == "refuse-layout" && (arg == "plain" || arg == "empty-value")) {
        opt_.refusalEmptyValue = arg == "empty-value";
        model_.SetRefusalWithEmptyValue(opt_.refusalEmptyValue);
        answer = "OK refuse-layout " + arg;
    } else if (cmd == "split" && ParseCount(arg, number)) {
        opt_.split = static_cast<int>(number);
        answer = "OK split " + std::to_string(number);
    } else if (cmd == "delay" && ParseCount(arg, number)) {
        opt_.delayMs = static_cast<int>(number);
        answer = "OK delay " + std::to_string(number);
    } else if (cmd == "speed" && ParseCount(arg, number) && number > 0) {
        if (!host_.SetSpeed(static_cast<int>(number), detail)) {
            answer = "ERR speed: " + detail;
        } else {
            opt_.speed = static_cast<int>(number);
            answer = "OK speed " + std::to_string(number);
        }
    } else if (cmd == "stall" && ParseOnOff(arg, flag)) {
        // The adapter stops (or resumes) reading; with ixon it also holds the program's writes.
        opt_.stalled = flag;
        if (opt_.ixon) Queue({flag ? XOFF : XON}, nowMs, flag ? Flow::Hold : Flow::Release);
        answer = "OK stall " + arg;
    } else if (cmd == "send-hex" && SendHex(arg, nowMs)) {
        answer = "OK send-hex";
    } else if (cmd == "flood" && Flood(arg, nowMs, answer)) {
    } else if (cmd == "R" && (arg.empty() || arg == "plain" || arg == "stalled")) {
        SendR(nowMs, arg.empty() ? opt_.ixon : arg == "stalled");
        answer = arg.empty() ? "OK R" : "OK R " + arg;
    } else if (cmd == "r-every" && ParseCount(arg, number)) {
        opt_.rEvery = number;
        sinceR_ = 0;
        answer = "OK r-every " + std::to_string(number);
    } else if (cmd == "unplug-after" && ParseCount(arg, number)) {
        // Counted from now on, so that a test can arm it in the middle of a load.
        opt_.unplugAfter = number == 0 ? 0 : stats_.rxBytes + number;
        unpluggedByCount_ = false;
        answer = "OK unplug-after " + std::to_string(number);
    } else if (cmd == "unplug" && arg.empty()) {
        out_.clear();
        answer = host_.Unplug(detail) ? "OK unplugged" : "ERR unplug: " + detail;
    } else if (cmd == "replug" && arg.empty()) {
        answer = host_.Replug(detail) ? "OK replugged " + detail : "ERR replug: " + detail;
    } else if (cmd == "stats" && arg.empty()) {
        answer = "OK " + StatsLine();
    } else if (cmd == "quit" && arg.empty()) {
        host_.Quit();
        answer = "OK quit";
    } else {
        answer = "ERR unknown command: " + line;
    }
    host_.Log("CMD " + line + " -> " + answer);
    return answer;
}

}  // namespace sim
