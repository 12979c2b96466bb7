#pragma once
// Boxes for tests: remembers every box instead of showing it, answers the
// exit question as told, and notes whether it ran on the GUI thread.

#include <QCoreApplication>
#include <QString>
#include <QThread>
#include <functional>
#include <vector>

#include "desktop/BoxPresenter.h"

namespace tav::test {

class RecordingBoxes : public BoxPresenter {
 public:
  struct Box {
    QString kind;  // "warning", "message", "information", "question", "about"
    QString caption;
    QString text;
    bool onGuiThread = false;
  };

  void Warning(QWidget*, const QString& text) override { Record("warning", {}, text); }
  void Message(QWidget*, const QString& caption, const QString& text) override { Record("message", caption, text); }
  void Information(QWidget*, const QString& text) override { Record("information", {}, text); }
  bool AskYesNo(QWidget*, const QString& text) override {
    Record("question", {}, text);
    return answerYes;
  }
  void About(QWidget*) override { Record("about", {}, {}); }

  int Count(const QString& kind) const {
    int count = 0;
    for (const Box& box : boxes) count += box.kind == kind ? 1 : 0;
    return count;
  }

  std::vector<Box> boxes;
  bool answerYes = true;
  // Runs while a box is "open", after it has been recorded.
  std::function<void()> whileOpen;

 private:
  void Record(const char* kind, const QString& caption, const QString& text) {
    boxes.push_back({QString::fromLatin1(kind), caption, text,
                     QThread::currentThread() == QCoreApplication::instance()->thread()});
    if (whileOpen) whileOpen();
  }
};

}  // namespace tav::test
