// What discovery and search are doing, as values: the window and the command line tool each
// show them their own way, and statusText() is the one place where they become the status
// line's words. The completion notices are here too.
//
// Thread safety: plain values and pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace vuv {

struct RetrievingTree {};    // discovery lists the domains
struct RetrievingDomain {};  // a domain added by name is being read
struct GettingInformation {
  std::string node;  // a domain, or domain\server
};
struct Ready {};       // the discovery's last worker ended
struct Searching {};   // a search started
struct SearchingIn {
  std::string folder;  // \\server\share\dir
};
struct SearchFinished {};

using StatusUpdate =
    std::variant<RetrievingTree, RetrievingDomain, GettingInformation, Ready, Searching, SearchingIn, SearchFinished>;

// The status line's text for an update, word for word as users know it.
std::string statusText(const StatusUpdate& update);

// The notice at the end of a discovery, and at the end of a search with the rows it found.
std::string discoveryDoneNotice();
std::string searchDoneNotice(std::uint64_t rows);

}  // namespace vuv
