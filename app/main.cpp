// wayfarer.exe's entry: the one application object runs and the process
// ends with it.
#include <windows.h>

#include "app/wayfarer_app.h"

namespace {
wayfarer::CWayfarerApp theApp;
}  // namespace

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int /*show*/) {
    theApp.InitInstance();
    return 0;
}
