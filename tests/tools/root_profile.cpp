// Sets or removes the X root window's _ICC_PROFILE property, as a colour
// manager does, for the end-to-end runs (xprop writes at most 64 values).
//   root_profile FILE   sets it to the file's bytes
//   root_profile        removes it
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv) {
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(connection) != 0) {
    std::fprintf(stderr, "root_profile: no display\n");
    return 1;
  }
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
  const char name[] = "_ICC_PROFILE";
  xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
      connection, xcb_intern_atom(connection, 0, sizeof name - 1, name), nullptr);
  if (atom == nullptr) return 1;
  if (argc > 1) {
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    if (bytes.empty()) {
      std::fprintf(stderr, "root_profile: cannot read %s\n", argv[1]);
      return 1;
    }
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, root, atom->atom, XCB_ATOM_CARDINAL, 8,
                        static_cast<std::uint32_t>(bytes.size()), bytes.data());
  } else {
    xcb_delete_property(connection, root, atom->atom);
  }
  std::free(atom);
  // A round trip: the change is made before the program ends.
  std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
  xcb_disconnect(connection);
  return 0;
}
