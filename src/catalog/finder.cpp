// The catalog's index and the answers to patterns.
//
// The index file, all numbers 64-bit little-endian:
//   0   "TSMFIND1"
//   8   the catalog's stamp: size, write time, change time, device, file
//   48  runs, files, folder bytes, name bytes, body checksum, 0
//   96  run_first[runs + 1]  the first file of each run (the last: files)
//       run_at[runs + 1]     where each run's folder text starts
//       name_at[files + 1]   where each file's name starts
//       folders, folders folded, names, names folded: texts ended by NUL
// A run is a row of records in catalog order that share their folder (the
// path up to and with its last separator); a file's path is its run's folder
// followed by its name.
#include "catalog/finder.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string_view>

#include "catalog/catalog.h"
#include "catalog/list_file.h"
#include "ports/files.h"
#include "ports/mapped_file.h"
#include "text/text.h"

namespace {

constexpr char kMagic[8] = {'T', 'S', 'M', 'F', 'I', 'N', 'D', '1'};
constexpr std::uint64_t kHeaderBytes = 96;

struct Header {
  char magic[8];
  std::uint64_t stamp[5];
  std::uint64_t runs;
  std::uint64_t files;
  std::uint64_t folder_bytes;
  std::uint64_t name_bytes;
  std::uint64_t checksum;
  std::uint64_t reserved;
};
static_assert(sizeof(Header) == kHeaderBytes);

struct View {
  const std::uint64_t* run_first;
  const std::uint64_t* run_at;
  const std::uint64_t* name_at;
  const char* folders;
  const char* folders_folded;
  const char* names;
  const char* names_folded;
  std::uint64_t runs;
  std::uint64_t files;
  std::uint64_t folder_bytes;
  std::uint64_t name_bytes;
};

char fold(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

std::string folded(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = fold(c);
  return out;
}

bool is_any_separator(char c) {
  return c == '/' || c == '\\';
}

void stamp_words(const FileStamp& stamp, std::uint64_t words[5]) {
  words[0] = static_cast<std::uint64_t>(stamp.size);
  words[1] = stamp.write_time;
  words[2] = stamp.change_time;
  words[3] = stamp.device;
  words[4] = stamp.file;
}

// Four independent lanes, so that checking 40 MB costs a few milliseconds.
std::uint64_t checksum_of(const std::uint8_t* bytes, std::uint64_t length) {
  std::uint64_t lanes[4] = {0x9e3779b97f4a7c15ull, 0xc2b2ae3d27d4eb4full, 0x165667b19e3779f9ull,
                            0x27d4eb2f165667c5ull};
  std::uint64_t at = 0;
  for (; at + 32 <= length; at += 32) {
    for (std::uint64_t lane = 0; lane < 4; ++lane) {
      std::uint64_t word;
      std::memcpy(&word, bytes + at + 8 * lane, 8);
      lanes[lane] = (lanes[lane] ^ word) * 0x100000001b3ull;
      lanes[lane] ^= lanes[lane] >> 31;
    }
  }
  std::uint64_t sum = length;
  for (; at < length; ++at) sum = (sum ^ bytes[at]) * 0x100000001b3ull;
  for (const std::uint64_t lane : lanes) sum = (sum ^ lane) * 0x9e3779b97f4a7c15ull;
  return sum;
}

// Pointers into sound bytes; no check.
View view_of(const std::uint8_t* bytes) {
  Header header;
  std::memcpy(&header, bytes, sizeof header);
  View view{};
  view.runs = header.runs;
  view.files = header.files;
  view.folder_bytes = header.folder_bytes;
  view.name_bytes = header.name_bytes;
  const auto* words = reinterpret_cast<const std::uint64_t*>(bytes + kHeaderBytes);
  view.run_first = words;
  view.run_at = words + view.runs + 1;
  view.name_at = view.run_at + view.runs + 1;
  const char* texts = reinterpret_cast<const char*>(view.name_at + view.files + 1);
  view.folders = texts;
  view.folders_folded = texts + view.folder_bytes;
  view.names = view.folders_folded + view.folder_bytes;
  view.names_folded = view.names + view.name_bytes;
  return view;
}

// Offsets that start at 0, grow, end at total, and each end a text.
bool sound_offsets(const std::uint64_t* at, std::uint64_t count, std::uint64_t total,
                   const char* texts) {
  if (at[0] != 0 || at[count] != total) return false;
  for (std::uint64_t i = 0; i < count; ++i) {
    if (at[i + 1] <= at[i] || texts[at[i + 1] - 1] != '\0') return false;
  }
  return true;
}

// Whether bytes are a whole, undamaged index; its header in *header.
bool sound_index(const std::uint8_t* bytes, std::uint64_t length, Header* header) {
  if (length < kHeaderBytes) return false;
  std::memcpy(header, bytes, sizeof *header);
  if (std::memcmp(header->magic, kMagic, sizeof kMagic) != 0) return false;
  // Counts a catalog could have (fewer than 2^32 slots of 1,000-byte paths),
  // so that the sums below cannot overflow.
  if (header->runs > header->files || header->files >= (1ull << 32) ||
      header->folder_bytes >= (1ull << 44) || header->name_bytes >= (1ull << 44)) {
    return false;
  }
  const std::uint64_t words = 2 * (header->runs + 1) + header->files + 1;
  const std::uint64_t expected =
      kHeaderBytes + 8 * words + 2 * (header->folder_bytes + header->name_bytes);
  if (length != expected) return false;
  if (checksum_of(bytes + kHeaderBytes, length - kHeaderBytes) != header->checksum) return false;
  const View view = view_of(bytes);
  if (view.run_first[0] != 0 || view.run_first[view.runs] != view.files) return false;
  for (std::uint64_t run = 0; run < view.runs; ++run) {
    if (view.run_first[run + 1] <= view.run_first[run]) return false;
  }
  return sound_offsets(view.run_at, view.runs, view.folder_bytes, view.folders) &&
         sound_offsets(view.name_at, view.files, view.name_bytes, view.names);
}

void append_words(std::vector<std::uint8_t>* out, const std::vector<std::uint64_t>& words) {
  const auto* at = reinterpret_cast<const std::uint8_t*>(words.data());
  out->insert(out->end(), at, at + 8 * words.size());
}

void append_texts(std::vector<std::uint8_t>* out, const std::string& texts, bool fold_them) {
  const std::size_t start = out->size();
  out->insert(out->end(), texts.begin(), texts.end());
  if (fold_them) {
    for (std::size_t i = start; i < out->size(); ++i) {
      (*out)[i] = static_cast<std::uint8_t>(fold(static_cast<char>((*out)[i])));
    }
  }
}

// The index of a mapped catalog: every record not marked gone, in slot order.
std::vector<std::uint8_t> make_index(ListFile& catalog, const FileStamp& stamp) {
  std::vector<std::uint64_t> run_first;
  std::vector<std::uint64_t> run_at;
  std::vector<std::uint64_t> name_at;
  std::string folders;
  std::string names;
  std::string_view last_folder;
  bool any = false;
  for (std::uint32_t slot = 0; slot < catalog.capacity; ++slot) {
    if (!list_holds_record(catalog, slot) || catalog_is_gone(catalog, slot)) continue;
    const std::string_view path = list_text_of(catalog, slot, kCatalogPath);
    if (path.empty()) continue;
    std::size_t cut = path.size();
    while (cut > 0 && !is_any_separator(path[cut - 1])) --cut;
    const std::string_view folder = path.substr(0, cut);
    if (!any || folder != last_folder) {
      run_first.push_back(name_at.size());
      run_at.push_back(folders.size());
      folders.append(folder);
      folders.push_back('\0');
      last_folder = folder;
      any = true;
    }
    name_at.push_back(names.size());
    names.append(path.substr(cut));
    names.push_back('\0');
  }
  run_first.push_back(name_at.size());
  run_at.push_back(folders.size());
  Header header{};
  std::memcpy(header.magic, kMagic, sizeof kMagic);
  stamp_words(stamp, header.stamp);
  header.runs = run_first.size() - 1;
  header.files = name_at.size();
  name_at.push_back(names.size());
  header.folder_bytes = folders.size();
  header.name_bytes = names.size();
  std::vector<std::uint8_t> out(kHeaderBytes);
  out.reserve(kHeaderBytes + 8 * (run_first.size() + run_at.size() + name_at.size()) +
              2 * (folders.size() + names.size()));
  append_words(&out, run_first);
  append_words(&out, run_at);
  append_words(&out, name_at);
  append_texts(&out, folders, false);
  append_texts(&out, folders, true);
  append_texts(&out, names, false);
  append_texts(&out, names, true);
  header.checksum = checksum_of(out.data() + kHeaderBytes, out.size() - kHeaderBytes);
  std::memcpy(out.data(), &header, sizeof header);
  return out;
}

bool name_in_data_folder(const DataFolder& data, const char* name, std::string* path) {
  char named[kPathBytes];
  if (!data_file_path(data, name, named)) return false;
  *path = named;
  return true;
}

// The index file, mapped; false when it is missing or cannot be mapped.
bool map_index(const std::string& path, FindIndex* index) {
  OpenFailure why = OpenFailure::none;
  const std::int32_t handle = open_locked(path.c_str(), false, &why);
  if (handle < 0) return false;
  const std::int64_t length = handle_length(handle);
  std::uint8_t* base =
      length > 0 ? map_handle(handle, static_cast<std::uint64_t>(length), false) : nullptr;
  if (base == nullptr) {
    close_handle(handle);
    return false;
  }
  index->handle = handle;
  index->mapped = base;
  index->mapped_length = static_cast<std::uint64_t>(length);
  index->bytes = base;
  index->length = index->mapped_length;
  return true;
}

bool stamped_with(const Header& header, const FileStamp& stamp) {
  std::uint64_t words[5];
  stamp_words(stamp, words);
  return std::memcmp(words, header.stamp, sizeof words) == 0;
}

}  // namespace

namespace {

// The bytes of the UTF-8 character at text[at]: a lead byte and the
// continuation bytes after it (a stray byte is a character of its own).
std::size_t character_length(const std::string& text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const std::size_t most = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  std::size_t length = 1;
  while (length < most && at + length < text.size() &&
         (static_cast<unsigned char>(text[at + length]) & 0xC0) == 0x80) {
    ++length;
  }
  return length;
}

}  // namespace

bool pattern_matches(const char* pattern, const char* path) {
  const std::string wanted = folded(pattern);
  const std::string text = folded(path);
  if (wanted.empty()) return false;
  if (wanted.find_first_of("*?") == std::string::npos) {
    return text.find(wanted) != std::string::npos;
  }
  // The glob with one backtrack point: the last '*' seen. Both '?' and the
  // star's steps take whole characters, as a shell glob in UTF-8 does.
  std::size_t p = 0;
  std::size_t t = 0;
  std::size_t star = std::string::npos;
  std::size_t star_text = 0;
  while (t < text.size()) {
    if (p < wanted.size() && wanted[p] == '?') {
      ++p;
      t += character_length(text, t);
    } else if (p < wanted.size() && wanted[p] == text[t]) {
      ++p;
      ++t;
    } else if (p < wanted.size() && wanted[p] == '*') {
      star = p++;
      star_text = t;
    } else if (star != std::string::npos) {
      p = star + 1;
      star_text += character_length(text, star_text);
      t = star_text;
    } else {
      return false;
    }
  }
  while (p < wanted.size() && wanted[p] == '*') ++p;
  return p == wanted.size();
}

bool catalog_index_write(Catalog& catalog_part, const DataFolder& data) {
  ListFile& catalog = catalog_part.list;
  std::string path;
  FileStamp stamp;
  if (catalog.base == nullptr || !name_in_data_folder(data, kCatalogIndexName, &path) ||
      !file_stamp(catalog.path, &stamp)) {
    return false;
  }
  const std::vector<std::uint8_t> bytes = make_index(catalog, stamp);
  if (!file_replace(path.c_str(), bytes.data(), bytes.size())) return false;
  catalog_part.answers_changed = false;
  return true;
}

void catalog_index_refresh(Catalog& catalog, const DataFolder& data) {
  std::string path;
  FileStamp stamp;
  if (!name_in_data_folder(data, kCatalogIndexName, &path) ||
      !file_stamp(catalog.list.path, &stamp)) {
    return;
  }
  FindIndex index;
  Header header{};
  const bool current = map_index(path, &index) && sound_index(index.bytes, index.length, &header) &&
                       stamped_with(header, stamp);
  find_index_close(&index);
  if (!current) catalog_index_write(catalog, data);
}

bool find_index_open(const DataFolder& data, FindIndex* index, std::string* problem) {
  std::string index_path;
  std::string catalog_path;
  FileStamp stamp;
  if (!name_in_data_folder(data, kCatalogIndexName, &index_path) ||
      !name_in_data_folder(data, kCatalogFileName, &catalog_path)) {
    *problem = "there is no data folder to find the catalog in";
    return false;
  }
  if (!file_stamp(catalog_path.c_str(), &stamp)) {
    *problem = "there is no catalog yet: \"tessmira --catalog\" makes one";
    return false;
  }
  Header header{};
  const bool sound =
      map_index(index_path, index) && sound_index(index->bytes, index->length, &header);
  if (sound && stamped_with(header, stamp)) return true;
  // Made anew from the catalog, which no one may change while it is read.
  ListFile catalog;
  copy_text(catalog_path.c_str(), catalog.path);
  catalog.writable = false;
  if (list_map(catalog) != nullptr && catalog_layout_sound(catalog) &&
      file_stamp(catalog_path.c_str(), &stamp)) {
    find_index_close(index);
    index->made = make_index(catalog, stamp);
    list_close(catalog);
    index->bytes = index->made.data();
    index->length = index->made.size();
    // Kept for the next answer; an index that cannot be written is only slower.
    file_replace(index_path.c_str(), index->bytes, index->length);
    return true;
  }
  const OpenFailure why = catalog.failure;
  list_close(catalog);
  if (why == OpenFailure::held && sound) {
    index->from_before = true;
    return true;
  }
  find_index_close(index);
  *problem = why == OpenFailure::held
                 ? "the catalog is being written by another process and has no index yet; "
                   "ask again when it is done"
                 : "the catalog could not be read";
  return false;
}

void find_index_close(FindIndex* index) {
  if (index->mapped != nullptr) unmap(index->mapped, index->mapped_length);
  if (index->handle >= 0) close_handle(index->handle);
  index->mapped = nullptr;
  index->mapped_length = 0;
  index->handle = -1;
  index->made.clear();
  index->bytes = nullptr;
  index->length = 0;
}

namespace {

std::uint64_t run_of_offset(const std::uint64_t* at, std::uint64_t count, std::uint64_t offset) {
  return static_cast<std::uint64_t>(std::upper_bound(at, at + count + 1, offset) - at) - 1;
}

void add_run(const View& view, std::uint64_t run, std::vector<std::uint32_t>* hits) {
  for (std::uint64_t file = view.run_first[run]; file < view.run_first[run + 1]; ++file) {
    hits->push_back(static_cast<std::uint32_t>(file));
  }
}

// Where needle first occurs in the bytes, or null.
const char* find_bytes(const char* bytes, std::uint64_t length, const std::string& needle) {
#if defined(__GLIBC__)
  return static_cast<const char*>(memmem(bytes, length, needle.data(), needle.size()));
#else
  const char* end = bytes + length;
  const char* found =
      std::search(bytes, end, std::boyer_moore_horspool_searcher(needle.begin(), needle.end()));
  return found == end ? nullptr : found;
#endif
}

// Every file whose folded path contains literal (folded, not empty).
std::vector<std::uint32_t> literal_hits(const View& view, const std::string& literal) {
  std::vector<std::uint32_t> hits;
  const std::size_t m = literal.size();
  // Within a folder: every file of the run.
  for (std::uint64_t from = 0; from < view.folder_bytes;) {
    const char* found = find_bytes(view.folders_folded + from, view.folder_bytes - from, literal);
    if (found == nullptr) break;
    const auto offset = static_cast<std::uint64_t>(found - view.folders_folded);
    const std::uint64_t run = run_of_offset(view.run_at, view.runs, offset);
    add_run(view, run, &hits);
    from = view.run_at[run + 1];
  }
  // Within a name.
  for (std::uint64_t from = 0; from < view.name_bytes;) {
    const char* found = find_bytes(view.names_folded + from, view.name_bytes - from, literal);
    if (found == nullptr) break;
    const auto offset = static_cast<std::uint64_t>(found - view.names_folded);
    const std::uint64_t file = run_of_offset(view.name_at, view.files, offset);
    hits.push_back(static_cast<std::uint32_t>(file));
    from = view.name_at[file + 1];
  }
  // Across a folder's end: its first k characters end the folder, which
  // ends with a separator, and the rest begins the name.
  for (std::size_t k = 1; k < m; ++k) {
    if (!is_any_separator(literal[k - 1])) continue;
    for (std::uint64_t run = 0; run < view.runs; ++run) {
      const std::uint64_t length = view.run_at[run + 1] - view.run_at[run] - 1;
      const char* folder = view.folders_folded + view.run_at[run];
      if (length < k || std::memcmp(folder + length - k, literal.data(), k) != 0) continue;
      for (std::uint64_t file = view.run_first[run]; file < view.run_first[run + 1]; ++file) {
        if (std::strncmp(view.names_folded + view.name_at[file], literal.data() + k, m - k) == 0) {
          hits.push_back(static_cast<std::uint32_t>(file));
        }
      }
    }
  }
  std::sort(hits.begin(), hits.end());
  hits.erase(std::unique(hits.begin(), hits.end()), hits.end());
  return hits;
}

// The longest run of pattern without '*' or '?'.
std::string longest_literal(const std::string& pattern) {
  std::string best;
  std::size_t start = 0;
  while (start <= pattern.size()) {
    std::size_t end = pattern.find_first_of("*?", start);
    if (end == std::string::npos) end = pattern.size();
    if (end - start > best.size()) best = pattern.substr(start, end - start);
    start = end + 1;
  }
  return best;
}

struct PathParts {
  std::string_view folder;
  std::string_view name;
};

PathParts parts_of(const View& view, std::uint32_t file, bool folded_texts) {
  const std::uint64_t run = run_of_offset(view.run_first, view.runs, file);
  const char* folders = folded_texts ? view.folders_folded : view.folders;
  const char* names = folded_texts ? view.names_folded : view.names;
  return {std::string_view(folders + view.run_at[run], view.run_at[run + 1] - view.run_at[run] - 1),
          std::string_view(names + view.name_at[file],
                           view.name_at[file + 1] - view.name_at[file] - 1)};
}

// Byte order of two paths given in parts.
int compare_paths(const PathParts& a, const PathParts& b) {
  const std::size_t length_a = a.folder.size() + a.name.size();
  const std::size_t length_b = b.folder.size() + b.name.size();
  const std::size_t n = std::min(length_a, length_b);
  for (std::size_t i = 0; i < n; ++i) {
    const auto x =
        static_cast<unsigned char>(i < a.folder.size() ? a.folder[i] : a.name[i - a.folder.size()]);
    const auto y =
        static_cast<unsigned char>(i < b.folder.size() ? b.folder[i] : b.name[i - b.folder.size()]);
    if (x != y) return x < y ? -1 : 1;
  }
  return length_a < length_b ? -1 : (length_a > length_b ? 1 : 0);
}

}  // namespace

std::vector<std::string> find_paths(const FindIndex& index, const char* pattern,
                                    std::uint32_t limit) {
  const std::string wanted = folded(pattern);
  if (index.bytes == nullptr || wanted.empty() || limit == 0) return {};
  const View view = view_of(index.bytes);
  const bool glob = wanted.find_first_of("*?") != std::string::npos;
  const std::string literal = glob ? longest_literal(wanted) : wanted;
  std::vector<std::uint32_t> hits;
  if (literal.empty()) {
    hits.resize(view.files);
    for (std::uint64_t file = 0; file < view.files; ++file) {
      hits[file] = static_cast<std::uint32_t>(file);
    }
  } else {
    hits = literal_hits(view, literal);
  }
  if (glob) {
    std::string path;
    std::erase_if(hits, [&](std::uint32_t file) {
      const PathParts parts = parts_of(view, file, true);
      path.assign(parts.folder);
      path.append(parts.name);
      return !pattern_matches(wanted.c_str(), path.c_str());
    });
  }
  auto before = [&](std::uint32_t a, std::uint32_t b) {
    return compare_paths(parts_of(view, a, false), parts_of(view, b, false)) < 0;
  };
  const std::size_t kept = std::min<std::size_t>(hits.size(), limit);
  std::partial_sort(hits.begin(), hits.begin() + static_cast<std::ptrdiff_t>(kept), hits.end(),
                    before);
  std::vector<std::string> paths;
  paths.reserve(kept);
  for (std::size_t i = 0; i < kept; ++i) {
    const PathParts parts = parts_of(view, hits[i], false);
    std::string path(parts.folder);
    path.append(parts.name);
    // A path listed twice (two records of one file) is named once.
    if (!paths.empty() && paths.back() == path) continue;
    paths.push_back(std::move(path));
  }
  return paths;
}
