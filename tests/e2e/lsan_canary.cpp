// Leaks 4242 bytes on purpose, deep beneath Qt: the platform exposes the window, Qt Gui hands
// the expose event to Qt Widgets, which paints the widget; its paintEvent() emits a signal,
// and the slot connected to it leaks. The allocation's stack thus runs through glib's event
// loop, Qt Core, Qt Gui and Qt Widgets. The test passes only if LeakSanitizer still reports
// the leak with scripts/lsan.supp in force.
#include <QApplication>
#include <QWidget>

namespace {

char* volatile sink = nullptr;
bool leaked = false;

class Canvas : public QWidget
{
    Q_OBJECT
signals:
    void painted();

protected:
    void paintEvent(QPaintEvent*) override { emit painted(); }
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    Canvas canvas;
    QObject::connect(&canvas, &Canvas::painted, &app, [&app] {
        if (!leaked) {
            leaked = true;
            sink = new char[4242];
            sink = nullptr; // the only pointer to the block is gone
        }
        app.quit();
    });
    canvas.resize(100, 100);
    canvas.show();
    return app.exec();
}

#include "lsan_canary.moc"
