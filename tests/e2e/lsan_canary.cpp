// Leaks 4242 bytes on purpose in a slot reached from a paint event, so the allocation's stack runs
// through glib's event loop, Qt Core, Gui and Widgets; LeakSanitizer must still report it.
#include <QApplication>
#include <QWidget>

char* volatile sink = nullptr;

class Canvas : public QWidget
{
    Q_OBJECT
signals:
    void painted();

protected:
    void paintEvent(QPaintEvent*) override { emit painted(); }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    Canvas canvas;
    const auto leak = [&app] {
        sink = new char[4242];
        sink = nullptr; // the only pointer to the block is gone
        app.quit();
    };
    QObject::connect(&canvas, &Canvas::painted, &app, leak, Qt::SingleShotConnection);
    canvas.resize(100, 100);
    canvas.show();
    return app.exec();
}

#include "lsan_canary.moc"
