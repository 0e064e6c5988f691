// The window's credential prompt: a worker thread's question becomes a password dialog on the
// GUI thread, modal to the window, and the worker waits for the answer.
//
// Questions are queued to the GUI thread and shown one at a time, in the order they came. A
// question whose stop is requested returns nullopt at once, without the GUI thread: its dialog
// is closed (or its place in the queue dropped) when the GUI thread gets to it. Cancel gives
// nullopt too. Nothing typed is kept here once handed to the asking thread.
//
// Thread rules: construct, setWindow() and destroy on the GUI thread; credentialsFor() from
// any other thread, several at once (on the GUI thread it would wait for itself: it declines).
// Destroy only after every call has returned, or with the calls stopped: the destructor ends
// the questions still open with nullopt.
#pragma once

#include <QObject>
#include <QPointer>
#include <deque>
#include <memory>

#include "browse/credentials.h"

class QWidget;

namespace vuv::app {

class CPasswordDlg;

class DialogCredentialPrompt final : public QObject, public CredentialPrompt {
  Q_OBJECT

 public:
  explicit DialogCredentialPrompt(QObject* parent = nullptr);
  ~DialogCredentialPrompt() override;

  // The window the dialogs are modal to; null: modal to the application.
  void setWindow(QWidget* window);

  std::optional<CredentialAnswer> credentialsFor(std::string_view server, std::string_view share,
                                                 LogOnReason reason, std::stop_token stop) override;

  // The dialog on screen now, if any; for tests.
  CPasswordDlg* currentDialog() const;

 signals:
  // A dialog has opened (GUI thread).
  void dialogShown(CPasswordDlg* dialog);

 private:
  struct Question;
  void enqueue(const std::shared_ptr<Question>& question);
  void withdraw(const std::shared_ptr<Question>& question);
  void showNext();

  // GUI thread only.
  QPointer<QWidget> m_window;
  std::deque<std::shared_ptr<Question>> m_waiting;
  std::shared_ptr<Question> m_current;  // the one on screen
  QPointer<CPasswordDlg> m_dialog;
};

}  // namespace vuv::app
