#include "host/qorApplication.h"

#include <QMessageBox>

#include <cstdio>
#include <exception>

qorApplication::qorApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("velarno"));
}

void qorApplication::ShowException(const char* what) {
  std::fprintf(stderr, "velarno: %s\n", what);
  if (QApplication::instance() == nullptr) return;
  QMessageBox box(QMessageBox::Critical, QApplication::applicationName(),
                  QString::fromLocal8Bit(what), QMessageBox::Ok, QApplication::activeWindow());
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

bool qorApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    ShowException(e.what());
  } catch (...) {
    ShowException("unknown exception");
  }
  return false;
}
