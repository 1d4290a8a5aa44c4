// The application object: the process's one instance, its main window and its start.
#pragma once

#include <windows.h>

namespace fw {

class Dialog;
class Window;

class App {
  public:
    App();
    virtual ~App();
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    // Registers the common controls, then InitInstance; when that returns true, the
    // application's own message loop runs until WM_QUIT. Returns the exit code.
    int Run();

    static App* Current() { return current_; }
    static HINSTANCE InstanceHandle() { return ::GetModuleHandleA(nullptr); }

    Window* MainWindow() const { return mainWindow_; }
    void SetMainWindow(Window* window) { mainWindow_ = window; }

  protected:
    // False: the program ends without running the application's message loop.
    virtual bool InitInstance() { return true; }
    virtual int ExitInstance() { return 0; }
    // Runs `dialog` as the main window until it ends; the main window is unset again after.
    void RunMainDialog(Dialog& dialog);

  private:
    static App* current_;
    Window* mainWindow_ = nullptr;
};

// The main window of the running application, or null.
Window* MainWindow();

}  // namespace fw
