// The load procedure without its window: a recording host, the loader's driver over the scripted
// serial port, and a message loop stepped tick by tick.
#pragma once

#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "loader/LoadProcedure.h"
#include "tests/support/FakeSerialApi.h"

namespace loader_test {

struct RecordingHost : loader::LoaderHost {
    enum Icon { kNoIcon, kStartIcon, kStopIcon };

    void SetBarPos(int percent) override { bar.push_back(percent); }
    void SetBarText(const char* text) override { barText.push_back(text); }
    void SetLabelText(const char* text) override { label.push_back(text); }
    void SetStatusText(int pane, const char* text) override { status[pane].push_back(text); }
    void EnableChooseButton(bool enable) override { chooseEnabled = enable; }
    void SetStartTooltip(const char* text) override { tooltip = text; }
    void ShowStopIcon(bool stop) override { icon = stop ? kStopIcon : kStartIcon; }
    void PostLoaderMessage(uint32_t message) override { posted.push_back(message); }

    std::vector<int> bar;
    std::vector<std::string> barText;
    std::vector<std::string> label;
    std::vector<std::string> status[2];
    bool chooseEnabled = true;
    std::string tooltip;
    Icon icon = kNoIcon;
    std::deque<uint32_t> posted;
};

// A file in the test's temporary directory, removed at the end.
class TempFile {
  public:
    explicit TempFile(const std::string& name) {
        path_ = ::testing::TempDir() + name;
        std::remove(path_.c_str());
    }
    ~TempFile() { std::remove(path_.c_str()); }
    void Write(const std::vector<uint8_t>& bytes) const {
        std::FILE* f = std::fopen(path_.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    const char* Path() const { return path_.c_str(); }

  private:
    std::string path_;
};

}  // namespace loader_test
