// Keeps a window out of the taskbar and the pager, so that a panel of twenty gauge windows is one entry there
// (the control window's) and in Alt-Tab. X11 only: Wayland has no such hint, and other platforms ignore it.
#pragma once

class QWindow;

namespace app {

enum class WindowMapping { Unmapped, Mapped };

// Adds _NET_WM_STATE_SKIP_TASKBAR and _NET_WM_STATE_SKIP_PAGER to the window's state: on a window not yet
// mapped (from its show event) as the state the window manager reads when it maps it (the platform layer
// merges its own states into it); on a mapped one as a request to the window manager. Both are needed: the
// window manager drops the state of a withdrawn window, and when a hidden window is shown again at once it may
// do so only after the show event has set it.
void skipTaskbarAndPager(QWindow& window, WindowMapping mapping);

}  // namespace app
