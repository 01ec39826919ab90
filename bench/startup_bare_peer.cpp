// The peer of bench_startup: a bare Qt program that shows an empty main
// window of the given size and ends at its first expose.
#include <QApplication>
#include <QMainWindow>
#include <QWindow>

#include <cstdlib>
#include <unistd.h>

namespace {

class ExitOnExpose : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Expose && static_cast<QWindow*>(watched)->isExposed())
            _exit(0);
        return false;
    }
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int width = argc > 2 ? std::atoi(argv[1]) : 884;
    const int height = argc > 2 ? std::atoi(argv[2]) : 616;
    QMainWindow window;
    window.setFixedSize(width, height);
    ExitOnExpose filter;
    window.winId();
    window.windowHandle()->installEventFilter(&filter);
    window.show();
    return app.exec();
}
