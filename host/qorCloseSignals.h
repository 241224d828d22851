// SIGTERM, SIGINT and SIGHUP (a desktop logout, a Ctrl+C) close the program
// as a user would: the handler writes a byte to a pipe, and the GUI thread,
// reading it, runs the close.
#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

class qorCloseSignals : public QObject {
  Q_OBJECT

 public:
  explicit qorCloseSignals(std::function<void()> on_signal, QObject* parent = nullptr);
  ~qorCloseSignals() override;

  // False when the pipe or the handlers could not be set up.
  bool Installed() const { return notifier_ != nullptr; }

 private:
  std::function<void()> on_signal_;
  QSocketNotifier* notifier_ = nullptr;
};
