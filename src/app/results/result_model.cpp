#include "app/results/result_model.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "results/size_text.h"
#include "app/ui/pictures.h"
#include "app/ui/texts.h"

namespace vuv::app {
namespace {

// Short enough to look immediate, long enough to gather a burst of batches.
constexpr std::chrono::milliseconds kFlushDelay{50};

}  // namespace

ResultModel::ResultModel(QObject* parent) : QAbstractTableModel(parent) {
  for (int icon = 0; icon < static_cast<int>(icons_.size()); ++icon) {
    icons_[icon] = resultIcon(static_cast<ResultIcon>(icon));
  }
  flushTimer_.setSingleShot(true);
  flushTimer_.setInterval(kFlushDelay);
  connect(&flushTimer_, &QTimer::timeout, this, &ResultModel::flush);
}

void ResultModel::queue(std::vector<ResultRow> rows) {
  if (pending_.empty()) {
    pending_ = std::move(rows);
  } else {
    pending_.insert(pending_.end(), std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
  }
  if (!flushTimer_.isActive()) flushTimer_.start();
}

void ResultModel::flush() {
  flushTimer_.stop();
  append(std::exchange(pending_, {}));
}

void ResultModel::append(std::vector<ResultRow> rows) {
  if (rows.empty()) return;
  const int first = static_cast<int>(shown_.size());
  beginInsertRows({}, first, first + static_cast<int>(rows.size()) - 1);
  for (ResultRow& row : rows) {
    const ResultIcon icon = rowIcon(row);
    shown_.push_back(static_cast<std::uint32_t>(entries_.size()));
    entries_.push_back({std::move(row), icon});
  }
  endInsertRows();
}

void ResultModel::remove(const std::vector<std::string>& paths) {
  if (paths.empty()) return;
  const std::unordered_set<std::string_view> gone(paths.begin(), paths.end());
  std::vector<bool> dropped(entries_.size());
  bool any = false;
  for (std::size_t i = 0; i < entries_.size(); ++i) any |= dropped[i] = gone.contains(entries_[i].row.path);
  if (!any) return;
  beginResetModel();
  // Indexes shift as entries go: each kept entry's new place, in one pass.
  std::vector<std::uint32_t> newIndex(entries_.size());
  std::size_t kept = 0;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (dropped[i]) continue;
    newIndex[i] = static_cast<std::uint32_t>(kept);
    if (kept != i) entries_[kept] = std::move(entries_[i]);
    ++kept;
  }
  entries_.resize(kept);
  std::erase_if(shown_, [&](std::uint32_t index) { return dropped[index]; });
  for (std::uint32_t& index : shown_) index = newIndex[index];
  endResetModel();
}

void ResultModel::update(std::vector<RowChange> changes) {
  std::unordered_map<std::string_view, ResultRow*> byPath;
  for (RowChange& change : changes) byPath.emplace(change.shownPath, &change.row);
  std::vector<bool> changed(entries_.size());
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const auto it = byPath.find(entries_[i].row.path);
    if (it == byPath.end()) continue;
    const ResultIcon icon = rowIcon(*it->second);
    entries_[i] = {std::move(*it->second), icon};
    changed[i] = true;
    byPath.erase(it);  // one row per path: a second one must not get a moved-from row
  }
  for (int row = 0; row < static_cast<int>(shown_.size()); ++row) {
    if (changed[shown_[row]]) emit dataChanged(index(row, 0), index(row, columnCount() - 1));
  }
}

void ResultModel::clear() {
  flushTimer_.stop();
  pending_.clear();
  beginResetModel();
  entries_.clear();
  entries_.shrink_to_fit();
  shown_.clear();
  shown_.shrink_to_fit();
  endResetModel();
}

void ResultModel::sortBy(SortColumn column) {
  flush();
  if (shown_.empty()) return;
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const QModelIndexList before = persistentIndexList();
  std::vector<std::uint32_t> oldRows;
  oldRows.reserve(before.size());
  for (const QModelIndex& index : before) oldRows.push_back(shown_[index.row()]);

  if (column == SortColumn::Size) {
    sortShownBySize();
  } else {
    sortShownByName();
  }

  if (!before.isEmpty()) {
    std::vector<int> rowOfEntry(entries_.size());
    for (std::size_t row = 0; row < shown_.size(); ++row) {
      rowOfEntry[shown_[row]] = static_cast<int>(row);
    }
    QModelIndexList after;
    after.reserve(before.size());
    for (qsizetype i = 0; i < before.size(); ++i) {
      after.push_back(index(rowOfEntry[oldRows[i]], before[i].column()));
    }
    changePersistentIndexList(before, after);
  }
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

// Both sorts compare compact keys gathered in display order instead of reaching into the rows
// on every comparison: with hundreds of thousands of rows the scattered reads cost more than
// the comparisons. The orders are rowLess()'s (the tests hold them to it).
void ResultModel::sortShownBySize() {
  // Folders first, all equal; then files by the value their size text shows.
  std::vector<std::pair<std::uint64_t, std::uint32_t>> keys;
  keys.reserve(shown_.size());
  for (std::uint32_t index : shown_) {
    const ResultRow& row = entries_[index].row;
    keys.emplace_back(row.isFolder ? 0 : displayedSizeValue(row.size) + 1, index);
  }
  std::ranges::stable_sort(keys, {}, &std::pair<std::uint64_t, std::uint32_t>::first);
  for (std::size_t i = 0; i < keys.size(); ++i) shown_[i] = keys[i].second;
}

void ResultModel::sortShownByName() {
  std::vector<std::pair<std::string_view, std::uint32_t>> keys;
  keys.reserve(shown_.size());
  for (std::uint32_t index : shown_) keys.emplace_back(entries_[index].row.path, index);
  std::ranges::stable_sort(keys, std::ranges::greater{},
                           &std::pair<std::string_view, std::uint32_t>::first);
  for (std::size_t i = 0; i < keys.size(); ++i) shown_[i] = keys[i].second;
}

const ResultRow& ResultModel::rowAt(int row) const { return entries_[shown_[row]].row; }

int ResultModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(shown_.size());
}

int ResultModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 2; }

QVariant ResultModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const Entry& entry = entries_[shown_[index.row()]];
  switch (role) {
    case Qt::DisplayRole:
      return index.column() == NameColumn ? QString::fromStdString(entry.row.path)
                                          : QString::fromStdString(sizeText(entry.row));
    case Qt::DecorationRole:
      return index.column() == NameColumn ? icons_[static_cast<int>(entry.icon)] : QVariant();
    case Qt::TextAlignmentRole:
      return index.column() == SizeColumn ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                                          : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    default:
      return {};
  }
}

QVariant ResultModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal) return {};
  if (role == Qt::DisplayRole) {
    return section == NameColumn ? QString(text::kNameColumn) : QString(text::kSizeColumn);
  }
  if (role == Qt::TextAlignmentRole) {
    return section == NameColumn ? QVariant(Qt::AlignCenter)
                                 : QVariant(Qt::AlignRight | Qt::AlignVCenter);
  }
  return {};
}

}  // namespace vuv::app
