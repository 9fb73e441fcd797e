// List store benchmark: the catalog's pattern (find by path, add, put path,
// put size) for growing record counts, then a sort by path; with the text
// index on and off. Prints seconds and microseconds per operation.
//
//   list_bench [FOLDER]   (default /tmp)
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>

#include "catalog/list_file.h"

namespace {

struct Figures {
  double fill_seconds;
  double sort_seconds;
};

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool create_catalog_layout(ListFile& list) {
  list.field_count = 10;
  if (!list_create(list)) return false;
  list_define_field(list, 1, TEXT1000);
  for (std::uint32_t field = 2; field <= 10; ++field) list_define_field(list, field, NUM4);
  list_lay_out(list);
  list_close(list);
  list.writable = true;
  return list_map(list) != nullptr;
}

bool run(const std::string& path, std::uint32_t records, int use_index, Figures* figures) {
  ListFile list;
  std::snprintf(list.path, sizeof list.path, "%s", path.c_str());
  list.use_index = use_index;
  if (!create_catalog_layout(list)) return false;
  char name[256];
  const auto start = std::chrono::steady_clock::now();
  for (std::uint32_t i = 0; i < records; ++i) {
    std::snprintf(name, sizeof name, "/home/user/Pictures/%05u/IMG_%07u.JPG", i % 997, i);
    list_set_search_key(list, name);
    if (list_find_exact(list, 1) >= 0) return false;
    const std::int32_t slot = list_add_record(list);
    if (slot < 0) return false;
    list_set_text(list, name);
    list_put_field(list, static_cast<std::uint32_t>(slot), 1);
    list.number_value = static_cast<std::int32_t>(i * 7919u);
    list_put_field(list, static_cast<std::uint32_t>(slot), 2);
  }
  figures->fill_seconds = seconds_since(start);
  const auto sort_start = std::chrono::steady_clock::now();
  list_sort(list, 1);
  figures->sort_seconds = seconds_since(sort_start);
  list_close(list);
  unlink(path.c_str());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  const std::string folder = argc > 1 ? argv[1] : "/tmp";
  const std::string path = folder + "/tessmira-bench-" + std::to_string(getpid()) + ".lbf";
  const std::uint32_t counts[] = {1000, 10000, 50000};
  std::printf("%8s %6s %10s %12s %10s\n", "records", "index", "fill s", "us/op", "sort s");
  double per_op_on[3] = {};
  for (int use_index = 1; use_index >= 0; --use_index) {
    for (int k = 0; k < 3; ++k) {
      Figures figures{};
      if (!run(path, counts[k], use_index, &figures)) {
        std::fprintf(stderr, "list_bench: run failed at %u records\n", counts[k]);
        return 1;
      }
      // Four operations per record: find, add, put path, put size.
      const double per_op = figures.fill_seconds * 1e6 / (4.0 * counts[k]);
      if (use_index) per_op_on[k] = per_op;
      std::printf("%8u %6s %10.3f %12.3f %10.3f\n", counts[k], use_index ? "on" : "off",
                  figures.fill_seconds, per_op, figures.sort_seconds);
      std::fflush(stdout);
    }
  }
  std::printf("index on: cost per operation at 50,000 records is %.2f times that at 1,000\n",
              per_op_on[2] / per_op_on[0]);
  return 0;
}
