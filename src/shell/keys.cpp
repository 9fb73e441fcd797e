// The key table: every key binding of the main window, one row each.
#include <algorithm>

#include "commands/commands.h"
#include "navigation/navigation.h"
#include "ports/desktop.h"
#include "shell/shell.h"

namespace {

// F1 and Delete arrive as commands, as if chosen from the menu, so that their
// dialogs open after the key event has been handled.
void post_help(AppState& state, std::uint32_t) {
  desktop_post_command(state.viewer.window, kCommandHelp);
}
void post_delete(AppState& state, std::uint32_t) {
  desktop_post_command(state.viewer.window, kCommandDelete);
}
void close_window(AppState& state, std::uint32_t) {
  handle_close(state);
}
void open_menu(AppState& state, std::uint32_t) {
  show_context_menu(state);
}
void step_on(AppState& state, std::uint32_t modifiers) {
  step_forward(state.viewer, state.settings, modifiers);
}
void step_off(AppState& state, std::uint32_t modifiers) {
  step_back(state.viewer, state.settings, modifiers);
}

struct KeyBinding {
  std::uint32_t key;        // a kKey code
  std::uint32_t modifiers;  // kModifier bits that must be held; others may be too
  void (*action)(AppState& state, std::uint32_t modifiers);  // gets every bit held
  bool steps;  // asks for a picture: a held key's repeats are judged
};

// The first row that matches is used.
constexpr KeyBinding kKeyTable[] = {
    {kKeyF1, 0, post_help, false},       {kKeyEscape, 0, close_window, false},
    {kKeyDelete, 0, post_delete, false}, {kKeyLeft, 0, step_off, true},
    {kKeyRight, 0, step_on, true},       {kKeySpace, 0, step_on, true},
    {kKeyMenu, 0, open_menu, false},     {kKeyF10, kModifierShift, open_menu, false},
};

// When the event stamped at time was generated, in ticks_now()'s clock: its
// stamp moved by the least difference between handling and stamp seen so
// far, which is the clocks' offset plus the quickest delivery.
std::uint32_t generated_at(KeyRepeats& keys, std::uint32_t now, std::uint32_t time) {
  const std::uint32_t difference = now - time;
  if (!keys.clock_known) {
    keys.clock_known = true;
    keys.first_difference = difference;
  }
  keys.least_more =
      std::min(keys.least_more, static_cast<std::int32_t>(difference - keys.first_difference));
  return time + keys.first_difference + static_cast<std::uint32_t>(keys.least_more);
}

// Whether a held key's repeat stands for the key held now. Not while the
// picture of the key's step before it is on its way, nor when it was
// generated before that picture reached the screen or waited longer than
// the key's repeat interval: such a repeat waited in the event queue behind
// a slow step, and may be one of many handled after the key was let go.
bool repeat_is_fresh(const KeyRepeats& keys, std::uint32_t generated, std::uint32_t now) {
  return !keys.step_on_its_way && static_cast<std::int32_t>(generated - keys.shown_at) > 0 &&
         now - generated <= keys.repeat_interval;
}

// Learns the repeat interval from the stamps of two repeats in a row.
void learn_interval(KeyRepeats& keys, std::uint32_t modifiers, std::uint32_t time) {
  constexpr std::uint32_t kShortest = 10;
  constexpr std::uint32_t kLongest = 500;
  const bool repeat = (modifiers & kModifierRepeat) != 0;
  const std::uint32_t gap = time - keys.last_repeat;
  if (repeat && keys.last_repeat != 0 && gap >= kShortest && gap <= kLongest) {
    keys.repeat_interval = gap;
  }
  keys.last_repeat = repeat ? (time != 0 ? time : 1) : 0;
}

}  // namespace

void handle_key(AppState& state, std::uint32_t key, std::uint32_t modifiers, std::uint32_t time) {
  KeyRepeats& keys = state.window.key_repeats;
  const std::uint32_t now = ticks_now();
  const std::uint32_t generated = generated_at(keys, now, time);
  learn_interval(keys, modifiers, time);
  for (const KeyBinding& binding : kKeyTable) {
    if (binding.key != key || (modifiers & binding.modifiers) != binding.modifiers) continue;
    if (binding.steps) {
      // A press is never dropped.
      if ((modifiers & kModifierRepeat) != 0 && !repeat_is_fresh(keys, generated, now)) return;
      binding.action(state, modifiers);
      keys.step_on_its_way = true;
      keys.asked = step_serial(state.viewer.worker);
      return;
    }
    binding.action(state, modifiers);
    return;
  }
}

void key_step_painted(AppState& state) {
  KeyRepeats& keys = state.window.key_repeats;
  const std::uint32_t served = state.viewer.worker.served_serial.load(std::memory_order_acquire);
  if (keys.step_on_its_way && static_cast<std::int32_t>(served - keys.asked) >= 0) {
    keys.step_on_its_way = false;
    keys.shown_at = ticks_now();
  }
}
