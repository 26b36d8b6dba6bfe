// Entry point of the Windows executable: a GUI program with no window of its
// own; the module instance is where every resource comes from.
#include "launcher/run_options.h"

// After our headers: the system headers define our constant names as macros.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    return sp::WrapperMain(instance);
}
