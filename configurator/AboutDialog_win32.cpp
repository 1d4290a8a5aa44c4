#include "configurator/AboutDialog_win32.h"

#include "configurator/resource.h"

namespace configurator {

AboutDialog::AboutDialog() : fw::Dialog(IDD_ABOUTBOX) {}

}  // namespace configurator
