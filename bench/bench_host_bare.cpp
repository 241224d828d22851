// The bound velarno's start-up is measured beside: a bare Qt program that
// shows one empty 780 x 653 window and reports its first paint.
#include <QApplication>
#include <QWidget>

#include <chrono>
#include <cstdio>

namespace {

const auto g_start = std::chrono::steady_clock::now();

class Empty : public QWidget {
 protected:
  void paintEvent(QPaintEvent*) override {
    if (painted_) return;
    painted_ = true;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - g_start)
                        .count();
    std::fprintf(stderr, "bare: first paint after %lld ms\n", static_cast<long long>(ms));
    std::fflush(stderr);
  }

 private:
  bool painted_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  Empty window;
  window.setFixedSize(780, 653);
  window.show();
  return app.exec();
}
