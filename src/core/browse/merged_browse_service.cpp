#include "browse/merged_browse_service.h"

#include <algorithm>
#include <cerrno>

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

BrowseReply cancelled() {
  BrowseReply reply;
  reply.status = BrowseStatus::Failure;
  reply.failureCode = ECANCELED;
  return reply;
}

}  // namespace

struct MergedBrowseService::Round {
  std::stop_source stop;
  Mutex mutex;
  CondVar done;
  bool claimed GUARDED_BY(mutex) = false;        // someone runs it (its task, or a waiter)
  std::optional<Hosts> hosts GUARDED_BY(mutex);  // set when the round has ended
  std::vector<std::string> notes GUARDED_BY(mutex);  // the hosts the address book refused
};

MergedBrowseService::MergedBrowseService(BrowseService& smb, HostDiscovery* hosts, HostAddressBook* book,
                                         Sources sources, Executor& executor)
    : smb_(smb), hosts_(hosts), book_(book), sources_(sources), tasks_(executor) {}

MergedBrowseService::~MergedBrowseService() {
  {
    MutexLock lock(mutex_);
    if (round_) round_->stop.request_stop();
  }
  tasks_.close();
}

void MergedBrowseService::runRound(Round& round) {
  {
    MutexLock lock(round.mutex);
    if (round.claimed) return;
    round.claimed = true;
  }
  Hosts found = hosts_->discover(round.stop.get_token());
  std::vector<std::string> notes;
  if (found && book_ != nullptr) notes = book_->admitAnnounced(*found, round.stop.get_token());
  MutexLock lock(round.mutex);
  round.hosts = std::move(found);
  round.notes = std::move(notes);
  round.done.notifyAll();
}

std::shared_ptr<MergedBrowseService::Round> MergedBrowseService::launchRound() {
  auto round = std::make_shared<Round>();
  // Without a thread to spare the first caller to wait for it runs it (await).
  tasks_.post([this, round] { runRound(*round); }, Executor::Priority::High);
  return round;
}

std::shared_ptr<MergedBrowseService::Round> MergedBrowseService::startRound() {
  MutexLock lock(mutex_);
  round_ = launchRound();
  return round_;
}

std::shared_ptr<MergedBrowseService::Round> MergedBrowseService::currentRound() {
  MutexLock lock(mutex_);
  // A stopped round may have ended before it heard every host: not one to rely on.
  if (!round_ || round_->stop.stop_requested()) round_ = launchRound();
  return round_;
}

std::optional<MergedBrowseService::Hosts> MergedBrowseService::await(const std::shared_ptr<Round>& round,
                                                                    std::stop_token stop) {
  // A round that no thread has taken up yet (every executor thread busy, perhaps with callers
  // like us) runs here rather than be waited for; our stop then ends it.
  if (!stop.stop_requested()) {
    std::stop_callback endRound(stop, [&round] { round->stop.request_stop(); });
    runRound(*round);
  }
  MutexLock lock(round->mutex);
  const bool ended =
      round->done.wait(round->mutex, stop, [&]() REQUIRES(round->mutex) { return round->hosts.has_value(); });
  // A round that a stop cut short tells a stopped caller nothing it could use.
  if (!ended || stop.stop_requested()) {
    return std::nullopt;
  }
  return round->hosts;
}

bool MergedBrowseService::listedByNetbios(std::string_view domain) {
  MutexLock lock(mutex_);
  return !netbiosListed_ || containsIgnoringCase(netbiosDomains_, domain);
}

BrowseReply MergedBrowseService::listDomains(std::stop_token stop) {
  if (!usesHosts()) return sources_.netbios ? smb_.listDomains(stop) : BrowseReply{};

  const std::shared_ptr<Round> round = startRound();
  // The round ends as soon as our caller stops, also while NetBIOS is still being asked.
  std::stop_callback endRound(stop, [&round] { round->stop.request_stop(); });
  const BrowseReply netbios = sources_.netbios ? smb_.listDomains(stop) : BrowseReply{};
  const std::optional<Hosts> heard = await(round, stop);
  if (!heard) return cancelled();
  const Hosts& hosts = *heard;
  const bool netbiosFailed = sources_.netbios && netbios.status == BrowseStatus::Failure;
  if (sources_.netbios) {
    MutexLock lock(mutex_);
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
  MutexLock lock(round->mutex);
  reply.notes.insert(reply.notes.end(), round->notes.begin(), round->notes.end());
  return reply;
}

BrowseReply MergedBrowseService::listServers(std::string_view domain, std::stop_token stop) {
  if (!usesHosts()) return sources_.netbios ? smb_.listServers(domain, stop) : BrowseReply{};

  const std::optional<Hosts> heard = await(currentRound(), stop);
  if (!heard) return cancelled();
  const Hosts& hosts = *heard;
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
