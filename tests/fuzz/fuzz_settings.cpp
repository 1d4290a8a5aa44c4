// The two settings-file readers on any file: "Vantrel.i" (264 bytes) and "Quillon.i" (76 bytes).
// Every value read comes from the file or is the default, and what is written reads back the same.
#include <cstring>

#include "configurator/ConfiguratorSettings.h"
#include "loader/LoaderSettings.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

int32_t Le32(const uint8_t* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
}

// A field is taken only when the file holds it whole; a stored port position that names no
// table entry reads as no port.
void CheckConfigurator(const fuzz::ScratchFile& file, const uint8_t* data, size_t size) {
    using configurator::ConfiguratorSettings;
    ConfiguratorSettings read;
    fuzz::Check(configurator::ReadSettingsFile(file.Path(), read), "Vantrel.i reader could not open");
    const ConfiguratorSettings defaults;
    const size_t fields = size / 4;

    int32_t index = fields > 0 ? Le32(data) : defaults.SelectedPortIndex;
    if (index < -1 || index >= portselect::PORT_TABLE_SIZE) index = -1;
    fuzz::Check(read.SelectedPortIndex == index, "Vantrel.i port position");
    fuzz::Check(read.LineSpeed == (fields > 1 ? Le32(data + 4) : defaults.LineSpeed), "Vantrel.i line speed");
    for (size_t i = 0; i < portselect::PORT_TABLE_SIZE; ++i) {
        const int32_t want = fields > 2 + i ? Le32(data + 8 + 4 * i) : 0;
        fuzz::Check(read.PortTable[i] == want, "Vantrel.i port table");
    }

    fuzz::Check(configurator::WriteSettingsFile(file.Path(), read), "Vantrel.i not written");
    ConfiguratorSettings again;
    again.SelectedPortIndex = 7;
    again.LineSpeed = 1;
    fuzz::Check(configurator::ReadSettingsFile(file.Path(), again), "Vantrel.i reader could not reopen");
    fuzz::Check(std::memcmp(&again, &read, sizeof read) == 0, "Vantrel.i does not read back as written");
}

// The loader's reader works on bytes: a short file fills exactly the bytes it covers.
void CheckLoader(const fuzz::ScratchFile& file, const uint8_t* data, size_t size) {
    loader::LoaderSettings read;
    const int got = loader::ReadLoaderSettings(file.Path(), &read);
    const size_t covered = size < loader::LOADER_SETTINGS_SIZE ? size : loader::LOADER_SETTINGS_SIZE;
    fuzz::Check(got == static_cast<int>(covered), "Quillon.i count of bytes taken");

    uint8_t want[loader::LOADER_SETTINGS_SIZE] = {};
    want[4] = 6;  // speed position 6, 19200 bit/s
    std::memcpy(want, data, covered);
    fuzz::Check(read.selectedPortIndex == Le32(want), "Quillon.i port position");
    fuzz::Check(read.selectedSpeedIndex == Le32(want + 4), "Quillon.i speed position");
    fuzz::Check(read.reserved == Le32(want + 8), "Quillon.i reserved value");
    for (int i = 0; i < loader::LOADER_STORED_PORTS; ++i) {
        fuzz::Check(read.portTable[i] == Le32(want + 12 + 4 * i), "Quillon.i port table");
    }

    fuzz::Check(loader::WriteLoaderSettings(file.Path(), read), "Quillon.i not written");
    loader::LoaderSettings again;
    again.selectedPortIndex = 5;
    fuzz::Check(loader::ReadLoaderSettings(file.Path(), &again) == loader::LOADER_SETTINGS_SIZE,
                "Quillon.i is not 76 bytes after writing");
    fuzz::Check(std::memcmp(&again, &read, sizeof read) == 0, "Quillon.i does not read back as written");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzz::ScratchFile* file = new fuzz::ScratchFile("krt-fuzz-settings");
    file->Write(data, size);
    CheckConfigurator(*file, data, size);
    file->Write(data, size);
    CheckLoader(*file, data, size);
    return 0;
}
