// Answering modal windows in UI tests. A modal dialog, message box or pop-up menu runs its own
// event loop, so the test cannot act after the call that opens it; instead it sets up, before
// that call, an answer that runs on the window once it is up. The answer looks only while it
// exists, so it never reaches a window of a later step.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <utility>

namespace quarry::testing {

inline constexpr int kModalWaitMs = 10000;

// Runs `handle` once on the first active modal window (or pop-up) of type T that appears within
// `waitMs`; the handler closes it.
template <typename T>
class ModalAnswer {
public:
  explicit ModalAnswer(std::function<void(T*)> handle, int waitMs = kModalWaitMs)
      : m_handle(std::move(handle)), m_waitMs(waitMs) {
    m_clock.start();
    QObject::connect(&m_poll, &QTimer::timeout, [this] { Poll(); });
    m_poll.start(10);
  }
  ModalAnswer(const ModalAnswer&) = delete;
  ModalAnswer& operator=(const ModalAnswer&) = delete;
  bool answered() const { return m_answered; }

private:
  void Poll() {
    QWidget* modal = QApplication::activePopupWidget();
    if (!qobject_cast<T*>(modal)) modal = QApplication::activeModalWidget();
    T* window = qobject_cast<T*>(modal);
    if (!window && m_clock.elapsed() < m_waitMs) return;
    m_poll.stop();
    if (!window) return;
    m_answered = true;
    m_handle(window);
  }

  std::function<void(T*)> m_handle;
  int m_waitMs;
  QTimer m_poll;
  QElapsedTimer m_clock;
  bool m_answered = false;
};

// Closes the next message box and keeps its text.
class MessageBoxAnswer : public ModalAnswer<QMessageBox> {
public:
  explicit MessageBoxAnswer(int waitMs = kModalWaitMs)
      : ModalAnswer<QMessageBox>(
            [this](QMessageBox* box) {
              text = box->text();
              box->done(QMessageBox::Ok);
            },
            waitMs) {}
  QString text;
};

}  // namespace quarry::testing
