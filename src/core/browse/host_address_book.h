// Server name -> IPv4 address, one resolution per name for the session: the SMB adapters put
// the address into the URL in place of the name, so the workers never look a name up again
// (people still see and type the name). Names are compared ignoring case.
//
// Sources, in their order of trust: the resolver (hosts file, DNS, NetBIOS) and then
// WS-Discovery announcements. An announced address serves only a name the resolver does not
// place; a host announcing a name that resolves elsewhere to another address, or a name two
// announcing hosts claim, is refused (admitAnnounced), so an impostor never takes a real
// server's name. With `keepDnsNames` (Kerberos: tickets are for names) a name the hosts file or
// DNS resolves stays in the URL, and the worker's library resolves it the same way.
//
// Names that nothing places are remembered as unknown until forgetUnknown(), so a run asks
// about each name once. A name refused because more than one host claims it stays marked
// (ENOTUNIQ in hostFor's error, which says so) until a round admits it or clear(): the round
// that heard it may be one of an earlier run (a tree file's).
//
// Thread safety: every member may be called from any thread; the resolver is called without
// the lock held.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "browse/host_discovery.h"
#include "browse/name_resolver.h"

namespace vuv {

class HostAddressBook {
 public:
  // `resolver` (not owned, may be null: names without an entry go to the URL as they are).
  explicit HostAddressBook(NameResolver* resolver = nullptr, bool keepDnsNames = false)
      : resolver_(resolver), keepDnsNames_(keepDnsNames) {}

  // Records an announced address, or replaces an older announced one. False (and nothing
  // recorded) unless `address` is a dotted IPv4 address, `name` is not empty and no other
  // source has placed `name`.
  bool set(std::string_view name, std::string_view address);
  // The address recorded for `name`, from any source; no lookup.
  std::optional<std::string> lookup(std::string_view name) const;
  // What hostFor() answers from what is recorded, without a lookup; nullopt when nothing is.
  std::optional<std::string> knownHostFor(std::string_view server) const;

  // What an smb:// URL names for `server`: an address, or the name itself (keepDnsNames, or
  // no resolver). A name not recorded yet is resolved now. UnknownHost when nothing places
  // it (with systemCode ENOTUNIQ when announcements of it were refused as claimed twice);
  // Cancelled on `stop`.
  Result<std::string> hostFor(std::string_view server, std::stop_token stop);

  // Weighs a round's announced hosts against the resolver and each other: removes from
  // `hosts` those refused and records the addresses of the rest. Returns a note per refusal.
  std::vector<std::string> admitAnnounced(std::vector<DiscoveredHost>& hosts, std::stop_token stop);

  void forgetUnknown();
  void clear();
  std::size_t size() const;

 private:
  struct Entry {
    std::string address;
    bool announced = false;
    bool byNameService = false;
  };
  void record(const std::string& name, const ResolvedName& found);
  // knownHostFor() with mutex_ held.
  std::optional<std::string> recordedHost(std::string_view server) const;

  NameResolver* const resolver_;
  const bool keepDnsNames_;
  mutable std::mutex mutex_;
  std::map<std::string, Entry> entries_;  // case-folded name -> where; guarded by mutex_
  std::set<std::string> unknown_;         // case-folded names nothing placed; guarded by mutex_
  std::set<std::string> claimedTwice_;    // case-folded names refused so; guarded by mutex_
};

}  // namespace vuv
