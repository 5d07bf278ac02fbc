// Finds the libclang already loaded in the process, with the GNU dynamic
// loader. clang.cindex loads libclang with RTLD_LOCAL, so its functions are
// not in the global scope: the loaded objects are looked over one by one.
#include <dlfcn.h>
#include <link.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "lookup.h"
#include "table.h"

namespace astsieve::libclang {
namespace {

// Every libclang defines it, and its address tells which file does.
constexpr const char* kProbe = "clang_visitChildren";

// The handle of the file find_loaded() bound; it is never closed.
std::atomic<void*> bound_file{nullptr};

struct Closer {
  void operator()(void* handle) const noexcept { dlclose(handle); }
};
using Handle = std::unique_ptr<void, Closer>;

struct ObjectNames {
  std::vector<std::string> names;
  std::exception_ptr error;  // no exception may cross the loader's frames
};

int add_object_name(dl_phdr_info* info, std::size_t /*size*/, void* data) {
  auto* objects = static_cast<ObjectNames*>(data);
  try {
    if (info->dlpi_name != nullptr && info->dlpi_name[0] != '\0') {
      objects->names.emplace_back(info->dlpi_name);
    }
  } catch (...) {
    objects->error = std::current_exception();
    return 1;
  }
  return 0;
}

// The names of the loaded objects, the program itself excluded.
std::vector<std::string> loaded_object_names() {
  ObjectNames objects;
  dl_iterate_phdr(add_object_name, &objects);
  if (objects.error) {
    std::rethrow_exception(objects.error);
  }
  return std::move(objects.names);
}

std::string real_path(const char* path) {
  const std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path, nullptr), &std::free);
  return resolved ? std::string(resolved.get()) : std::string(path);
}

// A loaded libclang file, by its real path, with a handle that keeps it
// loaded.
struct Libclang {
  std::string file;
  Handle handle;
};

// The loaded object `name` if it defines libclang's functions itself; an
// object that merely depends on a libclang finds the probe too, in that
// libclang, and does not count.
std::optional<Libclang> as_libclang(const std::string& name) {
  Handle handle(dlopen(name.c_str(), RTLD_LAZY | RTLD_NOLOAD));
  if (!handle) {
    return std::nullopt;
  }
  void* probe = dlsym(handle.get(), kProbe);
  std::string file = probe == nullptr ? std::string() : file_defining(probe);
  if (file.empty() || file != real_path(name.c_str())) {
    return std::nullopt;
  }
  return Libclang{std::move(file), std::move(handle)};
}

// In the order the loader lists them.
std::vector<Libclang> loaded_libclangs() {
  std::vector<Libclang> found;
  for (const std::string& name : loaded_object_names()) {
    if (std::optional<Libclang> libclang = as_libclang(name)) {
      found.push_back(std::move(*libclang));
    }
  }
  dlerror();  // the failed opens and lookups are nobody's business
  return found;
}

int read_adds(dl_phdr_info* info, std::size_t size, void* data) {
  if (size >= offsetof(dl_phdr_info, dlpi_adds) + sizeof info->dlpi_adds) {
    *static_cast<std::uint64_t*>(data) = info->dlpi_adds;
  }
  return 1;  // the counter is the same in every entry
}

}  // namespace

std::string file_defining(const void* address) {
  Dl_info defined_in{};
  if (dladdr(address, &defined_in) == 0 || defined_in.dli_fname == nullptr ||
      defined_in.dli_fname[0] == '\0') {
    return std::string();
  }
  return real_path(defined_in.dli_fname);
}

std::vector<std::string> loaded_libclang_files() {
  std::vector<std::string> files;
  for (Libclang& libclang : loaded_libclangs()) {
    files.push_back(std::move(libclang.file));
  }
  std::sort(files.begin(), files.end());
  files.erase(std::unique(files.begin(), files.end()), files.end());
  return files;
}

Functions find_loaded() {
  std::vector<Libclang> found = loaded_libclangs();
  if (found.empty()) {
    throw none_loaded_error();
  }
  if (found.size() > 1) {
    throw two_files_error(found[0].file, found[1].file);
  }
  Libclang& libclang = found.front();
  const Functions table = bind_table<Functions>(
      libclang.file, [&libclang](const char* name) { return dlsym(libclang.handle.get(), name); });
  // Handles and cursors point into this file for as long as the process
  // holds them: it stays loaded.
  void* kept = libclang.handle.release();
  void* none = nullptr;
  if (!bound_file.compare_exchange_strong(none, kept)) {
    dlclose(kept);  // a later look found the same file, already kept
  }
  return table;
}

std::uint64_t loaded_objects_generation() noexcept {
  std::uint64_t adds = 0;
  dl_iterate_phdr(read_adds, &adds);
  return adds;
}

void* find_in_bound(const char* symbol) noexcept {
  void* file = bound_file.load();
  return file != nullptr ? dlsym(file, symbol) : nullptr;
}

}  // namespace astsieve::libclang
