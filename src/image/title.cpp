#include <cstring>
#include <mutex>

#include "image/image.h"
#include "ports/desktop.h"
#include "state/version.h"
#include "text/text.h"

namespace {

constexpr std::uint32_t kShortPathCharacters = 75;
constexpr std::uint32_t kFailureTitleBytes = 640;
constexpr char kBuildingTitle[] = "Building new list...";
constexpr char kLoadingTitle[] = "Loading Image";
constexpr char kNoImagesTitle[] = "No valid images in directory";

void append_number(char* text, std::int32_t value) {
  char number[12];
  number_to_text(value, number);
  append_text(text, number);
}

// The image's title at the scale the window paints it now.
void image_title(AppState& state, char title[kTitleBytes]) {
  std::uint32_t scale = 0;
  {
    std::lock_guard<std::mutex> hold(state.viewer.image.image_lock);
    scale = plan_paint(state.viewer.image.client_width, state.viewer.image.client_height,
                       state.viewer.image.image_width, state.viewer.image.image_height,
                       state.viewer.image.zoom_level, state.viewer.image.pan_x,
                       state.viewer.image.pan_y)
                .scale;
  }
  build_title(state, scale, title);
}

// kIncompatibleTitle, " - " and the path that failed.
void failure_title(AppState& state, char title[kTitleBytes]) {
  copy_text(kIncompatibleTitle, title);
  append_text(title, " - ");
  // A path too long for the title is cut here, where only the display suffers.
  const std::uint32_t room = kFailureTitleBytes - 1 - length_of_text(title);
  std::lock_guard<std::mutex> hold(state.viewer.texts);
  std::strncat(title, state.viewer.image.title_path, room);
}

void missing_title(AppState& state, char title[kTitleBytes]) {
  copy_text("Cannot open ", title);
  {
    std::lock_guard<std::mutex> hold(state.viewer.texts);
    append_text(title, state.viewer.image.title_path);
  }
  append_text(title, ": No such file or directory - ");
  append_text(title, kProgramTitle);
}

void no_images_title(AppState& state, char title[kTitleBytes]) {
  copy_text(kNoImagesTitle, title);
  append_text(title, " - ");
  std::lock_guard<std::mutex> hold(state.viewer.texts);
  append_text(title, state.settings.view_folder);
}

}  // namespace

void shorten_path(char* text) {
  const std::uint32_t length = length_of_text(text);
  if (length <= kShortPathCharacters) return;
  char tail[kPathBytes];
  copy_text(text + (length - kShortPathCharacters), tail);
  copy_text("...", text);
  append_text(text, tail);
}

void build_title(AppState& state, std::uint32_t scale, char title[kTitleBytes]) {
  char part[kPathBytes];
  {
    // The worker changes both texts while the window paints.
    std::lock_guard<std::mutex> hold(state.viewer.texts);
    copy_text(state.settings.image_path, title);
    copy_text(state.settings.view_folder, part);
  }
  shorten_path(title);
  shorten_path(part);
  append_text(title, " (");
  append_number(title, state.viewer.image.image_width);
  append_text(title, " x ");
  append_number(title, state.viewer.image.image_height);
  append_text(title, " @ ");
  append_number(title, static_cast<std::int32_t>(scale));
  append_text(title, "%) ");
  append_text(title, part);
  append_text(title, " ");
  if (!is_random(select_mode_of(state.settings))) {
    append_number(title, state.viewer.worker.current_index.load() + 1);
    append_text(title, " of ");
  }
  append_number(title, static_cast<std::int32_t>(state.viewer.worker.file_count.load()));
  append_text(title, " Files - ");
  append_text(title, kProgramTitle);
}

void window_title(AppState& state, char title[kTitleBytes]) {
  switch (state.viewer.image.title_kind.load()) {
    case TitleKind::program:
      copy_text(kProgramTitle, title);
      break;
    case TitleKind::building:
      copy_text(kBuildingTitle, title);
      break;
    case TitleKind::loading:
      copy_text(kLoadingTitle, title);
      break;
    case TitleKind::image:
      image_title(state, title);
      break;
    case TitleKind::failed:
      failure_title(state, title);
      break;
    case TitleKind::no_images:
      no_images_title(state, title);
      break;
    case TitleKind::missing:
      missing_title(state, title);
      break;
  }
}

void show_title(AppState& state, TitleKind kind, const char* path) {
  if (path != nullptr) {
    std::lock_guard<std::mutex> hold(state.viewer.texts);
    copy_text(path, state.viewer.image.title_path);
  }
  state.viewer.image.title_kind = kind;
  char title[kTitleBytes];
  window_title(state, title);
  desktop_set_title(state.viewer.window, title);
}
