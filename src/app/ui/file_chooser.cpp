#include "app/ui/file_chooser.h"

#include <QFileDialog>
#include <QStringList>

namespace vuv::app {

std::optional<QString> DialogFileChooser::choose(QWidget* parent, const FileRequest& request) {
  QFileDialog dialog(parent, request.caption, request.folder, request.filter);
  dialog.setObjectName("fileDialog");
  const bool save = request.mode == FileRequest::Mode::Save;
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  if (request.mode == FileRequest::Mode::Folder) {
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
  } else {
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(request.defaultSuffix);
  }
  dialog.setOption(QFileDialog::DontConfirmOverwrite, !(save && request.confirmOverwrite));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty()) return std::nullopt;
  return files.front();
}

}  // namespace vuv::app
