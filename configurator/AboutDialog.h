// The "About Vantrel" box: icon, program name, version.
#pragma once

#include "framework/Dialog.h"

namespace configurator {

class AboutDialog : public fw::Dialog {
  public:
    AboutDialog();
};

}  // namespace configurator
