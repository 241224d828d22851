// The program's application object: what an event handler throws is shown in
// a box and the program goes on.
#pragma once

#include <QApplication>

class qorApplication : public QApplication {
  Q_OBJECT

 public:
  qorApplication(int& argc, char** argv);

  bool notify(QObject* receiver, QEvent* event) override;

  // The box that shows an exception that reached the event loop.
  static void ShowException(const char* what);
};
