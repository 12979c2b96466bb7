#pragma once
// The desktop front end of the shell. Workers call it from any thread; it
// carries everything out on the GUI thread. Boxes raised by a worker are
// shown modally there and hold only that worker until they are closed.

#include <QObject>
#include <QPointer>
#include <QString>
#include <condition_variable>
#include <functional>
#include <list>
#include <memory>
#include <mutex>

#include "shell/CoreShell.h"

class QWidget;

namespace tav {

class BoxPresenter;

class QtShell : public QObject, public CoreShell {
  Q_OBJECT
 public:
  QtShell(CSetting& setting, BoxPresenter& boxes, QObject* parent = nullptr);
  ~QtShell() override;

  // The owner of the boxes (the main window); may be null.
  void SetBoxParent(QWidget* parent) { boxParent_ = parent; }
  BoxPresenter& Boxes() { return boxes_; }

  // From now on no box is shown any more, and every worker waiting for a box
  // goes on at once. Called before the workers are ended.
  void BeginShutdown();
  bool ShuttingDown() const;

  void OpenFtpBugDialog(const std::string& server, const std::string& board, const std::string& thread) override;

 signals:
  // Delivered on the GUI thread; the receiver reads the current values
  // (TrayState(), StatusText()), so that the last change always wins.
  void trayStateChanged();
  void statusChanged();
  void balloonRequested(const QString& text);
  void ftpBugDialogRequested(const QString& server, const QString& board, const QString& thread);

 protected:
  void PresentTrayState(int state) override;
  void PresentStatus(const std::u16string& text) override;
  void PresentWarning(const std::u16string& text) override;
  void PresentMessage(const std::u16string& caption, const std::u16string& text) override;
  void PresentBalloon(const std::u16string& text) override;
  void OnRowFinished(const LogRow& row) override;

 private:
  // One box a worker is waiting for.
  struct PendingBox {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    void Finish();
    void Wait();
  };

  // Runs `show` on the GUI thread and returns when it has run, or at once
  // when the shell is shutting down.
  void ShowBlocking(const std::function<void()>& show);
  bool OnGuiThread() const;

  BoxPresenter& boxes_;
  QPointer<QWidget> boxParent_;
  mutable std::mutex pendingMutex_;
  std::list<std::shared_ptr<PendingBox>> pending_;
  bool shuttingDown_ = false;
};

}  // namespace tav
