#include "status/status_update.h"

namespace vuv {

namespace {

struct TextOf {
  std::string operator()(const RetrievingTree&) const { return "Retriving network tree..."; }
  std::string operator()(const RetrievingDomain&) const {
    return "Retriving information about domain... Please wait.";
  }
  std::string operator()(const GettingInformation& u) const { return "Getting information about " + u.node; }
  std::string operator()(const Ready&) const { return "Ready"; }
  std::string operator()(const Searching&) const { return "Searching..."; }
  std::string operator()(const SearchingIn& u) const { return "Searching in " + u.folder; }
  std::string operator()(const SearchFinished&) const { return "Search finished"; }
};

}  // namespace

std::string statusText(const StatusUpdate& update) { return std::visit(TextOf{}, update); }

std::string discoveryDoneNotice() { return "Network tree updated"; }

std::string searchDoneNotice(std::uint64_t rows) {
  return "Search finished. " + std::to_string(rows) + " files found.";
}

}  // namespace vuv
