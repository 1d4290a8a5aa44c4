#include "loader/LoaderDialog_win32.h"
#include "serial/ComDriver.h"
#include "serial/SerialApi_win32.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    serial::Win32SerialApi api;
    serial::ComDriver driver(serial::ComVariant::Loader, api);
    loader::LoaderApp app(driver);
    return app.Run();
}
