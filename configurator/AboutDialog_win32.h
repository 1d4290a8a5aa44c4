// The "About Vantrel" box: icon, program name, version.
#pragma once

#include "framework/win32/Dialog_win32.h"

namespace configurator {

class AboutDialog : public fw::Dialog {
  public:
    AboutDialog();
};

}  // namespace configurator
