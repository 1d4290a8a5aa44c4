// Writes the seed corpora of the fuzz targets: the answers that the simulated adapter gives to the
// configurator's six read requests, to its write requests and to the probe, as the line carries
// them, and a few settings and program files of the shapes the programs write and read.
//
//   make_seeds OUTDIR   ->  OUTDIR/<target>/<name> for each target
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "simulator/AdapterModel.h"
#include "simulator/SimFrames.h"

namespace {

using sim::Bytes;

const char HT = '\t', FF = '\f';

std::string Dir(const std::string& root, const char* target) {
    const std::string dir = root + "/" + target;
    mkdir(dir.c_str(), 0755);
    return dir;
}

void Put(const std::string& dir, const std::string& name, const Bytes& bytes) {
    std::FILE* f = std::fopen((dir + "/" + name).c_str(), "wb");
    if (f == nullptr) {
        std::perror(name.c_str());
        std::exit(1);
    }
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

Bytes Le32(const std::vector<int32_t>& values) {
    Bytes out;
    for (int32_t v : values) {
        const uint32_t u = static_cast<uint32_t>(v);
        for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(u >> shift));
    }
    return out;
}

// The answer of the model to one request, as a whole frame with the DLE that precedes its SOH.
Bytes Answer(sim::AdapterModel& model, uint8_t code, const std::string& data) {
    sim::RequestFrame request;
    request.code = code;
    request.data = data;
    const sim::Outcome outcome = model.Handle(request);
    if (!outcome.answered) {
        std::fprintf(stderr, "the model did not answer: %s\n", outcome.note.c_str());
        std::exit(1);
    }
    return sim::BuildFrame(outcome.code, outcome.data);
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// fuzz_frames input: piece lengths first.
Bytes Frames(const Bytes& pieceLengths, const Bytes& line) {
    Bytes out{static_cast<uint8_t>(pieceLengths.size())};
    out.insert(out.end(), pieceLengths.begin(), pieceLengths.end());
    out.insert(out.end(), line.begin(), line.end());
    return out;
}

// fuzz_fields input: the frame as the assembler leaves it (from the byte after SOH), with
// FramePos at its end and the start position just behind the function code.
Bytes Fields(const Bytes& frame) {
    const Bytes body(frame.begin() + 2, frame.end());
    const int framePos = static_cast<int>(body.size());
    Bytes out{static_cast<uint8_t>(framePos), static_cast<uint8_t>(framePos >> 8), 3, 0};
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds OUTDIR\n");
        return 2;
    }
    const std::string root = argv[1];
    mkdir(root.c_str(), 0755);

    sim::AdapterModel model;
    struct Named {
        const char* name;
        Bytes frame;
    };
    const std::string h0 = std::string{HT} + "0" + HT;
    std::vector<Named> answers = {
        {"read-003-probe", Answer(model, 0x1D, h0 + "003" + FF)},
        {"read-006", Answer(model, 0x1D, h0 + "006" + FF)},
        {"read-099", Answer(model, 0x1D, h0 + "099" + FF)},
        {"read-099-1", Answer(model, 0x0C, h0 + "099" + HT + "1" + HT + "001" + FF)},
        {"read-099-2", Answer(model, 0x0C, h0 + "099" + HT + "2" + HT + "001" + FF)},
        {"read-052-all", Answer(model, 0x0C, h0 + "052" + HT + "0" + HT + "099" + FF)},
        {"write-003", Answer(model, 0x03, h0 + "003" + FF + HT + "5" + FF)},
        {"write-052-02", Answer(model, 0x14, h0 + "052" + HT + "02" + HT + "1" + FF + HT + "15" + FF)},
        {"write-too-long", Answer(model, 0x03, h0 + "006" + FF + HT + std::string(60, '7') + FF)},
    };
    model.SetRefusal(sim::Utf8ToCp866(u8"Запись запрещена"));
    answers.push_back(
        {"write-refused", Answer(model, 0x14, h0 + "099" + HT + "01" + HT + "1" + FF + HT + "9" + FF)});

    const std::string frames = Dir(root, "fuzz_frames");
    const std::string fields = Dir(root, "fuzz_fields");
    Bytes all;
    for (const Named& a : answers) {
        Put(frames, a.name, Frames({}, a.frame));
        Put(frames, std::string(a.name) + "-pieces", Frames({6, 0, 17, 2}, a.frame));
        Put(fields, a.name, Fields(a.frame));
        all.insert(all.end(), a.frame.begin(), a.frame.end());
    }
    // The whole read sequence in one stream, and an answer behind noise and a frame cut short.
    Put(frames, "read-sequence", Frames({40, 255, 3}, all));
    const Bytes& probe = answers[0].frame;
    Put(frames, "noise-then-probe",
        Frames({9}, Cat({Bytes{'x', 0x10, 0x03, 0x10, 0x10, 0x01, 0x10, 0x1F, 0x03, 0x10, 0x02, '\t', '7'},
                         probe})));

    const std::string settings = Dir(root, "fuzz_settings");
    Bytes vantrel = Le32({2, 9600, 1, 3, 4});
    vantrel.resize(264, 0);
    Put(settings, "vantrel-com4", vantrel);
    Put(settings, "vantrel-first-run", Cat({Le32({-1, 4800}), Bytes(256, 0)}));
    Put(settings, "eight-bytes", Le32({0, 115200}));
    Bytes quillon = Le32({1, 6, 0, 1, 3});
    quillon.resize(76, 0);
    Put(settings, "quillon", quillon);
    Put(settings, "twelve-bytes", Le32({0, 9, 77}));

    const std::string program = Dir(root, "fuzz_program_image");
    const std::string hex = ":100000000C9434000C9446000C9446000C9446006A\r\n:00000001FF\r\n";
    Bytes text{0};
    text.insert(text.end(), hex.begin(), hex.end());
    Put(program, "hex-text", text);
    Bytes longer{65};
    longer.insert(longer.end(), hex.begin(), hex.end());
    Put(program, "past-the-limit", longer);
    Put(program, "empty", Bytes{0});
    return 0;
}
