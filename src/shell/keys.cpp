// The key table: every key binding of the main window, one row each.
#include "commands/commands.h"
#include "navigation/navigation.h"
#include "ports/desktop.h"
#include "shell/shell.h"

namespace {

// F1 and Delete arrive as commands, as if chosen from the menu, so that their
// dialogs open after the key event has been handled.
void post_help(AppState& state, std::uint32_t) {
  desktop_post_command(state.window.main_window, kCommandHelp);
}
void post_delete(AppState& state, std::uint32_t) {
  desktop_post_command(state.window.main_window, kCommandDelete);
}
void close_window(AppState& state, std::uint32_t) {
  handle_close(state);
}
void open_menu(AppState& state, std::uint32_t) {
  show_context_menu(state);
}

struct KeyBinding {
  std::uint32_t key;        // a kKey code
  std::uint32_t modifiers;  // kModifier bits that must be held; others may be too
  void (*action)(AppState& state, std::uint32_t modifiers);  // gets every bit held
};

// The first row that matches is used.
constexpr KeyBinding kKeyTable[] = {
    {kKeyF1, 0, post_help},   {kKeyEscape, 0, close_window},        {kKeyDelete, 0, post_delete},
    {kKeyLeft, 0, step_back}, {kKeyRight, 0, step_forward},         {kKeySpace, 0, step_forward},
    {kKeyMenu, 0, open_menu}, {kKeyF10, kModifierShift, open_menu},
};

}  // namespace

void handle_key(AppState& state, std::uint32_t key, std::uint32_t modifiers) {
  for (const KeyBinding& binding : kKeyTable) {
    if (binding.key == key && (modifiers & binding.modifiers) == binding.modifiers) {
      binding.action(state, modifiers);
      return;
    }
  }
}
