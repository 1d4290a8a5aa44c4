// "Vantrel.i": the chosen port, the last line speed and the machine's port table, kept from one
// run to the next as 66 little-endian 32-bit integers.
#pragma once

#include <cstdint>

#include "adapter/AdapterLink.h"
#include "adapter/LinkHost.h"
#include "adapter/LinkState.h"
#include "portselect/Selection.h"

namespace configurator {

constexpr const char* SETTINGS_FILE_NAME = "Vantrel.i";
constexpr int SETTINGS_FILE_SIZE = 264;

struct ConfiguratorSettings {
    int32_t SelectedPortIndex = -1;
    int32_t LineSpeed = 4800;
    portselect::PortTable PortTable = {};
};

// Reads the file over the record: each field that the file holds whole is replaced, the others
// keep their values; bytes beyond the record are ignored. A stored port position outside the
// table reads as no port (-1). False when the file cannot be opened (the record is unchanged).
bool ReadSettingsFile(const char* path, ConfiguratorSettings& settings);

// Creates or truncates the file and writes the whole record. False when that fails.
bool WriteSettingsFile(const char* path, const ConfiguratorSettings& settings);

// The program's settings: the selection's SelectedPortIndex and the link's LineSpeed and
// PortTable. Read keeps what the file does not hold.
void ReadSettings(adapter::LinkState& link, portselect::Selection& selection,
                  const char* path = SETTINGS_FILE_NAME);
void WriteSettings(const adapter::LinkState& link, const portselect::Selection& selection,
                   const char* path = SETTINGS_FILE_NAME);

// The end of the main window's start-up, once the table is built: the settings read, then the
// search started on the saved port, or "Порт не выбран" with only the port button enabled.
void StartFromSettings(adapter::AdapterLink& link, adapter::LinkHost& host, portselect::Selection& selection,
                       const char* path = SETTINGS_FILE_NAME);

}  // namespace configurator
