// What the configurator's adapter link needs of its window: status-bar texts, its read and port
// buttons, posting a message to itself, and the OEM-to-ANSI conversion of adapter texts.
#pragma once

#include <cstdint>

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
};

// Portable 866 -> 1251 conversion of one zero-terminated text, in place.
void Oem866ToAnsi1251(char* text);

}  // namespace adapter
