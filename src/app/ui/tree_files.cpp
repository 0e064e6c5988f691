#include "app/ui/tree_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "app/ui/file_chooser.h"
#include "app/ui/notice.h"
#include "app/ui/texts.h"
#include "base/error.h"
#include "treefile/tree_file_writer.h"

namespace vuv::app {

TreeFiles::TreeFiles(WindowBackend& backend, QWidget* window)
    : QObject(window), backend_(backend), window_(window), folder_(QDir::homePath()) {}

std::optional<QString> TreeFiles::choose(bool save) {
  FileRequest request;
  request.mode = save ? FileRequest::Mode::Save : FileRequest::Mode::Open;
  request.caption = save ? text::kSaveTreeCaption : text::kLoadTreeCaption;
  request.folder = folder_;
  request.filter = text::kTreeFileFilter;
  request.defaultSuffix = text::kTreeFileSuffix;
  std::optional<QString> path = chooser_->choose(window_, request);
  if (!path || path->isEmpty()) return std::nullopt;
  folder_ = QFileInfo(*path).absolutePath();
  return path;
}

bool TreeFiles::chooseAndLoad() {
  const std::optional<QString> path = choose(false);
  return path && load(*path);
}

bool TreeFiles::load(const QString& path) {
  // QFile's encoding of names: the bytes the file system holds.
  return backend_.loadTree(QFile::encodeName(path).toStdString());
}

void TreeFiles::chooseAndSave() {
  if (backend_.tree().root() == kNoNode) {
    showError(window_, text::kNothingToSave);
    return;
  }
  const std::optional<QString> path = choose(true);
  if (!path) return;
  const Status saved = saveTreeFile(backend_.tree(), backend_.tree().root(), QFile::encodeName(*path).toStdString());
  if (saved) return;
  if (isNothingToSave(saved.error())) {  // the tree was cleared while the dialog was open
    showError(window_, text::kNothingToSave);
    return;
  }
  showError(window_, text::kCantCreateFile, QString::fromStdString(describe(saved.error())));
}

}  // namespace vuv::app
