// The search results as a Qt table model: columns Name (full path, with the type's icon) and
// Size (size text).
//
// Found rows wait briefly (queue()) so that a flood of small batches costs the view one
// insertion, and one relayout, per flush instead of one per batch.
//
// Rows live in one vector in the order they arrived; the view shows them through an index
// vector, so a sort permutes indexes and never moves rows. Rows that arrive after a sort are
// appended at the bottom, outside the sorted order, as the result list always did.
//
// Thread rules: GUI thread only.
#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QTimer>
#include <array>
#include <cstdint>
#include <vector>

#include "results/result_icon.h"
#include "results/result_row.h"
#include "results/result_sort.h"

namespace vuv::app {

class ResultModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { NameColumn = 0, SizeColumn = 1 };

  explicit ResultModel(QObject* parent = nullptr);

  // Appends a batch at the bottom with one row insertion.
  void append(std::vector<ResultRow> rows);
  // Appends a batch a moment later, together with the batches that follow it meanwhile.
  void queue(std::vector<ResultRow> rows);
  // Appends the queued rows now.
  void flush();
  // Drops the shown rows with these paths (queued rows stay).
  void remove(const std::vector<std::string>& paths);
  // Gives the shown rows at these paths their new values (queued rows stay).
  void update(std::vector<RowChange> changes);
  // Drops every row, the queued ones too.
  void clear();
  // Reorders every row (the queued ones too) by `column`'s fixed order; stable, so equal rows
  // keep their order.
  void sortBy(SortColumn column);

  // The row shown at `row`; requires 0 <= row < rowCount().
  const ResultRow& rowAt(int row) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  struct Entry {
    ResultRow row;
    ResultIcon icon;
  };

  void sortShownBySize();
  void sortShownByName();

  std::vector<Entry> entries_;        // in arrival order
  std::vector<std::uint32_t> shown_;  // view row -> index into entries_
  std::array<QIcon, 8> icons_;        // by ResultIcon
  std::vector<ResultRow> pending_;    // queued, not shown yet
  QTimer flushTimer_;
};

}  // namespace vuv::app
