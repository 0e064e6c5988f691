// The password dialog and the prompt that brings worker threads' questions to it, offscreen:
// the fields, OK and Cancel, the remember flag, a stop that ends a waiting worker without the
// GUI thread, several workers asking at once; and when the window's workers use Kerberos.
#include <QAccessible>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <future>
#include <map>
#include <thread>

#include "app/backend/dialog_credential_prompt.h"
#include "app/backend/kerberos_choice.h"
#include "app/ui/password_dlg.h"

namespace vuv::app::test {

namespace {

using namespace std::chrono_literals;

// One worker thread's question, asked at construction.
struct Asker {
  std::stop_source stop;
  std::future<std::optional<CredentialAnswer>> answer;
  std::thread thread;

  Asker(DialogCredentialPrompt& prompt, std::string server, std::string share) {
    std::packaged_task<std::optional<CredentialAnswer>()> task(
        [&prompt, server, share, token = stop.get_token()] { return prompt.credentialsFor(server, share, LogOnReason::GuestRefused, token); });
    answer = task.get_future();
    thread = std::thread(std::move(task));
  }
  ~Asker() {
    stop.request_stop();
    thread.join();
  }
  bool answeredWithin(std::chrono::milliseconds limit) { return answer.wait_for(limit) == std::future_status::ready; }
};

template <class T>
T* field(QWidget* dialog, const char* name) {
  T* found = dialog->findChild<T*>(name);
  if (found == nullptr) qFatal("no control %s", name);
  return found;
}

void fill(CPasswordDlg* dialog, const QString& user, const QString& password, const QString& domain) {
  QTest::keyClicks(field<QLineEdit>(dialog, "userEdit"), user);
  QTest::keyClicks(field<QLineEdit>(dialog, "passwordEdit"), password);
  QTest::keyClicks(field<QLineEdit>(dialog, "domainEdit"), domain);
}

// Neither the field nor its undo history holds what was typed (undo is off for a hidden one).
bool emptied(QLineEdit* password) {
  password->setEchoMode(QLineEdit::Normal);
  password->undo();
  return password->text().isEmpty();
}

}  // namespace

class PasswordPromptTest : public QObject {
  Q_OBJECT

 private slots:
  // The dialog: a hidden password, the user field first, named controls, OK only with a user
  // (else it would only ask for guest access again), and no password left in it once it ends.
  void okAnswersTheWaitingWorkerCancelDeclinesAndStopEnds() {
    DialogCredentialPrompt prompt;
    {
      Asker asker(prompt, "S2", "Private");
      QTRY_VERIFY(prompt.currentDialog() != nullptr);
      CPasswordDlg* dialog = prompt.currentDialog();
      QVERIFY(dialog->isModal());
      QVERIFY(QTest::qWaitForWindowActive(dialog));
      QVERIFY(field<QLabel>(dialog, "passwordMessage")->text().contains("\\\\S2\\Private"));
      QLineEdit* password = field<QLineEdit>(dialog, "passwordEdit");
      QCOMPARE(password->echoMode(), QLineEdit::Password);
      QCOMPARE(QApplication::focusWidget(), field<QLineEdit>(dialog, "userEdit"));
      for (const char* name : {"passwordMessage", "userEdit", "passwordEdit", "domainEdit", "rememberBox",
                               "passwordOk", "passwordCancel"}) {
        QWidget* control = field<QWidget>(dialog, name);
        QVERIFY2(!QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name).isEmpty(), name);
      }
      auto* ok = field<QPushButton>(dialog, "passwordOk");
      QVERIFY(!ok->isEnabled());
      fill(dialog, "alice", "secret", "LAB");
      QVERIFY(ok->isEnabled() && !password->displayText().contains("secret"));
      field<QCheckBox>(dialog, "rememberBox")->setChecked(false);
      ok->click();
      QVERIFY(emptied(password));  // the dialog is deleted later; nothing stays in it
      QVERIFY(asker.answeredWithin(5s));
      const std::optional<CredentialAnswer> answer = asker.answer.get();
      QVERIFY(answer && answer->credentials.user == "alice" && answer->credentials.password == "secret" &&
              answer->credentials.domain == "LAB" && !answer->remember);
    }
    {
      Asker asker(prompt, "S3", "");
      QTRY_VERIFY(prompt.currentDialog() != nullptr);
      QVERIFY(field<QLabel>(prompt.currentDialog(), "passwordMessage")->text().startsWith("\\\\S3 "));
      fill(prompt.currentDialog(), "bob", "pw", "");
      QLineEdit* password = field<QLineEdit>(prompt.currentDialog(), "passwordEdit");
      field<QPushButton>(prompt.currentDialog(), "passwordCancel")->click();
      QVERIFY(emptied(password));
      QVERIFY(asker.answeredWithin(5s));
      QVERIFY(!asker.answer.get().has_value());
    }
    // A stop ends the wait at once and closes the dialog. The worker must not need the GUI
    // thread to end: here it is busy (not in the event loop) while the stop comes.
    Asker asker(prompt, "S2", "Private");
    QTRY_VERIFY(prompt.currentDialog() != nullptr);
    QPointer<CPasswordDlg> dialog = prompt.currentDialog();
    asker.stop.request_stop();
    QVERIFY(asker.answeredWithin(5s));
    QVERIFY(!asker.answer.get().has_value());
    QTRY_VERIFY(dialog.isNull());
    QVERIFY(prompt.currentDialog() == nullptr);
  }

  void severalAsksAreShownOneAtATimeAndEachGetsItsOwnAnswer() {
    DialogCredentialPrompt prompt;
    std::vector<QString> shown;
    connect(&prompt, &DialogCredentialPrompt::dialogShown, this, [&](CPasswordDlg* dialog) {
      shown.push_back(field<QLabel>(dialog, "passwordMessage")->text().section(' ', 0, 0));
    });
    Asker a(prompt, "SA", "");
    QTRY_COMPARE(shown.size(), std::size_t{1});
    Asker b(prompt, "SB", "");
    Asker c(prompt, "SC", "");
    Asker d(prompt, "SD", "");
    c.stop.request_stop();  // waiting in the queue: ends without ever being shown
    QVERIFY(c.answeredWithin(5s));
    QCOMPARE(shown.size(), std::size_t{1});  // the others wait behind the first
    QVERIFY(!c.answer.get().has_value());

    std::map<QString, std::string> users{{"\\\\SA", "ua"}, {"\\\\SB", "ub"}, {"\\\\SD", "ud"}};
    for (std::size_t i = 0; i < 3; ++i) {
      QTRY_COMPARE(shown.size(), i + 1);
      QTRY_VERIFY(prompt.currentDialog() != nullptr);
      fill(prompt.currentDialog(), QString::fromStdString(users.at(shown.back())), "pw", "");
      field<QPushButton>(prompt.currentDialog(), "passwordOk")->click();
    }
    std::sort(shown.begin() + 1, shown.end());  // B and D ask from threads of their own: any order
    QCOMPARE(shown, (std::vector<QString>{"\\\\SA", "\\\\SB", "\\\\SD"}));
    for (const auto& [asker, user] : std::initializer_list<std::pair<Asker*, const char*>>{{&a, "ua"}, {&b, "ub"}, {&d, "ud"}}) {
      QVERIFY(asker->answeredWithin(5s));
      const std::optional<CredentialAnswer> answer = asker->answer.get();
      QVERIFY(answer && answer->credentials.user == user && answer->remember);  // remembered unless unticked
    }
    QCOMPARE(shown.size(), std::size_t{3});
  }

  void kerberosOnlyWithATicketCache() {
    const auto existing = [](const std::string& path) {
      return path == "/tmp/krb5cc_1000" || path == "/home/joe/cc";
    };
    const KerberosUse desired = KerberosUse::Desired;
    QCOMPARE(kerberosChoice(std::nullopt, 1000, existing), desired);
    QCOMPARE(kerberosChoice(std::nullopt, 1001, existing), KerberosUse::Off);
    QCOMPARE(kerberosChoice("", 1000, existing), desired);  // empty: the default cache
    QCOMPARE(kerberosChoice("FILE:/home/joe/cc", 1001, existing), desired);
    QCOMPARE(kerberosChoice("/home/joe/cc", 1001, existing), desired);
    QCOMPARE(kerberosChoice("FILE:/home/joe/none", 1000, existing), KerberosUse::Off);
    QCOMPARE(kerberosChoice("KEYRING:persistent:1001", 1001, existing), desired);
  }
};

}  // namespace vuv::app::test

QTEST_MAIN(vuv::app::test::PasswordPromptTest)
#include "password_prompt_test.moc"
