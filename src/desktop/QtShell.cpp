#include "desktop/QtShell.h"

#include <QMetaObject>
#include <QThread>
#include <QWidget>

#include "platform/TextCodec.h"
#include "desktop/BoxPresenter.h"
#include "desktop/QtText.h"

namespace tav {

void QtShell::PendingBox::Finish() {
  std::lock_guard lock(mutex);
  finished = true;
  done.notify_all();
}

void QtShell::PendingBox::Wait() {
  std::unique_lock lock(mutex);
  done.wait(lock, [this] { return finished; });
}

QtShell::QtShell(CSetting& setting, BoxPresenter& boxes, QObject* parent)
    : QObject(parent), CoreShell(setting), boxes_(boxes) {}

QtShell::~QtShell() { BeginShutdown(); }

bool QtShell::OnGuiThread() const { return QThread::currentThread() == thread(); }

void QtShell::BeginShutdown() {
  std::list<std::shared_ptr<PendingBox>> waiting;
  {
    std::lock_guard lock(pendingMutex_);
    shuttingDown_ = true;
    waiting.swap(pending_);
  }
  for (auto& box : waiting) box->Finish();
}

bool QtShell::ShuttingDown() const {
  std::lock_guard lock(pendingMutex_);
  return shuttingDown_;
}

void QtShell::ShowBlocking(const std::function<void()>& show) {
  if (OnGuiThread()) {
    if (!ShuttingDown()) show();
    return;
  }
  auto box = std::make_shared<PendingBox>();
  {
    std::lock_guard lock(pendingMutex_);
    if (shuttingDown_) return;
    pending_.push_back(box);
  }
  QMetaObject::invokeMethod(
      this,
      [this, box, show] {
        if (!ShuttingDown()) show();
        box->Finish();
      },
      Qt::QueuedConnection);
  box->Wait();
  std::lock_guard lock(pendingMutex_);
  pending_.remove(box);
}

void QtShell::PresentTrayState(int) { emit trayStateChanged(); }

void QtShell::PresentStatus(const std::u16string&) { emit statusChanged(); }

void QtShell::PresentWarning(const std::u16string& text) {
  QString message = ToQString(text);
  ShowBlocking([this, message] { boxes_.Warning(boxParent_, message); });
}

void QtShell::PresentMessage(const std::u16string& caption, const std::u16string& text) {
  QString title = ToQString(caption);
  QString message = ToQString(text);
  ShowBlocking([this, title, message] { boxes_.Message(boxParent_, title, message); });
}

void QtShell::PresentBalloon(const std::u16string& text) { emit balloonRequested(ToQString(text)); }

// The desktop shows rows as they change; nothing more to do when one ends.
void QtShell::OnRowFinished(const LogRow&) {}

void QtShell::OpenFtpBugDialog(const std::string& server, const std::string& board, const std::string& thread) {
  emit ftpBugDialogRequested(ToQString(Cp932ToUtf16(server)), ToQString(Cp932ToUtf16(board)),
                             ToQString(Cp932ToUtf16(thread)));
}

}  // namespace tav
