#include "loader/LoaderDialog_win32.h"
#include "serial/ComDriver.h"
#include "serial/SerialApi_win32.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    serial::Win32SerialApi api;
    ComDriver driver(ComVariant::Loader, api);
    ComDriverInstall(&driver);
    loader::LoaderApp app;
    int code = app.Run();
    ComDriverInstall(nullptr);
    return code;
}
