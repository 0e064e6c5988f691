#include "cli/argument_wipe.h"

#include <string_view>

#include "cli/cli_options.h"

namespace vuv::cli {

namespace {

// A password: argument `arg` from `offset` to its end.
struct PasswordPlace {
  std::size_t arg;
  std::size_t offset;
  bool ofUser;  // -U or --user; else --password
};

// The passwords of `args` (no program name), read as the parser reads them, up to "--".
std::vector<PasswordPlace> findPasswords(const std::vector<std::string_view>& args) {
  std::vector<PasswordPlace> places;
  const auto value = [&](std::size_t i, std::size_t start, bool ofUser) {
    if (ofUser) {
      start = args[i].find('%', start);
      if (start == std::string_view::npos) return;
      ++start;
    }
    places.push_back({i, start, ofUser});
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view text = args[i];
    if (text == "--") break;
    if (text.rfind("--", 0) == 0) {
      const auto equals = text.find('=');
      const std::string_view name = text.substr(0, equals);
      if (name != "--user" && name != "--password") continue;
      if (equals != std::string_view::npos) {
        value(i, equals + 1, name == "--user");
      } else if (i + 1 < args.size()) {
        value(++i, 0, name == "--user");
      }
      continue;
    }
    if (text.size() < 2 || text.front() != '-') continue;
    // A group of short flags, possibly ending in an option with its value attached.
    for (std::size_t j = 1; j < text.size(); ++j) {
      const char option = text[j];
      if (option == 'U') {
        if (j + 1 < text.size()) {
          value(i, j + 1, true);
        } else if (i + 1 < args.size()) {
          value(++i, 0, true);
        }
        break;
      }
      if (kShortFlags.find(option) == std::string_view::npos) break;
    }
  }
  return places;
}

}  // namespace

void wipePasswordArguments(int argc, char** argv) {
  if (argc < 2) return;  // argv may even be empty
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  for (const PasswordPlace& place : findPasswords(args)) {
    wipeSecret(argv[place.arg + 1] + place.offset, args[place.arg].size() - place.offset);
  }
}

void wipeArgumentCopies(std::vector<std::string>& copies) {
  for (std::string& copy : copies) wipeSecret(copy);
  copies.clear();
}

ArgumentPasswords takePasswordArguments(std::vector<std::string>& args) {
  ArgumentPasswords taken;
  const std::vector<std::string_view> views(args.begin(), args.end());
  for (const PasswordPlace& place : findPasswords(views)) {
    std::string& arg = args[place.arg];
    std::string& into = place.ofUser ? taken.user : taken.password;
    wipeSecret(into);  // an earlier one: assign() may free its buffer
    into.assign(arg, place.offset);
    wipeSecret(arg.data() + place.offset, arg.size() - place.offset);
    arg.resize(place.offset);
  }
  return taken;
}

}  // namespace vuv::cli
