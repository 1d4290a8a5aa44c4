// Writes the seed corpora of the fuzz targets: the answers that the simulated adapter gives to the
// configurator's six read requests, to its write requests and to the probe, as the line carries
// them, a few settings and program files of the shapes the programs write and read, and the
// configuration files that krt42 writes of the simulated adapter.
//
//   make_seeds OUTDIR   ->  OUTDIR/<target>/<name> for each target
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "adapter/ParamTable.h"
#include "adapter/Requests.h"
#include "configurator/ParameterTable.h"
#include "simulator/AdapterModel.h"
#include "simulator/SimFrames.h"
#include "tray/Configuration.h"
#include "tray/Text.h"

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

Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// The OEM units of the model as UTF-8: the Cyrillic letters, Ё, ё and №, as the simulator maps them.
std::string Utf8FromCp866(const std::string& oem) {
    std::string out;
    for (char c : oem) {
        const unsigned b = static_cast<unsigned char>(c);
        const unsigned cp = b < 0x80    ? b
                            : b < 0xB0  ? 0x410 + (b - 0x80)
                            : b < 0xE0  ? '?'
                            : b < 0xF0  ? 0x440 + (b - 0xE0)
                            : b == 0xF0 ? 0x401
                            : b == 0xF1 ? 0x451
                            : b == 0xFC ? 0x2116
                                        : '?';
        tray::AppendUtf8(out, cp);
    }
    return out;
}

// The model's 104 rows as a read leaves them. This tree is built by clang, whose literals stay
// UTF-8, so the table's names are taken as they are.
tray::Configuration ModelConfiguration(const sim::AdapterModel& model) {
    tray::Configuration c;
    c.tool = tray::ToolText();
    c.port = "/dev/ttyUSB0";
    c.speed = 19200;
    c.time = tray::UtcTimeText(1796654795);
    for (int row = 0; row < configurator::PARAM_ROW_COUNT; ++row) {
        const adapter::ParamRows* rows = adapter::RowsOfRow(row);
        const sim::Element* e = model.Find(rows->parameter, row - rows->firstRow);
        tray::ConfigRow r = tray::TableRow(row, e != nullptr ? e->value : "", "", e != nullptr);
        if (e != nullptr) r.unit = Utf8FromCp866(e->unit);
        r.name = configurator::StartCellText(row, adapter::COL_NAME);
        c.rows.push_back(r);
    }
    return c;
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

    const std::string config = Dir(root, "fuzz_config");
    const tray::Configuration full = ModelConfiguration(sim::AdapterModel());
    Put(config, "read.json", Text(tray::ConfigJson(full)));
    Put(config, "read.csv", Text(tray::ConfigCsv(full)));
    // A reference file of a few rows with values that need quoting, in both forms.
    tray::Configuration few;
    few.rows = {full.rows[0], full.rows[7], full.rows[103]};
    few.rows[0].value = "a \"b\",\n\\c\x01";
    few.rows[1].answered = false;
    few.rows[2].value = "\xD0\x94\xE2\x82\xAC \xF0\x9F\x98\x80";
    Put(config, "few.json", Text(tray::ConfigJson(few)));
    Put(config, "few.csv", Text(tray::ConfigCsv(few)));
    Put(config, "legacy-array.json",
        Text(
            "[\n  {\"row\": 12, \"param\": \"052\", \"index\": \"07\", \"value\": \"\\u0041\\ud83d\\ude00\", "
            "\"unit\": \"\", \"name\": \"\", \"answered\": true}\n]\n"));
    Put(config, "comments-crlf.csv",
        Text("\xEF\xBB\xBF# format: 1\r\n# port: COM3\r\nrow,param,index,value,unit,name,answered\r\n"
             "2,099,00,\"3,05\",,x,yes\r\n"));
    return 0;
}
