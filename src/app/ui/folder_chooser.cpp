#include "app/ui/folder_chooser.h"

#include <QFileDialog>

namespace vuv::app {

QString DialogFolderChooser::chooseFolder(QWidget* parent, const QString& caption,
                                          const QString& start) {
  return QFileDialog::getExistingDirectory(
      parent, caption, start, QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
}

}  // namespace vuv::app
