// The skip-taskbar state through the X connection Qt already holds.
#include "TaskbarHints.h"

#include <QGuiApplication>
#include <QWindow>

#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace app {

namespace {

xcb_atom_t atom(xcb_connection_t* connection, const char* name) {
  const xcb_intern_atom_cookie_t cookie =
      xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(strlen(name)), name);
  const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
      xcb_intern_atom_reply(connection, cookie, nullptr), &std::free);
  return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

// The three atoms, asked of the X server once a connection (a process has one, Qt's).
struct StateAtoms {
  xcb_connection_t* connection = nullptr;
  xcb_atom_t state = XCB_ATOM_NONE;
  std::array<xcb_atom_t, 2> wanted{};
  bool usable() const { return state != XCB_ATOM_NONE && wanted[0] != XCB_ATOM_NONE && wanted[1] != XCB_ATOM_NONE; }
};

const StateAtoms& stateAtoms(xcb_connection_t* c) {
  static StateAtoms atoms;
  if (atoms.connection != c) {
    atoms = {c, atom(c, "_NET_WM_STATE"), {atom(c, "_NET_WM_STATE_SKIP_TASKBAR"), atom(c, "_NET_WM_STATE_SKIP_PAGER")}};
  }
  return atoms;
}

}  // namespace

void skipTaskbarAndPager(QWindow& window, WindowMapping mapping) {
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (x11 == nullptr || x11->connection() == nullptr) {
    return;
  }
  xcb_connection_t* c = x11->connection();
  const auto id = static_cast<xcb_window_t>(window.winId());
  const StateAtoms& atoms = stateAtoms(c);
  if (!atoms.usable()) {
    return;
  }
  const xcb_atom_t state = atoms.state;
  const std::array<xcb_atom_t, 2>& wanted = atoms.wanted;
  if (mapping == WindowMapping::Mapped) {
    // A mapped window's state belongs to the window manager: it is asked, as the window manager protocol says
    // (add = 1, source 1 = an application).
    xcb_client_message_event_t request{};
    request.response_type = XCB_CLIENT_MESSAGE;
    request.format = 32;
    request.window = id;
    request.type = state;
    request.data.data32[0] = 1;
    request.data.data32[1] = wanted[0];
    request.data.data32[2] = wanted[1];
    request.data.data32[3] = 1;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_send_event(c, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&request));
    xcb_flush(c);
    return;
  }
  // Kept: whatever states the window already has.
  std::vector<xcb_atom_t> present;
  const xcb_get_property_cookie_t cookie = xcb_get_property(c, 0, id, state, XCB_ATOM_ATOM, 0, 1024);
  const std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
      xcb_get_property_reply(c, cookie, nullptr), &std::free);
  if (reply && reply->format == 32 && reply->type == XCB_ATOM_ATOM) {
    const auto* values = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
    present.assign(values, values + xcb_get_property_value_length(reply.get()) / 4);
  }
  for (const xcb_atom_t a : wanted) {
    if (std::find(present.begin(), present.end(), a) == present.end()) {
      present.push_back(a);
    }
  }
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, state, XCB_ATOM_ATOM, 32,
                      static_cast<std::uint32_t>(present.size()), present.data());
  xcb_flush(c);
}

}  // namespace app
