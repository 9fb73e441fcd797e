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
void image_title(Viewer& viewer, const SettingsBlock& settings, char title[kTitleBytes]) {
  std::uint32_t scale = 0;
  {
    std::lock_guard<std::mutex> hold(viewer.image.image_lock);
    scale = plan_paint(viewer.image.client_width, viewer.image.client_height,
                       viewer.image.image_width, viewer.image.image_height, viewer.image.zoom_level,
                       viewer.image.pan_x, viewer.image.pan_y)
                .scale;
  }
  build_title(viewer, settings, scale, title);
}

// kIncompatibleTitle, " - " and the path that failed.
void failure_title(Viewer& viewer, char title[kTitleBytes]) {
  copy_text(kIncompatibleTitle, title);
  append_text(title, " - ");
  // A path too long for the title is cut here, where only the display suffers.
  const std::uint32_t room = kFailureTitleBytes - 1 - length_of_text(title);
  std::lock_guard<std::mutex> hold(viewer.texts);
  std::strncat(title, viewer.image.title_path, room);
}

void missing_title(Viewer& viewer, char title[kTitleBytes]) {
  copy_text("Cannot open ", title);
  {
    std::lock_guard<std::mutex> hold(viewer.texts);
    append_text(title, viewer.image.title_path);
  }
  append_text(title, ": No such file or directory - ");
  append_text(title, kProgramTitle);
}

void no_images_title(Viewer& viewer, const SettingsBlock& settings, char title[kTitleBytes]) {
  copy_text(kNoImagesTitle, title);
  append_text(title, " - ");
  std::lock_guard<std::mutex> hold(viewer.texts);
  append_text(title, settings.view_folder);
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

void build_title(Viewer& viewer, const SettingsBlock& settings, std::uint32_t scale,
                 char title[kTitleBytes]) {
  char part[kPathBytes];
  {
    // The worker changes both texts while the window paints.
    std::lock_guard<std::mutex> hold(viewer.texts);
    copy_text(settings.image_path, title);
    copy_text(settings.view_folder, part);
  }
  shorten_path(title);
  shorten_path(part);
  append_text(title, " (");
  append_number(title, viewer.image.image_width);
  append_text(title, " x ");
  append_number(title, viewer.image.image_height);
  append_text(title, " @ ");
  append_number(title, static_cast<std::int32_t>(scale));
  append_text(title, "%) ");
  append_text(title, part);
  append_text(title, " ");
  if (!is_random(select_mode_of(settings))) {
    append_number(title, viewer.worker.current_index.load() + 1);
    append_text(title, " of ");
  }
  append_number(title, static_cast<std::int32_t>(viewer.worker.file_count.load()));
  append_text(title, " Files - ");
  append_text(title, kProgramTitle);
}

void window_title(Viewer& viewer, const SettingsBlock& settings, char title[kTitleBytes]) {
  switch (viewer.image.title_kind.load()) {
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
      image_title(viewer, settings, title);
      break;
    case TitleKind::failed:
      failure_title(viewer, title);
      break;
    case TitleKind::no_images:
      no_images_title(viewer, settings, title);
      break;
    case TitleKind::missing:
      missing_title(viewer, title);
      break;
  }
}

void show_title(Viewer& viewer, const SettingsBlock& settings, TitleKind kind, const char* path) {
  if (path != nullptr) {
    std::lock_guard<std::mutex> hold(viewer.texts);
    copy_text(path, viewer.image.title_path);
  }
  viewer.image.title_kind = kind;
  char title[kTitleBytes];
  window_title(viewer, settings, title);
  desktop_set_title(viewer.window, title);
}
