#include "app/backend/dialog_credential_prompt.h"

#include <QCoreApplication>
#include <QThread>
#include <algorithm>
#include <condition_variable>
#include <mutex>

#include "app/ui/password_dlg.h"

namespace vuv::app {

struct DialogCredentialPrompt::Question {
  QString where;
  LogOnReason reason = LogOnReason::GuestRefused;
  std::mutex mutex;
  std::condition_variable_any answered;
  bool done = false;                      // guarded by mutex
  std::optional<CredentialAnswer> answer;  // guarded by mutex

  void finish(std::optional<CredentialAnswer> given) {
    std::lock_guard lock(mutex);
    if (done) return;
    done = true;
    answer = std::move(given);
    answered.notify_all();
  }
};

DialogCredentialPrompt::DialogCredentialPrompt(QObject* parent) : QObject(parent) {}

DialogCredentialPrompt::~DialogCredentialPrompt() {
  for (const auto& question : m_waiting) question->finish(std::nullopt);
  if (m_current) m_current->finish(std::nullopt);
  delete m_dialog.data();
}

void DialogCredentialPrompt::setWindow(QWidget* window) { m_window = window; }

CPasswordDlg* DialogCredentialPrompt::currentDialog() const { return m_dialog; }

std::optional<CredentialAnswer> DialogCredentialPrompt::credentialsFor(std::string_view server,
                                                                       std::string_view share,
                                                                       LogOnReason reason,
                                                                       std::stop_token stop) {
  if (stop.stop_requested() || QThread::currentThread() == thread()) return std::nullopt;
  auto question = std::make_shared<Question>();
  question->reason = reason;
  question->where = "\\\\" + QString::fromUtf8(server.data(), static_cast<qsizetype>(server.size()));
  if (!share.empty()) {
    question->where += '\\' + QString::fromUtf8(share.data(), static_cast<qsizetype>(share.size()));
  }
  QMetaObject::invokeMethod(this, [this, question] { enqueue(question); }, Qt::QueuedConnection);

  std::unique_lock lock(question->mutex);
  if (!question->answered.wait(lock, stop, [&] { return question->done; })) {
    question->done = true;  // a late answer finds it taken
    lock.unlock();
    QMetaObject::invokeMethod(this, [this, question] { withdraw(question); }, Qt::QueuedConnection);
    return std::nullopt;
  }
  return std::move(question->answer);
}

void DialogCredentialPrompt::enqueue(const std::shared_ptr<Question>& question) {
  {
    std::lock_guard lock(question->mutex);
    if (question->done) return;  // stopped before it reached the screen
  }
  m_waiting.push_back(question);
  showNext();
}

void DialogCredentialPrompt::withdraw(const std::shared_ptr<Question>& question) {
  if (question == m_current) {
    if (m_dialog) m_dialog->reject();  // showNext() follows from its end
    return;
  }
  m_waiting.erase(std::remove(m_waiting.begin(), m_waiting.end(), question), m_waiting.end());
}

void DialogCredentialPrompt::showNext() {
  if (m_current || m_waiting.empty()) return;
  m_current = m_waiting.front();
  m_waiting.pop_front();

  auto* dialog = new CPasswordDlg(m_current->where, m_current->reason, m_window);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowModality(m_window ? Qt::WindowModal : Qt::ApplicationModal);
  m_dialog = dialog;
  connect(dialog, &QDialog::finished, this, [this, dialog](int result) {
    std::optional<CredentialAnswer> answer;
    if (result == QDialog::Accepted) answer = dialog->takeAnswer();
    const std::shared_ptr<Question> question = std::exchange(m_current, nullptr);
    m_dialog = nullptr;
    if (question) question->finish(std::move(answer));
    // Not from inside the ending dialog's signal: the next one opens from the event loop.
    QMetaObject::invokeMethod(this, [this] { showNext(); }, Qt::QueuedConnection);
  });
  dialog->open();
  emit dialogShown(dialog);
}

}  // namespace vuv::app
