#include "catalog/catalog.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "ports/files.h"
#include "text/text.h"

namespace {

constexpr std::uint32_t kCatalogFields = 10;

}  // namespace

bool catalog_layout_sound(const ListFile& catalog) {
  if (catalog.field_count != kCatalogFields || list_field_type(catalog, kCatalogPath) != TEXT1000) {
    return false;
  }
  for (std::uint32_t field = 2; field <= kCatalogFields; ++field) {
    if (list_field_type(catalog, field) != NUM4) return false;
  }
  return true;
}

std::uint8_t* catalog_create(ListFile& catalog) {
  catalog.field_count = kCatalogFields;
  if (!list_create(catalog)) return nullptr;
  list_define_field(catalog, kCatalogPath, TEXT1000);
  for (std::uint32_t field = 2; field <= kCatalogFields; ++field) {
    list_define_field(catalog, field, NUM4);
  }
  list_lay_out(catalog);
  list_close(catalog);
  catalog.writable = true;
  if (list_map(catalog) == nullptr) return nullptr;
  // Slot 0 taken and freed, as every catalog starts.
  list_add_record(catalog);
  list_set_tag(catalog, 0, SLOT_FREED);
  return catalog.base;
}

namespace {

// Names the catalog's file in the data folder, leaving room for the name it
// is set aside under; false when there is none.
bool name_catalog(Catalog& catalog, const DataFolder& data) {
  if (!data.usable || length_of_text(data.folder) + sizeof kCatalogAside > kPathBytes) {
    return false;
  }
  copy_text(data.folder, catalog.list.path);
  append_text(catalog.list.path, kCatalogFileName);
  return true;
}

}  // namespace

bool catalog_open_for_reading(Catalog& catalog_part, const DataFolder& data) {
  ListFile& catalog = catalog_part.list;
  if (catalog.base != nullptr) return true;
  if (!name_catalog(catalog_part, data)) return false;
  catalog.writable = false;
  if (list_map(catalog) == nullptr) return false;
  if (catalog_layout_sound(catalog)) return true;
  list_close(catalog);
  return false;
}

CatalogMends catalog_open(Catalog& catalog_part, const DataFolder& data) {
  CatalogMends mends{0, false};
  ListFile& catalog = catalog_part.list;
  if (catalog.base != nullptr || !name_catalog(catalog_part, data)) return mends;
  catalog.writable = true;
  if (list_map(catalog) != nullptr) {
    if (catalog_layout_sound(catalog)) {
      mends.dropped = list_drop_damaged(catalog, kCatalogPath);
      catalog_part.answers_changed = mends.dropped > 0;
      return mends;
    }
    // A sound list file, but none whose fields a catalog could use.
    list_close(catalog);
    catalog.failure = OpenFailure::not_list;
  }
  // A catalog held by another process, or one we may not open, is left alone.
  if (catalog.failure != OpenFailure::missing && catalog.failure != OpenFailure::not_list) {
    return mends;
  }
  // Whatever is there instead (a damaged file, a link to some other file, a
  // folder) is kept aside for the user, never overwritten.
  if (path_taken(catalog.path)) {
    char aside[kPathBytes];
    copy_text(data.folder, aside);
    append_text(aside, kCatalogAside);
    if (!rename_replacing(catalog.path, aside)) return mends;
    mends.set_aside = true;
  }
  catalog_create(catalog);
  catalog_part.answers_changed = true;
  return mends;
}

std::int32_t catalog_find_path(ListFile& catalog, const PathRules& rules) {
  return rules.fold_case != 0 ? list_find(catalog, kCatalogPath)
                              : list_find_exact(catalog, kCatalogPath);
}
