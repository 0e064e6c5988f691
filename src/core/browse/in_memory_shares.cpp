#include "browse/in_memory_shares.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>

#include "browse/unc_path.h"

namespace vuv {

namespace {

std::string_view parentOf(std::string_view unc) { return unc.substr(0, unc.rfind('\\')); }
std::string_view nameOf(std::string_view unc) { return unc.substr(unc.rfind('\\') + 1); }

}  // namespace

InMemoryShares::Folder& InMemoryShares::parentFolder(std::string_view unc) {
  return ensureFolder(parentOf(unc), std::nullopt);
}

InMemoryShares::Folder& InMemoryShares::ensureFolder(std::string_view unc,
                                                     std::optional<std::uint64_t> fileId) {
  if (auto it = folders_.find(unc); it != folders_.end()) return it->second;
  const std::uint64_t id = fileId ? *fileId : freshId();
  if (uncComponents(unc).size() > 2) {  // a share top has no parent entry
    DirectoryEntry entry;
    entry.name = std::string(nameOf(unc));
    entry.isFolder = true;
    entry.fileId = id;
    parentFolder(unc).entries.push_back(std::move(entry));
  }
  Folder& folder = folders_[std::string(unc)];
  folder.fileId = id;
  return folder;
}

std::uint64_t InMemoryShares::addFolder(std::string_view unc, std::optional<std::uint64_t> fileId) {
  std::lock_guard lock(mutex_);
  return ensureFolder(unc, fileId).fileId;
}

void InMemoryShares::addFile(std::string_view unc, std::uint64_t size,
                             std::optional<std::uint64_t> fileId) {
  std::lock_guard lock(mutex_);
  DirectoryEntry entry;
  entry.name = std::string(nameOf(unc));
  entry.size = size;
  entry.fileId = fileId ? *fileId : freshId();
  parentFolder(unc).entries.push_back(std::move(entry));
}

void InMemoryShares::addLink(std::string_view unc, std::string_view target) {
  std::lock_guard lock(mutex_);
  const std::uint64_t targetId = ensureFolder(target, std::nullopt).fileId;
  Folder& parent = parentFolder(unc);
  DirectoryEntry entry;
  entry.name = std::string(nameOf(unc));
  entry.isFolder = true;
  entry.fileId = targetId;
  parent.entries.push_back(entry);
  parent.links[entry.name] = std::string(target);
}

void InMemoryShares::addEntry(std::string_view folder, DirectoryEntry entry) {
  std::lock_guard lock(mutex_);
  ensureFolder(folder, std::nullopt).entries.push_back(std::move(entry));
}

char InMemoryShares::generatedByte(std::string_view unc, std::uint64_t offset) {
  std::uint64_t seed = 1469598103934665603ULL;  // FNV-1a of the path
  for (char c : unc) seed = (seed ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
  return static_cast<char>((seed + offset * 131 + (offset >> 8)) & 0xff);
}

void InMemoryShares::setContents(std::string_view unc, std::string bytes, std::int64_t modified) {
  std::lock_guard lock(mutex_);
  DirectoryEntry entry;
  entry.name = std::string(nameOf(unc));
  entry.size = bytes.size();
  entry.modified = modified;
  entry.fileId = freshId();
  parentFolder(unc).entries.push_back(std::move(entry));
  contents_[std::string(unc)] = std::move(bytes);
}

void InMemoryShares::failRead(std::string_view unc, std::uint64_t after, std::optional<Error> error) {
  std::lock_guard lock(mutex_);
  readFaults_[std::string(unc)] = ReadFault{after, std::move(error)};
}

void InMemoryShares::setReadHook(ReadHook hook) {
  std::lock_guard lock(mutex_);
  readHook_ = std::move(hook);
}

void InMemoryShares::fail(std::string_view unc, Error error) {
  std::lock_guard lock(mutex_);
  failures_[std::string(unc)] = std::move(error);
}

void InMemoryShares::setListHook(ListHook hook) {
  std::lock_guard lock(mutex_);
  hook_ = std::move(hook);
}

void InMemoryShares::setListDelay(std::chrono::microseconds delay) {
  std::lock_guard lock(mutex_);
  delay_ = delay;
}

std::size_t InMemoryShares::listCount(std::string_view unc) const {
  std::lock_guard lock(mutex_);
  const auto it = counts_.find(unc);
  return it == counts_.end() ? 0 : it->second;
}

std::size_t InMemoryShares::totalListings() const {
  std::lock_guard lock(mutex_);
  return totalListings_;
}

std::map<std::string, std::size_t, std::less<>> InMemoryShares::listCounts() const {
  std::lock_guard lock(mutex_);
  return counts_;
}

// Follows the path component by component from its share top, so a link leads on below its
// target however often the path passes through it.
const InMemoryShares::Folder* InMemoryShares::resolve(std::string_view unc) const {
  const auto parts = uncComponents(unc);
  if (parts.size() < 2) return nullptr;
  std::string current = "\\\\" + std::string(parts[0]) + '\\' + std::string(parts[1]);
  auto it = folders_.find(current);
  for (std::size_t i = 2; i < parts.size() && it != folders_.end(); ++i) {
    if (auto link = it->second.links.find(parts[i]); link != it->second.links.end()) {
      current = link->second;
    } else {
      current += '\\';
      current += parts[i];
    }
    it = folders_.find(current);
  }
  return it == folders_.end() ? nullptr : &it->second;
}

Result<ListingEnd> InMemoryShares::stream(std::string_view uncFolder, const EntryBatchSink& sink,
                                          std::stop_token stop) {
  const std::string path(uncFolder);
  ListHook hook;
  std::chrono::microseconds delay{0};
  {
    std::lock_guard lock(mutex_);
    ++counts_[path];
    ++totalListings_;
    hook = hook_;
    delay = delay_;
  }
  if (hook) hook(path, stop);
  if (delay.count() > 0) {
    std::mutex sleepMutex;
    std::condition_variable_any never;
    std::unique_lock sleepLock(sleepMutex);
    never.wait_for(sleepLock, stop, delay, [] { return false; });
  }
  if (stop.stop_requested()) return makeError(ErrorCode::Cancelled, path);
  std::vector<DirectoryEntry> entries;
  ListingEnd end;
  {
    std::lock_guard lock(mutex_);
    if (auto it = failures_.find(path); it != failures_.end()) return it->second;
    const Folder* folder = resolve(path);
    if (!folder) return makeError(ErrorCode::NotFound, path);
    entries = folder->entries;
    end.folderId = folder->fileId;
  }
  if (!entries.empty() && !sink(entries)) return makeError(ErrorCode::Cancelled, path);
  return end;
}

Status InMemoryShares::read(std::string_view uncFile, const ReadHandlers& handlers, std::stop_token stop) {
  const std::string path(uncFile);
  DirectoryEntry file;
  std::optional<std::string> contents;
  std::optional<ReadFault> fault;
  ReadHook hook;
  {
    std::lock_guard lock(mutex_);
    const Folder* folder = resolve(parentOf(path));
    const auto found = folder == nullptr ? std::vector<DirectoryEntry>::const_iterator{}
                                         : std::find_if(folder->entries.begin(), folder->entries.end(),
                                                        [&](const DirectoryEntry& e) { return e.name == nameOf(path); });
    if (folder == nullptr || found == folder->entries.end()) return makeError(ErrorCode::NotFound, path);
    if (found->isFolder) return makeError(ErrorCode::Other, path, EISDIR);
    file = *found;
    if (auto it = contents_.find(path); it != contents_.end()) contents = it->second;
    if (auto it = readFaults_.find(path); it != readFaults_.end()) fault = it->second;
    hook = readHook_;
  }
  if (stop.stop_requested()) return makeError(ErrorCode::Cancelled, path);
  if (handlers.opened && !handlers.opened(FileFacts{file.size, file.modified})) {
    return makeError(ErrorCode::Cancelled, path);
  }
  const std::uint64_t end = fault ? std::min(fault->after, file.size) : file.size;
  std::string chunk;
  for (std::uint64_t offset = 0; offset < end;) {
    if (hook) hook(path, offset, stop);
    if (stop.stop_requested()) return makeError(ErrorCode::Cancelled, path);
    const std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(kReadChunk, end - offset));
    if (contents) {
      chunk.assign(*contents, static_cast<std::size_t>(offset), size);
    } else {
      chunk.resize(size);
      for (std::size_t i = 0; i < size; ++i) chunk[i] = generatedByte(path, offset + i);
    }
    if (!handlers.data(chunk.data(), chunk.size())) return makeError(ErrorCode::Cancelled, path);
    offset += size;
  }
  if (fault && fault->error) return *fault->error;
  return success();
}

}  // namespace vuv
