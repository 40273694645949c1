// Leaks 4242 bytes on purpose in a paint event, so the allocation's stack runs through glib's event loop,
// Qt Core, Gui and Widgets; LeakSanitizer must still report it.
#include <QApplication>
#include <QWidget>
#include <utility>

char* volatile sink = nullptr;

struct Canvas : QWidget
{
    bool leaked = false;
    void paintEvent(QPaintEvent*) override
    {
        if (std::exchange(leaked, true))
            return;
        sink = new char[4242];
        sink = nullptr; // the only pointer to the block is gone
        QApplication::quit();
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    Canvas canvas;
    canvas.resize(100, 100);
    canvas.show();
    return app.exec();
}
