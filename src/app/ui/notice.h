// Message boxes that do not wait: shown window-modal with open(), deleted when closed. The
// window shows every notice that follows a backend event this way, so no backend callback
// runs a nested event loop.
//
// Thread rules: GUI thread only.
#pragma once

#include <QMessageBox>
#include <QString>

namespace vuv::app {

// An information box with the program's name as caption.
void showInformation(QWidget* parent, const QString& text, const QString& details = {});
// An error box: caption "Error", stop icon.
void showError(QWidget* parent, const QString& text, const QString& details = {});

}  // namespace vuv::app
