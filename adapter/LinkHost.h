// What the configurator's adapter link needs of its window: status-bar texts, its read and port
// buttons, posting a message to itself, the OEM-to-ANSI conversion of adapter texts, and word of
// a port that did not open.
#pragma once

#include <cstdint>

#include "serial/ComDriver.h"

namespace adapter {

class LinkHost {
  public:
    virtual ~LinkHost() = default;
    // SB_SETTEXT, type 0: part 0 (left) or part 1 (right); each text replaces the one before.
    virtual void SetStatusText(int part, const char* text) = 0;
    virtual void EnableReadButton(bool enable) = 0;
    virtual void EnablePortButton(bool enable) = 0;
    // PostMessage to the main window with wParam and lParam 0.
    virtual void PostLinkMessage(uint32_t message) = 0;
    // Converts an adapter text from the OEM code page to the ANSI one, in place.
    // The program uses the platform's OemToCharA; the default is the core's 866 -> 1251 table.
    virtual void ConvertOemText(char* text);
    // A reopen of the selected port failed with `result` (after its status text is shown). The
    // window has nothing to add to the text; a host without a status bar learns it here.
    virtual void PortOpenFailed(serial::ComResult /*result*/) {}
};

// Portable 866 -> 1251 conversion of one zero-terminated text, in place.
void Oem866ToAnsi1251(char* text);

}  // namespace adapter
