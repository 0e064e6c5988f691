#include "smb/spawn/module_preload.h"

#include <dlfcn.h>
#include <iconv.h>
#include <link.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace vuv::smb {

namespace {

// Samba's private libraries live in a folder named "samba"; its modules in subfolders there.
int findSambaFolder(dl_phdr_info* info, std::size_t, void* found) {
  if (info->dlpi_name == nullptr || info->dlpi_name[0] == '\0') return 0;
  const std::filesystem::path folder = std::filesystem::path(info->dlpi_name).parent_path();
  if (folder.filename() != "samba") return 0;
  *static_cast<std::filesystem::path*>(found) = folder;
  return 1;
}

void loadModulesIn(const std::filesystem::path& folder) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    if (entry.path().extension() != ".so") continue;
    // Kept for the server's life, so every fork finds it mapped and relocated.
    (void)::dlopen(entry.path().c_str(), RTLD_NOW | RTLD_NODELETE);
  }
}

}  // namespace

void preloadWorkerModules() {
  std::filesystem::path samba;
  if (::dl_iterate_phdr(findSambaFolder, &samba) != 0) loadModulesIn(samba / "gensec");

  // Opening a converter loads its module. glibc keeps a closed converter's module loaded until
  // several other converters have been closed, which the server never does; so nothing is
  // left open here (and nothing looks leaked to a leak checker).
  for (const char* charset : {"UTF-16LE", "CP850"}) {
    const iconv_t converter = ::iconv_open(charset, "UTF-8");
    if (converter != reinterpret_cast<iconv_t>(-1)) ::iconv_close(converter);
  }
}

}  // namespace vuv::smb
