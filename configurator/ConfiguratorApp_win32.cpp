#include <memory>

#include "configurator/ConfiguratorDialog_win32.h"
#include "serial/ComDriver.h"
#include "serial/SerialApi_win32.h"

namespace configurator {

bool ConfiguratorApp::InitInstance() {
    // The window holds the link's buffers, some tens of kilobytes: not on the stack.
    auto dialog = std::make_unique<ConfiguratorDialog>(com_, selection_);
    RunMainDialog(*dialog);
    // The program ends with its window; the application's own message loop does not run.
    return false;
}

}  // namespace configurator

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    serial::Win32SerialApi api;
    serial::ComDriver driver(serial::ComVariant::Configurator, api);
    configurator::ConfiguratorApp app(driver);
    return app.Run();
}
