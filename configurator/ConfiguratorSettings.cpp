#include "configurator/ConfiguratorSettings.h"

#include <cstdio>
#include <cstring>

#include "portselect/Selection.h"

namespace configurator {

namespace {

constexpr int kFieldCount = 2 + portselect::PORT_TABLE_SIZE;

int32_t* Field(ConfiguratorSettings& s, int i) {
    if (i == 0) return &s.SelectedPortIndex;
    if (i == 1) return &s.LineSpeed;
    return &s.PortTable[i - 2];
}

int32_t FieldValue(const ConfiguratorSettings& s, int i) {
    return *Field(const_cast<ConfiguratorSettings&>(s), i);
}

}  // namespace

bool ReadSettingsFile(const char* path, ConfiguratorSettings& settings) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return false;
    for (int i = 0; i < kFieldCount; ++i) {
        unsigned char bytes[4];
        if (std::fread(bytes, 1, sizeof bytes, file) != sizeof bytes) break;
        const uint32_t value = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                               static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
        *Field(settings, i) = static_cast<int32_t>(value);
    }
    std::fclose(file);

    // Mended: a position outside the table would index past PortTable later; such a file names
    // no port we can use, so it counts as no choice at all.
    if (settings.SelectedPortIndex < -1 || settings.SelectedPortIndex >= portselect::PORT_TABLE_SIZE) {
        settings.SelectedPortIndex = -1;
    }
    return true;
}

bool WriteSettingsFile(const char* path, const ConfiguratorSettings& settings) {
    unsigned char record[SETTINGS_FILE_SIZE];
    for (int i = 0; i < kFieldCount; ++i) {
        const uint32_t value = static_cast<uint32_t>(FieldValue(settings, i));
        record[4 * i] = static_cast<unsigned char>(value);
        record[4 * i + 1] = static_cast<unsigned char>(value >> 8);
        record[4 * i + 2] = static_cast<unsigned char>(value >> 16);
        record[4 * i + 3] = static_cast<unsigned char>(value >> 24);
    }
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(record, 1, sizeof record, file) == sizeof record;
    const bool closed = std::fclose(file) == 0;
    return written && closed;
}

void ReadSettings(adapter::LinkState& link, portselect::Selection& selection, const char* path) {
    ConfiguratorSettings settings;
    settings.SelectedPortIndex = selection.SelectedPortIndex;
    settings.LineSpeed = link.LineSpeed;
    std::memcpy(settings.PortTable, link.PortTable, sizeof settings.PortTable);
    if (!ReadSettingsFile(path, settings)) return;
    selection.SelectedPortIndex = settings.SelectedPortIndex;
    link.LineSpeed = settings.LineSpeed;
    std::memcpy(link.PortTable, settings.PortTable, sizeof link.PortTable);
}

void WriteSettings(const adapter::LinkState& link, const portselect::Selection& selection, const char* path) {
    ConfiguratorSettings settings;
    settings.SelectedPortIndex = selection.SelectedPortIndex;
    settings.LineSpeed = link.LineSpeed;
    std::memcpy(settings.PortTable, link.PortTable, sizeof settings.PortTable);
    WriteSettingsFile(path, settings);
}

void StartFromSettings(adapter::AdapterLink& link, adapter::LinkHost& host, portselect::Selection& selection,
                       const char* path) {
    ReadSettings(link.state, selection, path);
    if (selection.SelectedPortIndex == -1) {
        host.SetStatusText(1, "Порт не выбран");
        host.EnablePortButton(true);
    } else {
        link.StartAdapterSearch();
    }
}

}  // namespace configurator
