#include "browse/merged_browse_service.h"

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "base/casefold.h"

namespace vuv {

namespace {

bool containsIgnoringCase(const std::vector<std::string>& names, std::string_view name) {
  return std::any_of(names.begin(), names.end(),
                     [&](const std::string& n) { return compareIgnoringCase(n, name) == 0; });
}

// Appends the names not there yet; returns how many were added.
std::uint32_t addMissing(std::vector<std::string>& names, const std::vector<std::string>& more) {
  std::uint32_t added = 0;
  for (const std::string& name : more) {
    if (containsIgnoringCase(names, name)) continue;
    names.push_back(name);
    ++added;
  }
  return added;
}

std::string netbiosNote(std::string_view what, const BrowseReply& failed) {
  std::string note = "NetBIOS browsing";
  if (!what.empty()) note += " of " + std::string(what);
  note += " failed (error " + std::to_string(failed.failureCode) + ")";
  if (!failed.failureDetail.empty()) note += ": " + failed.failureDetail;
  return note;
}

std::string hostsNote(const Error& error) { return "WS-Discovery failed: " + describe(error); }

BrowseReply failure(const Error& error) {
  BrowseReply reply;
  reply.status = BrowseStatus::Failure;
  reply.failureCode = errnoFromError(error);
  reply.failureDetail = hostsNote(error);
  return reply;
}

BrowseReply cancelled(const std::string& what) {
  const Error error = makeError(ErrorCode::Cancelled, what);
  return BrowseReply{BrowseStatus::Failure, errnoFromError(error), 0, {}, describe(error), {}};
}

// How often a caller waiting for the round looks at its stop token.
constexpr std::chrono::milliseconds kRoundStopCheck{10};

// False when `stop` came first: a stopped caller leaves the round to the others.
bool waitForRound(const std::shared_future<Result<std::vector<DiscoveredHost>>>& round,
                  std::stop_token stop) {
  while (round.wait_for(kRoundStopCheck) != std::future_status::ready) {
    if (stop.stop_requested()) return false;
  }
  return true;
}

}  // namespace

MergedBrowseService::~MergedBrowseService() { rounds_.request_stop(); }

MergedBrowseService::MergedBrowseService(BrowseService& smb, HostDiscovery* hosts, HostAddressBook* book,
                                         Sources sources)
    : smb_(smb), hosts_(hosts), book_(book), sources_(sources) {}

MergedBrowseService::Round MergedBrowseService::launchRound() {
  auto task = [hosts = hosts_, book = book_, stop = rounds_.get_token()]() -> Hosts {
    Hosts found = hosts->discover(stop);
    if (found && book != nullptr) {
      for (const DiscoveredHost& host : *found) {
        if (!host.address.empty()) book->set(host.name, host.address);
      }
    }
    return found;
  };
  try {
    return std::async(std::launch::async, task).share();
  } catch (const std::system_error&) {
    // No thread to spare: run it here; the NetBIOS listing then waits for it.
    std::promise<Hosts> done;
    done.set_value(task());
    return done.get_future().share();
  }
}

MergedBrowseService::Round MergedBrowseService::startRound() {
  std::lock_guard lock(mutex_);
  round_ = launchRound();
  return round_;
}

MergedBrowseService::Round MergedBrowseService::currentRound() {
  std::lock_guard lock(mutex_);
  if (!round_.valid()) round_ = launchRound();
  return round_;
}

bool MergedBrowseService::listedByNetbios(std::string_view domain) {
  std::lock_guard lock(mutex_);
  return !netbiosListed_ || containsIgnoringCase(netbiosDomains_, domain);
}

BrowseReply MergedBrowseService::listDomains(std::stop_token stop) {
  if (!usesHosts()) return sources_.netbios ? smb_.listDomains(stop) : BrowseReply{};

  const Round round = startRound();
  const BrowseReply netbios = sources_.netbios ? smb_.listDomains(stop) : BrowseReply{};
  if (!waitForRound(round, stop)) return cancelled("listing the domains");
  const Hosts& hosts = round.get();
  const bool netbiosFailed = sources_.netbios && netbios.status == BrowseStatus::Failure;
  if (sources_.netbios) {
    std::lock_guard lock(mutex_);
    netbiosListed_ = true;
    netbiosDomains_ = netbiosFailed ? std::vector<std::string>{} : netbios.names;
  }

  BrowseReply reply;
  if (sources_.netbios && !netbiosFailed) reply = netbios;
  std::vector<std::string> groups;
  if (hosts) {
    for (const DiscoveredHost& host : *hosts) groups.push_back(host.group);
  }
  const std::uint32_t added = addMissing(reply.names, groups);
  if (reply.status == BrowseStatus::MoreData) reply.totalEntries += added;

  if (reply.names.empty()) {
    // Nothing from either source: the failure as the failing source gave it.
    if (netbiosFailed) {
      BrowseReply failed = netbios;
      if (!hosts) failed.notes.push_back(hostsNote(hosts.error()));
      return failed;
    }
    if (!sources_.netbios && !hosts) return failure(hosts.error());
  }
  if (netbiosFailed) reply.notes.push_back(netbiosNote({}, netbios));
  if (sources_.netbios && !netbiosFailed && netbios.names.empty() && added > 0) {
    reply.notes.push_back("NetBIOS browsing found no workgroups or domains (no master browser answered)");
  }
  if (!hosts) reply.notes.push_back(hostsNote(hosts.error()));
  return reply;
}

BrowseReply MergedBrowseService::listServers(std::string_view domain, std::stop_token stop) {
  if (!usesHosts()) return sources_.netbios ? smb_.listServers(domain, stop) : BrowseReply{};

  const Round round = currentRound();
  if (!waitForRound(round, stop)) return cancelled("listing " + std::string(domain));
  const Hosts& hosts = round.get();
  std::vector<std::string> announced;
  if (hosts) {
    for (const DiscoveredHost& host : *hosts) {
      if (compareIgnoringCase(host.group, domain) == 0) announced.push_back(host.name);
    }
  }
  BrowseReply own;
  addMissing(own.names, announced);  // one entry per name

  if (!sources_.netbios) return own;
  // Known from announcements only: the browse lists have nothing to add.
  if (!own.names.empty() && !listedByNetbios(domain)) return own;

  BrowseReply netbios = smb_.listServers(domain, stop);
  if (netbios.status == BrowseStatus::Failure) {
    if (own.names.empty()) return netbios;
    own.notes.push_back(netbiosNote(domain, netbios));
    return own;
  }
  const std::uint32_t added = addMissing(netbios.names, own.names);
  if (netbios.status == BrowseStatus::MoreData) netbios.totalEntries += added;
  return netbios;
}

BrowseReply MergedBrowseService::listShares(std::string_view server, std::uint32_t& resume,
                                            std::stop_token stop) {
  return smb_.listShares(server, resume, stop);
}

}  // namespace vuv
