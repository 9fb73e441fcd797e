#!/usr/bin/env bash
# Plants one fault at a time in the core and tells which ones the unit tests
# catch: a tool for judging the suite, not a CI step.
#   scripts/mutate.sh [SOURCE_TREE] [BUILD_FOLDER]
# With MUTATE_ALL=1 every test program runs to its end and each verdict is
# followed by the tests that failed: which tests are the only ones to catch
# a fault, and which never catch anything of their own.
# SOURCE_TREE defaults to this checkout; every planted fault is taken back
# before the next one (and on Ctrl+C). Each place is one exact piece of text
# and what it becomes; a place whose text is missing or not unique is
# reported as "gone" rather than counted.
set -uo pipefail
top=$(cd "${1:-$(dirname "$0")/..}" && pwd)
build=${2:-$top/build/mutation}

# file @@ text @@ becomes   (\n stands for a line break)
places=$(
  cat <<'EOF'
text/text.cpp @@ *text >= 'A' && *text <= 'Z' @@ *text >= 'A' && *text < 'Z'
text/text.cpp @@ count < length ? length - count : 0 @@ count > length ? length - count : 0
text/text.cpp @@ '0' + magnitude % 10 @@ '1' + magnitude % 10
text/text.cpp @@ value = value * 10u + @@ value = value * 16u +
text/text.cpp @@ (joined ? 1 : 0) + length_of_text(name) >= kPathBytes @@ (joined ? 1 : 0) + length_of_text(name) > kPathBytes
text/text.cpp @@ if (length > base) --length;  // the last component's separator @@ // the last component's separator
text/text.cpp @@ return is_separator(path[2], rules) ? 3 : 2; @@ return is_separator(path[2], rules) ? 3 : 3;
text/text.cpp @@ for (int names = 0; names < 2; ++names) { @@ for (int names = 0; names < 1; ++names) {
text/text.cpp @@ for (; *a != '\0' && fold(*a) == fold(*b); ++a, ++b) { @@ for (; *a != '\0' && *a == *b; ++a, ++b) {
state/app_state.cpp @@ if (keep < root) keep += 1; @@ if (keep < root) keep += 0;
state/app_state.cpp @@ if (same_path(entry, folder, rules)) return; @@ if (!same_path(entry, folder, rules)) return;
state/app_state.cpp @@ if (n == 0 || n >= kRecentFolderCount) return; @@ if (n == 1 || n >= kRecentFolderCount) return;
navigation/requests.cpp @@ return !is_random(select_mode_of(settings)); @@ return is_random(select_mode_of(settings));
navigation/viewer_thread.cpp @@ moved >= count ? count - 2 : moved @@ moved >= count ? count - 1 : moved
navigation/viewer_thread.cpp @@ index = index > page ? index - page : 1; @@ index = index >= page ? index - page : 1;
navigation/viewer_thread.cpp @@ } else {\n      index = count - 2; @@ } else {\n      index = count - 3;
navigation/requests.cpp @@ if ((modifiers & kModifierRepeat) != 0 && !steps.empty()) return; @@ if ((modifiers & kModifierRepeat) != 0 && steps.empty()) return;
navigation/requests.cpp @@ ++steps.back().count; @@ steps.push_back(StepRun{kind, 1});
navigation/viewer_thread.cpp @@ if (step + 1 < run.count) { @@ if (step + 1 < 0) {
shell/keys.cpp @@ {kKeySpace, 0, step_on, true} @@ {kKeySpace, 0, step_off, true}
shell/keys.cpp @@ (modifiers & binding.modifiers) != binding.modifiers @@ modifiers != binding.modifiers
shell/window.cpp @@ constexpr std::int32_t kMaxZoom = 5; @@ constexpr std::int32_t kMaxZoom = 4;
shell/window.cpp @@ *width = screen_width > 800 ? 800 : 640; @@ *width = screen_width >= 800 ? 800 : 640;
shell/window.cpp @@ } else if (counter < kLastCountedClose) { @@ } else if (counter <= kLastCountedClose) {
shell/window.cpp @@ if (level < 1) level = 1; @@ if (level < 1) level = 0;
navigation/requests.cpp @@ if (length <= shortest_root() || length >= kPathBytes) return false; @@ if (length <= shortest_root() || length > kPathBytes) return false;
shell/switch_backup.cpp @@ const bool complete = backup_folder( @@ const bool complete = !backup_folder(
state/events.h @@ kCommandModeFirst = 2040; @@ kCommandModeFirst = 2041;
commands/commands.cpp @@ {0, 8, 18, 38, 58, 88, 118} @@ {0, 10, 18, 38, 58, 88, 118}
commands/commands.cpp @@ mode(2, "Random") @@ mode(3, "Random")
commands/commands.cpp @@ menu.back().text != row.submenu @@ menu.back().text == row.submenu
commands/commands.cpp @@ desktop_set_full_screen(state.viewer.window, 0);\n    set_topmost(state.viewer.window, state.settings.always_on_top); @@ desktop_set_full_screen(state.viewer.window, 0);\n    set_topmost(state.viewer.window, 0);
commands/commands.cpp @@ index >= state.viewer.worker.file_count.load() ? 0 @@ index > state.viewer.worker.file_count.load() ? 0
commands/commands.cpp @@ state.settings.always_on_top == 0 ? 1 : 0; @@ state.settings.always_on_top == 0 ? 1 : 1;
walk/walk.cpp @@ if (x != y) return x < y; @@ if (x != y) return x > y;
walk/walk.cpp @@ return a.name.size() < b.name.size(); @@ return a.name.size() > b.name.size();
navigation/file_selection.cpp @@ random_state = word % n + 1; @@ random_state = word % n;
navigation/file_selection.cpp @@ n >= kRecentPicks ? kRecentPicks : n - 3 @@ n >= kRecentPicks ? kRecentPicks : n - 2
navigation/file_selection.cpp @@ random_in_range(viewer, settings, 50) > 40 @@ random_in_range(viewer, settings, 50) >= 40
navigation/file_selection.cpp @@ return block.show_jpg != 0 && extra.more_picture_types.load(); @@ return block.show_jpg != 0;
navigation/viewer_thread.cpp @@ state.viewer.image.shown_colour != state.viewer.image.colour_serial.load()) { @@ false) {
settings/options.cpp @@ if (value == "1" || value == "0") @@ if (value == "1" || value != "0")
navigation/file_selection.cpp @@ count >= 100 ? count / 10 : 10 @@ count >= 100 ? count / 10 : 9
navigation/file_selection.cpp @@ accepted = count <= 4 || @@ accepted = count <= 3 ||
walk/walk.cpp @@ if (count >= kListLimit) break; @@ if (count > kListLimit) break;
navigation/file_selection.cpp @@ if (secure) draw->taken[draw->taken_count++] = word; @@ (void)secure;
navigation/file_selection.cpp @@ prefetch.returned_count = kept + draw.taken_count; @@ prefetch.returned_count = kept;
navigation/prefetch.cpp @@ && picture_current(picture, path); @@ ;
navigation/prefetch.cpp @@ const std::int32_t index = next >= count ? 0 @@ const std::int32_t index = next > count ? 0
navigation/prefetch.cpp @@ if (ahead.drawn != 0) give_back_pick(viewer, ahead.draw); @@ ahead.drawn = ahead.drawn;
navigation/prefetch.cpp @@ ahead.status != AheadStatus::decoding; @@ ahead.status != AheadStatus::ready;
navigation/prefetch.cpp @@ if (viewer.image.magnifying.load() || prefetch.full_urgent) return true; @@ if (true) return true;
navigation/requests.cpp @@ viewer.image.full_cancel = true;\n  viewer.worker.request_pending @@ viewer.worker.request_pending
image/image_buffer.cpp @@ release_bitmap(image, image.image_bitmap);\n    image.image_bitmap = picture->bitmap; @@ image.image_bitmap = picture->bitmap;
image/image_buffer.cpp @@ if (plan.draw == 0 || plan.scale > 50) return 1; @@ if (plan.draw == 0 || plan.scale > 51) return 1;
image/image_buffer.cpp @@ if (reduced(width, reduction) >= static_cast<std::uint64_t>(plan.target_width) && @@ if (reduced(width, reduction) > static_cast<std::uint64_t>(plan.target_width) &&
navigation/viewer_thread.cpp @@ if (rebuild) prefetch_discard(state.viewer); @@ (void)rebuild;
navigation/viewer_thread.cpp @@ if (!is_random(mode)) { @@ if (is_random(mode)) {
navigation/viewer_thread.cpp @@ state.viewer.worker.history[0] = index; @@ state.viewer.worker.history[0] = index + 1;
navigation/viewer_thread.cpp @@ if (++ticks >= state.viewer.worker.advance_ticks.load()) { @@ if (++ticks > state.viewer.worker.advance_ticks.load()) {
navigation/viewer_thread.cpp @@ if (state.viewer.worker.rebuild_wanted.load() != 0 || steps_waiting(state)) { @@ if (state.viewer.worker.rebuild_wanted.load() != 0) {
image/title.cpp @@ kShortPathCharacters = 75; @@ kShortPathCharacters = 74;
image/paint.cpp @@ static_cast<std::int32_t>((cw - dw) / 2); @@ static_cast<std::int32_t>((cw - dw) / 3);
image/paint.cpp @@ (fit_x < fit_y ? fit_x : fit_y) << zoom_level @@ (fit_x > fit_y ? fit_x : fit_y) << zoom_level
image/title.cpp @@ append_number(title, viewer.worker.current_index.load() + 1); @@ append_number(title, viewer.worker.current_index.load());
image/title.cpp @@ case TitleKind::loading:\n      copy_text(kLoadingTitle, title); @@ case TitleKind::loading:\n      copy_text(kBuildingTitle, title);
image/image_buffer.cpp @@ if (product <= 8) return 8; @@ if (product < 8) return 8;
settings/settings.cpp @@ if (std::strcmp(version, "00") == 0) return kHeaderCurrent; @@ if (std::strcmp(version, "01") == 0) return kHeaderCurrent;
backup/backup.cpp @@ put_time(catalog, slot, kCatalogBackupHigh, kCatalogBackupLow, run.now);\n @@ \n
backup/rotation.cpp @@ while (k < 8 && (n & (1u << k)) == 0) ++k; @@ while (k < 7 && (n & (1u << k)) == 0) ++k;
backup/rotation.cpp @@ return Rotation{k == 8 ? 0 : n, k + 1, RotationStep::older}; @@ return Rotation{k == 7 ? 0 : n, k + 1, RotationStep::older};
backup/backup.cpp @@ } else if (!run.deep && entry.kind == kFolderEntryFolder) { @@ } else if (run.deep && entry.kind == kFolderEntryFolder) {
backup/backup.cpp @@ return written > last || written != recorded || @@ return written > last ||
backup/backup.cpp @@ if ((last >> 32) > (run.now >> 32)) last = 0; @@ if ((last >> 32) > (run.now >> 32)) last = 1;
catalog/report.cpp @@ progress->version != progress->read_version; @@ progress->version == progress->read_version;
catalog/catalog_build.cpp @@ return count == kCatalogJumpAt ? kFolderLimit : count; @@ return count;
catalog/catalog_build.cpp @@ if (found >= 0) { @@ if (found > 0) {
backup/excludes.cpp @@ if (from == text.size() || separator_at(text, from, rules)) break; @@ if (from == text.size()) break;
backup/excludes.cpp @@ std::memcmp(start, kSignature, kLength) == 0; @@ std::memcmp(start, kSignature, kLength - 1) == 0;
backup/run_log.cpp @@ for (std::uint32_t lines = 0; at > 0; --at) { @@ for (std::uint32_t lines = 1; at > 0; --at) {
backup/excludes.cpp @@ if (!path_taken(path)) { @@ if (true) {
backup/generation_move.cpp @@ if (!target_makes_links() && source == TargetEntry::link) @@ if (target_makes_links() && source == TargetEntry::link)
backup/generation_move.cpp @@ if (target != TargetEntry::none && (folder || target == TargetEntry::folder)) { @@ if (target != TargetEntry::none && folder) {
catalog/list_slots.h @@ return type >= 10; @@ return type > 10;
catalog/list_records.cpp @@ if (tag_of(list, slot) != SLOT_RECORD) return false; @@ if (tag_of(list, slot) == SLOT_BLANK) return false;
catalog/list_records.cpp @@ if (tag_of(list, slot) == SLOT_FREED) { @@ if (tag_of(list, slot) == SLOT_BLANK) {
catalog/list_slots.h @@ return field != 0 && field <= list.field_count; @@ return field != 0 && field < list.field_count;
catalog/list_file.cpp @@ if (type == NUM2) return at[0] | (at[1] << 8); @@ if (type == NUM2) return at[0] | (at[1] << 4);
catalog/list_records.cpp @@ if (percent > 90 || free < 10) { @@ if (percent > 91 || free < 10) {
catalog/catalog_build.cpp @@ if (!path_taken(std::string(path).c_str())) catalog_set_gone @@ if (path_taken(std::string(path).c_str())) catalog_set_gone
catalog/finder.cpp @@ if (!is_any_separator(literal[k - 1])) continue; @@ if (is_any_separator(literal[k - 1])) continue;
catalog/finder.cpp @@ if (p < wanted.size() && wanted[p] == '?') { @@ if (p < wanted.size() && wanted[p] == '*') {
EOF
)

# Unit tests only: the end-to-end run and the source checks say nothing here.
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-O1 >/dev/null ||
  exit 2
cmake --build "$build" >/dev/null || { echo "mutate.sh: the unmutated tree does not build" >&2; exit 2; }

current=""
restore() { [ -n "$current" ] && cp "$current.unmutated" "$current" && rm -f "$current.unmutated"; current=""; }
trap 'restore; exit 130' INT TERM

caught=0
missed=0
gone=0
while IFS= read -r place; do
  [ -n "$place" ] || continue
  file=${place%% @@ *}
  rest=${place#* @@ }
  text=${rest%% @@ *}
  becomes=${rest#* @@ }
  path="$top/src/$file"
  cp "$path" "$path.unmutated"
  current=$path
  if ! python3 - "$path" "$text" "$becomes" <<'PY'; then
import sys
path, text, becomes = sys.argv[1], sys.argv[2].replace("\\n", "\n"), sys.argv[3].replace("\\n", "\n")
source = open(path).read()
if source.count(text) != 1:
    sys.exit(1)
open(path, "w").write(source.replace(text, becomes))
PY
    echo "gone    $file: $text"
    gone=$((gone + 1))
    restore
    continue
  fi
  if ! cmake --build "$build" >/dev/null 2>&1; then
    verdict=caught  # a fault the compiler refuses counts as caught
  elif [ "${MUTATE_ALL:-0}" = 1 ]; then
    # A program that dies without naming a failed test is named itself.
    failed=$(cd "$build/tests" && find . -maxdepth 1 -name '*_test' -type f -perm -u+x |
      QT_QPA_PLATFORM=offscreen xargs -P "$(nproc)" -I{} sh -c \
        'out=$(timeout 300 {} --gtest_brief=1 2>&1) || { echo "$out" | grep -q "^\[  FAILED  \] [A-Za-z]" || echo "[  FAILED  ] {}"; }; echo "$out"' |
      sed -n 's/^\[  FAILED  \] \([A-Za-z.\/][A-Za-z0-9_./]*\).*/\1/p' | sort -u | tr '\n' ' ')
    if [ -n "$failed" ]; then verdict=caught; else verdict=missed; fi
  elif ctest --test-dir "$build" -E 'end_to_end|formatted|core_includes' -j "$(nproc)" \
    --stop-on-failure >/dev/null 2>&1; then
    verdict=missed
  else
    verdict=caught
  fi
  restore
  if [ "$verdict" = caught ]; then caught=$((caught + 1)); else missed=$((missed + 1)); fi
  printf '%-7s %s: %s\n' "$verdict" "$file" "$text"
  [ -z "${failed:-}" ] || printf '        by %s\n' "$failed"
  failed=""
done <<<"$places"
# Leave the build matching the unmutated tree.
cmake --build "$build" >/dev/null 2>&1
echo "caught $caught of $((caught + missed)) planted faults ($gone places gone)"
