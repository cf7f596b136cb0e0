// Keeps a window out of the taskbar and the pager, so that a panel of twenty gauge windows is one entry there
// (the control window's) and in Alt-Tab. X11 only: Wayland has no such hint, and other platforms ignore it.
#pragma once

class QWindow;

namespace app {

// Adds _NET_WM_STATE_SKIP_TASKBAR and _NET_WM_STATE_SKIP_PAGER to the window's state. Call it while the
// window is created but not mapped (from its show event): the window manager reads the state when it maps the
// window, and drops it when the window is withdrawn. The platform layer merges its own states into it.
void skipTaskbarAndPager(QWindow& window);

}  // namespace app
