#include "tests/fuzz/FuzzSupport.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace fuzz {

void Fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

void ResetLink(adapter::AdapterLink& link) {
    link.state.ParamIndex = -1;
    std::memset(link.state.PortTable, 0, sizeof link.state.PortTable);
    link.state.LineSpeed = 4800;
    link.state.TailStage = 0;
    link.state.FramePos = 0;
    link.state.DlePending = 0;
    std::memset(link.state.FrameBuffer, 0, sizeof link.state.FrameBuffer);
    link.state.RxPending = 0;
    link.state.RxCount = 0;
    link.state.TimeoutState = adapter::Idle;
    link.state.TimeoutTicks = 0;
}

void CheckLinkUntouched(const adapter::AdapterLink& link, const QuietHost& host) {
    Check(host.calls == 0, "the receive path called the window");
    Check(link.state.ParamIndex == -1, "ParamIndex changed");
    Check(link.state.LineSpeed == 4800, "LineSpeed changed");
    Check(link.state.TimeoutState == adapter::Idle && link.state.TimeoutTicks == 0, "countdown changed");
    Check(link.state.RxPending == 0, "RxPending changed");
    Check(!link.codec.FrameDue(), "a frame fell due");
    for (int i = 0; i < portselect::PORT_TABLE_SIZE; ++i)
        Check(link.state.PortTable[i] == 0, "PortTable changed");
    Check(link.state.TailStage >= 0 && link.state.TailStage <= 2, "TailStage out of range");
    Check(link.state.FramePos >= 0 && link.state.FramePos <= adapter::FRAME_WRAP_AT, "FramePos out of range");
}

void CheckTableShape(const configurator::ParameterTableModel& table) {
    using configurator::StartCellText;
    for (int row = 0; row < table.RowCount(); ++row) {
        for (int column : {adapter::COL_PARAMETER, adapter::COL_INDEX, adapter::COL_NAME}) {
            Check(std::strcmp(table.Text(row, column), StartCellText(row, column)) == 0,
                  "a fixed column changed");
        }
        const int mark = table.Mark(row);
        Check(mark == adapter::MARK_BLANK || mark == adapter::MARK_ERROR, "a mark no answer sets");
        Check(table.ItemData(row) == row, "item data changed");
    }
}

bool SameTable(const configurator::ParameterTableModel& a, const configurator::ParameterTableModel& b) {
    for (int row = 0; row < a.RowCount(); ++row) {
        if (a.Mark(row) != b.Mark(row)) return false;
        for (int column = 0; column < configurator::PARAM_COLUMN_COUNT; ++column) {
            if (std::strcmp(a.Text(row, column), b.Text(row, column)) != 0) return false;
        }
    }
    return true;
}

namespace {

std::vector<std::string>& ScratchPaths() {
    static std::vector<std::string> paths;
    return paths;
}

void RemoveScratchFiles() {
    for (const std::string& path : ScratchPaths()) std::remove(path.c_str());
}

}  // namespace

ScratchFile::ScratchFile(const char* stem) {
    const char* dir = std::getenv("TMPDIR");
    std::string pattern = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/" + stem + "-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    Check(fd >= 0, "no scratch file");
    close(fd);
    path_ = name.data();
    if (ScratchPaths().empty()) std::atexit(RemoveScratchFiles);
    ScratchPaths().push_back(path_);
}

void ScratchFile::Write(const uint8_t* data, size_t size) const {
    std::FILE* file = std::fopen(path_.c_str(), "wb");
    Check(file != nullptr, "scratch file cannot be written");
    Check(size == 0 || std::fwrite(data, 1, size, file) == size, "scratch file short write");
    Check(std::fclose(file) == 0, "scratch file close");
}

}  // namespace fuzz
