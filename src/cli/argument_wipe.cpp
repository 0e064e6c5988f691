#include "cli/argument_wipe.h"

#include <string.h>

#include <cstring>
#include <string_view>

#include "cli/cli_options.h"

namespace vuv::cli {

namespace {

enum class Secret { AfterPercent, Whole };

void wipe(char* value, Secret secret) {
  if (secret == Secret::AfterPercent) {
    value = std::strchr(value, '%');
    if (value == nullptr) return;
    ++value;
  }
  // Volatile stores: the compiler must not drop them as writes nobody reads.
  for (volatile char* p = value; *p != '\0'; ++p) *p = '\0';
}

}  // namespace

void wipePasswordArguments(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    char* arg = argv[i];
    const std::string_view text(arg);
    if (text == "--") return;
    if (text.rfind("--", 0) == 0) {
      const auto equals = text.find('=');
      const std::string_view name = text.substr(0, equals);
      if (name != "--user" && name != "--password") continue;
      const Secret secret = name == "--user" ? Secret::AfterPercent : Secret::Whole;
      if (equals != std::string_view::npos) {
        wipe(arg + equals + 1, secret);
      } else if (i + 1 < argc) {
        wipe(argv[++i], secret);
      }
      continue;
    }
    if (text.size() < 2 || text.front() != '-') continue;
    // A group of short flags, possibly ending in an option with its value attached.
    for (std::size_t j = 1; j < text.size(); ++j) {
      const char option = text[j];
      if (option == 'U') {
        if (j + 1 < text.size()) {
          wipe(arg + j + 1, Secret::AfterPercent);
        } else if (i + 1 < argc) {
          wipe(argv[++i], Secret::AfterPercent);
        }
        break;
      }
      if (kShortFlags.find(option) == std::string_view::npos) break;
    }
  }
}

void wipeArgumentCopies(std::vector<std::string>& copies) {
  for (std::string& copy : copies) ::explicit_bzero(copy.data(), copy.size());
  copies.clear();
}

}  // namespace vuv::cli
