// The Linux program's entry: the real box behind the hidraw backend.
#include "platform/linux/gtk/start.h"
#include "platform/window.h"

int main() {
    // Without a display nothing can be shown or asked; the one exit code that is not 0.
    if (!StartWindowSystem("veltabox-updater")) return 1;
    return RunProgram(0);
}
