// The result model: queued batches, texts and icons, the two sort orders, rows after a sort.
#include <QAbstractItemModelTester>
#include <QItemSelectionModel>
#include <QSignalSpy>
#include <QTest>

#include "app/results/result_model.h"
#include "results/result_sort.h"
#include "results/size_text.h"

namespace vuv::app::test {

class ResultModelTest : public QObject {
  Q_OBJECT

  static std::vector<std::string> paths(const ResultModel& model) {
    std::vector<std::string> out;
    for (int row = 0; row < model.rowCount(); ++row) out.push_back(model.rowAt(row).path);
    return out;
  }

  static std::vector<ResultRow> sample() {
    return {fileRow("\\\\S\\s\\Zeta.txt", 2048), folderRow("\\\\S\\s\\old.zip"),
            fileRow("\\\\S\\s\\alpha.txt", 1 << 20), fileRow("\\\\S\\s\\b.mp3", 1023),
            folderRow("\\\\S\\s\\docs"), fileRow("\\\\S\\s\\c", 2047),
            fileRow("\\\\S\\s\\k", 1024), fileRow("\\\\S\\s\\Zeta.txt", 9)};
  }

 private slots:
  // Queued batches reach the view together, in order; a clear or a sort takes the queued too.
  void queuedBatchesAreOneInsertion() {
    ResultModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    for (int batch = 0; batch < 20; ++batch) model.queue({fileRow("\\\\S\\s\\" + std::to_string(batch), 1)});
    QTRY_COMPARE(model.rowCount(), 20);
    QCOMPARE(inserted.size(), 1);
    QCOMPARE(model.rowAt(19).path, std::string("\\\\S\\s\\19"));
    model.flush();  // nothing waits: no insertion
    QCOMPARE(inserted.size(), 1);
    model.queue(sample());
    model.clear();
    model.queue(sample());
    model.sortBy(SortColumn::Size);
    QCOMPARE(model.rowCount(), 8);  // the cleared batch is gone
  }

  // Ties (two folders, 2047 and 1024 both shown as 1 Kbytes, a path twice) keep their order.
  void sortsAsTheCoreOrdersAndAgainTheSameWay() {
    for (SortColumn column : {SortColumn::Name, SortColumn::Size}) {
      ResultModel model;
      QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
      model.append(sample());
      std::vector<ResultRow> expected = sample();
      sortRows(expected, column);
      model.sortBy(column);
      std::vector<std::string> expectedPaths;
      for (const ResultRow& row : expected) expectedPaths.push_back(row.path);
      QCOMPARE(paths(model), expectedPaths);
      model.sortBy(column);
      QCOMPARE(paths(model), expectedPaths);
    }
  }

  // The selection follows its row through a sort; rows after a sort go to the bottom.
  void aSortKeepsTheSelectionAndLaterRowsGoToTheBottom() {
    ResultModel model;
    model.append(sample());
    QItemSelectionModel selection(&model);
    selection.setCurrentIndex(model.index(2, 0),
                              QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    model.sortBy(SortColumn::Size);
    QCOMPARE(model.rowAt(selection.currentIndex().row()).path, std::string("\\\\S\\s\\alpha.txt"));
    QVERIFY(selection.isRowSelected(selection.currentIndex().row()));
    model.append({folderRow("\\\\S\\s\\late"), fileRow("\\\\S\\s\\a0", 0)});
    const std::vector<std::string> shown = paths(model);
    QCOMPARE(shown[8], std::string("\\\\S\\s\\late"));  // not among the folders on top
    QCOMPARE(shown[9], std::string("\\\\S\\s\\a0"));
  }
};

}  // namespace vuv::app::test

QTEST_MAIN(vuv::app::test::ResultModelTest)
#include "result_model_test.moc"
