#include "app/ui/copy_progress_dlg.h"

#include <QFormLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "app/ui/texts.h"
#include "results/size_text.h"

namespace vuv::app {
namespace {

constexpr int kBarSteps = 1000;
constexpr int kMinimumWidth = 420;

QLabel* valueLabel(const char* name, const char* accessibleName, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setObjectName(name);
  label->setAccessibleName(QString::fromLatin1(accessibleName).chopped(1));  // without ':'
  label->setTextFormat(Qt::PlainText);
  return label;
}

}  // namespace

QString rateText(double bytesPerSecond) {
  constexpr double kKbyte = 1024;
  constexpr double kMbyte = 1024 * 1024;
  if (bytesPerSecond >= kMbyte) return QString::asprintf("%.1f MB/s", bytesPerSecond / kMbyte);
  if (bytesPerSecond >= kKbyte) return QString::asprintf("%.1f KB/s", bytesPerSecond / kKbyte);
  return QString::asprintf("%.0f bytes/s", bytesPerSecond < 0 ? 0.0 : bytesPerSecond);
}

QString timeLeftText(std::chrono::seconds left) {
  const long long total = left.count() < 0 ? 0 : left.count();
  const long long hours = total / 3600;
  const long long minutes = total / 60 % 60;
  const long long seconds = total % 60;
  if (hours > 0) return QString::asprintf("%lld:%02lld:%02lld", hours, minutes, seconds);
  return QString::asprintf("%lld:%02lld", minutes, seconds);
}

CopyProgressDlg::CopyProgressDlg(const QString& caption, const QString& item, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
  setWindowTitle(caption);
  setWindowModality(Qt::WindowModal);
  setMinimumWidth(kMinimumWidth);

  m_item = valueLabel("copyItem", text::kCopyItemLabel, this);
  m_item->setText(item);
  m_item->setWordWrap(true);
  m_bar = new QProgressBar(this);
  m_bar->setObjectName("copyProgressBar");
  m_bar->setAccessibleName("Copy progress");
  m_bar->setRange(0, kBarSteps);
  m_bar->setValue(0);
  m_bytes = valueLabel("copyBytes", text::kCopyBytesLabel, this);
  m_rate = valueLabel("copyRate", text::kCopyRateLabel, this);
  m_timeLeft = valueLabel("copyTimeLeft", text::kCopyTimeLeftLabel, this);
  for (QLabel* label : {m_bytes, m_rate, m_timeLeft}) label->setText(text::kCopyUnknown);

  m_cancel = new QPushButton(text::kCancelButton, this);
  m_cancel->setObjectName("copyCancel");
  m_cancel->setAccessibleName(text::kCancelButton);
  m_cancel->setAutoDefault(false);
  connect(m_cancel, &QPushButton::clicked, this, &CopyProgressDlg::reject);

  auto* form = new QFormLayout;
  form->addRow(text::kCopyItemLabel, m_item);
  form->addRow(text::kCopyBytesLabel, m_bytes);
  form->addRow(text::kCopyRateLabel, m_rate);
  form->addRow(text::kCopyTimeLeftLabel, m_timeLeft);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(m_cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(m_bar);
  layout->addLayout(buttons);
}

void CopyProgressDlg::setProgress(const CopyProgress& progress) {
  if (!progress.currentItem.empty()) m_item->setText(QString::fromStdString(progress.currentItem));
  m_bytes->setText(QString(text::kCopyBytesOf)
                       .arg(QString::fromStdString(sizeText(progress.bytesDone, false)),
                            QString::fromStdString(sizeText(progress.bytesTotal, false))));
  // As a fraction: the byte counts may be far beyond what an int holds.
  const double done = progress.bytesTotal == 0
                          ? 0.0
                          : static_cast<double>(progress.bytesDone) /
                                static_cast<double>(progress.bytesTotal);
  m_bar->setValue(static_cast<int>(std::min(done, 1.0) * kBarSteps));
  m_rate->setText(progress.bytesPerSecond > 0 ? rateText(progress.bytesPerSecond)
                                              : QString(text::kCopyUnknown));
  m_timeLeft->setText(progress.timeLeft ? timeLeftText(*progress.timeLeft)
                                        : QString(text::kCopyUnknown));
}

void CopyProgressDlg::reject() {
  if (!m_cancel->isEnabled()) return;
  m_cancel->setEnabled(false);
  m_cancel->setText(text::kCancelling);
  emit cancelRequested();
}

}  // namespace vuv::app
