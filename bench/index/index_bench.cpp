// Index benchmark: records a generated share of ENTRIES entries into a fresh index, then times
// a pattern with three literal characters and "*.*" to the last row; then walks an in-memory
// share with a listing delay, with and without recording. Prints one "name: value" a line.
//   vuvuveva-index-bench DIR [ENTRIES] [WALK_FOLDERS] [LIST_DELAY_US]
#include <sys/stat.h>
#include <time.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <mutex>
#include <random>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "base/executor.h"
#include "browse/in_memory_shares.h"
#include "browse/recording_lister.h"
#include "index/index_store.h"
#include "index/index_writer.h"
#include "search/search_controller.h"
#include "tree/network_tree.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace vuv;

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Processor time of the whole process (all threads): the machine may be shared, so the wall
// clock alone says little.
double cpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

const char* kWords[] = {"report", "offer", "invoice", "budget", "minutes", "photo", "IMG", "scan", "draft", "final",
                        "plan", "contract", "Übersicht", "résumé", "notes", "backup", "summary", "slides", "data", "old"};
const char* kExtensions[] = {".pdf", ".docx", ".xlsx", ".JPG", ".txt", ".zip", ".mp4", ".pptx", ".csv", ""};

std::string randomName(std::mt19937& rng) {
  std::string name = kWords[rng() % std::size(kWords)];
  name += rng() % 2 ? "_" : " ";
  name += std::to_string(rng() % 100000);
  if (rng() % 3 == 0) name += std::string(" ") + kWords[rng() % std::size(kWords)];
  return name + kExtensions[rng() % std::size(kExtensions)];
}

std::uintmax_t fileSize(const std::string& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  return error ? 0 : size;
}

template <class Query>
double best(int runs, Query query) {
  double fastest = 1e9;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    query();
    fastest = std::min(fastest, since(start));
  }
  return fastest;
}

// Walks \\S\P below its share node; returns the seconds until `finished`.
double walk(InMemoryShares& shares, DirectoryLister& lister, Executor& executor) {
  NetworkTree tree;
  const NodeId server = tree.insertTopLevel("S", NodeKind::Server, InsertPosition::Sorted);
  const NodeId share = tree.insert(server, "P", NodeKind::Share, InsertPosition::Sorted);
  (void)shares;
  SearchController search(tree, lister, executor);
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  SearchEvents events;
  events.rows = [](RunId, std::vector<ResultRow>) {};
  events.status = [](RunId, const StatusUpdate&) {};
  events.failed = [](RunId, const ListingFailure&) {};
  events.finished = [&](RunId, const SearchSummary&) {
    std::lock_guard lock(mutex);
    finished = true;
    done.notify_all();
  };
  const auto start = Clock::now();
  if (!search.start(share, "*.pdf", events)) return -1;
  std::unique_lock lock(mutex);
  done.wait(lock, [&] { return finished; });
  const double took = since(start);
  lock.unlock();
  search.waitUntilIdle();
  return took;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s DIR [ENTRIES] [WALK_FOLDERS] [LIST_DELAY_US]\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  const long entriesWanted = argc > 2 ? std::stol(argv[2]) : 1000000;
  const long walkFolders = argc > 3 ? std::stol(argv[3]) : 2000;
  const long delayUs = argc > 4 ? std::stol(argv[4]) : 600;
  const std::string path = dir + "/index.sqlite";
  std::filesystem::remove(path);
  std::filesystem::remove(path + "-wal");
  std::filesystem::remove(path + "-shm");

  // 1. Record: 100 entries a folder, ten subfolders a folder, as a walk would hand them over.
  std::mt19937 rng(1);
  constexpr int kPerFolder = 100;
  const long folders = (entriesWanted + kPerFolder - 1) / kPerFolder;
  std::vector<std::vector<DirectoryEntry>> listings(static_cast<std::size_t>(folders));
  for (auto& listing : listings) {
    for (int k = 0; k < kPerFolder; ++k) {
      listing.push_back(DirectoryEntry{randomName(rng), false, rng() % 10000000, static_cast<std::int64_t>(1600000000 + rng() % 100000000), 0});
    }
  }
  {
    auto writer = index::IndexWriter::open(path);
    if (!writer) {
      std::fprintf(stderr, "%s\n", describe(writer.error()).c_str());
      return 1;
    }
    const auto start = Clock::now();
    const double cpu = cpuSeconds();
    for (long f = 0; f < folders; ++f) {
      (*writer)->folderListed("\\\\S1\\Public\\bench\\d" + std::to_string(f / 100) + "\\f" + std::to_string(f),
                              listings[static_cast<std::size_t>(f)]);
    }
    (*writer)->flush();
    std::printf("entries: %ld\nrecord_seconds: %.2f (cpu %.2f)\n", folders * kPerFolder, since(start), cpuSeconds() - cpu);
  }
  listings.clear();
  std::printf("database_bytes: %ju\nwal_bytes: %ju\n", fileSize(path), fileSize(path + "-wal"));

  auto store = index::IndexStore::open(path);
  if (!store) return 1;
  for (const char* pattern : {"*\xC3\xA9_9*", "*dra*", "*slides_1234*", "*.*"}) {
    std::size_t rows = 0;
    const auto first = Clock::now();
    const double cpu = cpuSeconds();
    (void)store->find("", pattern, [&](const index::IndexedRow&) { return ++rows, true; });
    const double cold = since(first);
    const double coldCpu = cpuSeconds() - cpu;
    const double warm = best(3, [&] {
      rows = 0;
      (void)store->find("", pattern, [&](const index::IndexedRow&) { return ++rows, true; });
    });
    std::printf("query %s: rows %zu first %.3f s (cpu %.3f) best %.3f s\n", pattern, rows, cold, coldCpu, warm);
  }

  // What a search shows first: every entry the index holds below its location (a folder of
  // 100 subfolders of 100 entries), and the summary for the status line.
  for (const char* location : {"\\\\S1\\Public\\bench\\d0", "\\\\S1\\Public\\bench\\d0\\f0"}) {
    std::size_t rows = 0;
    const auto start = Clock::now();
    (void)store->summary(location);
    const double summarised = since(start);
    (void)store->find(location, "*", [&](const index::IndexedRow&) { return ++rows, true; });
    std::printf("location %s, *: summary %.3f s, then rows %zu in %.3f s\n", location, summarised, rows,
                since(start) - summarised);
    rows = 0;
    const auto common = Clock::now();
    (void)store->find(location, "*dra*", [&](const index::IndexedRow&) { return ++rows, true; });
    std::printf("location %s, *dra*: rows %zu in %.3f s\n", location, rows, since(common));
  }

  // A stop asked for while a read runs (the window closing, a search restarted): how long
  // until the read has ended, for a scan that matches little, a sort before its first row,
  // and a count. Each read is first timed whole.
  const std::vector<std::pair<const char*, std::function<void(std::stop_token)>>> reads = {
      {"scan *q?z*", [&](std::stop_token stop) { (void)store->find("", "*q?z*", [](const auto&) { return true; }, stop); }},
      {"sort *.pdf", [&](std::stop_token stop) { (void)store->find("", "*.pdf", [](const auto&) { return true; }, stop); }},
      {"count", [&](std::stop_token stop) { (void)store->summary("", stop); }}};
  for (const auto& [name, read] : reads) {
    const auto whole = Clock::now();
    read({});
    const double wholeSeconds = since(whole);
    std::stop_source stop;
    std::jthread reader([&] { read(stop.get_token()); });
    std::this_thread::sleep_for(std::chrono::duration<double>(wholeSeconds / 4));
    const auto asked = Clock::now();
    stop.request_stop();
    reader.join();
    std::printf("stop %s: whole %.3f s, ended %.1f ms after the stop\n", name, wholeSeconds, 1000 * since(asked));
  }

  // 2. The walk: the same in-memory share with and without recording, alternately, best of 3.
  InMemoryShares shares;
  shares.addFolder("\\\\S\\P");
  std::vector<std::string> made{"\\\\S\\P"};
  for (long f = 1; f < walkFolders; ++f) {
    const std::string folder = made[rng() % made.size()] + "\\d" + std::to_string(f);
    shares.addFolder(folder);
    made.push_back(folder);
  }
  for (const std::string& folder : made) {
    for (int k = 0; k < 50; ++k) shares.addFile(folder + "\\" + randomName(rng) + std::to_string(k), rng() % 100000);
  }
  shares.setListDelay(std::chrono::microseconds(delayUs));
  Executor executor(16);
  const std::string walkIndex = dir + "/walk.sqlite";
  // Recording into an empty index (every entry new), and again into the current one (the
  // usual case: most folders as they were), best of three each, alternating with no index.
  double off = 1e9, fresh = 1e9, freshWritten = 1e9, again = 1e9, againWritten = 1e9;
  for (int round = 0; round < 3; ++round) {
    off = std::min(off, walk(shares, shares, executor));
    std::filesystem::remove(walkIndex);
    auto writer = index::IndexWriter::open(walkIndex);
    if (!writer) return 1;
    RecordingLister recording(shares, **writer);
    for (int pass = 0; pass < 2; ++pass) {
      const auto start = Clock::now();
      const double took = walk(shares, recording, executor);
      (*writer)->flush();
      const double written = since(start);
      (pass == 0 ? fresh : again) = std::min(pass == 0 ? fresh : again, took);
      (pass == 0 ? freshWritten : againWritten) = std::min(pass == 0 ? freshWritten : againWritten, written);
    }
  }
  auto percent = [&](double value) { return 100 * (value - off) / off; };
  std::printf("walk folders: %ld entries: %ld list_delay_us: %ld\n", walkFolders, walkFolders * 51 - 1, delayUs);
  std::printf("walk_without_index_seconds: %.3f\n", off);
  std::printf("walk_into_empty_index_seconds: %.3f (%+.1f %%), written %.3f (%+.1f %%)\n", fresh, percent(fresh),
              freshWritten, percent(freshWritten));
  std::printf("walk_into_current_index_seconds: %.3f (%+.1f %%), written %.3f (%+.1f %%)\n", again, percent(again),
              againWritten, percent(againWritten));
  return 0;
}
