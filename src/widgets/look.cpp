#include "look.h"

#include <QApplication>
#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <QStyle>
#include <QStyleFactory>
#include <QWidget>
#include <cmath>

namespace kelvara {

namespace {

constexpr double TwipsPerInch = 1440.0;

double logicalDpi()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->logicalDotsPerInch() : 96.0;
}

double pixelsToTwips(int pixels)
{
    return pixels * TwipsPerInch / logicalDpi();
}

// Puts the window's frame at top = (screen height − frame height) / 2, then left likewise.
void placeFrame(QWidget* window, QSize frame)
{
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    const double top = (pixelsToTwips(area.height()) - pixelsToTwips(frame.height())) / 2;
    const double left = (pixelsToTwips(area.width()) - pixelsToTwips(frame.width())) / 2;
    window->move(area.left() + twipsToPixels(left), area.top() + twipsToPixels(top));
}

// A window manager frames a window only once it is shown, so its size is not known when the
// window is first placed. This centres the window again, once, as soon as its frame is known.
class CentreWhenFramed : public QObject
{
public:
    using QObject::QObject;

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* window = static_cast<QWidget*>(watched);
        if ((event->type() == QEvent::Move || event->type() == QEvent::Show ||
             event->type() == QEvent::Resize) &&
            window->frameGeometry().size() != window->size()) {
            window->removeEventFilter(this);
            deleteLater();
            placeFrame(window, window->frameGeometry().size());
        }
        return false;
    }
};

} // namespace

int twipsToPixels(double twips)
{
    return int(std::lround(twips * logicalDpi() / TwipsPerInch));
}

void placeTwips(QWidget* control, int left, int top, int width, int height)
{
    control->setGeometry(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width),
                         twipsToPixels(height));
}

void sizeTwips(QWidget* window, int width, int height)
{
    window->setFixedSize(twipsToPixels(width), twipsToPixels(height));
}

void centreOnScreen(QWidget* window)
{
    const QSize frame = window->frameGeometry().size();
    placeFrame(window, frame);
    const QString name = QStringLiteral("centreWhenFramed");
    if (frame == window->size() && !window->findChild<QObject*>(name, Qt::FindDirectChildrenOnly)) {
        auto* centring = new CentreWhenFramed(window);
        centring->setObjectName(name);
        window->installEventFilter(centring);
    }
}

void setColors(QWidget* control, const QColor& background, const QColor& text)
{
    QPalette palette = control->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Base, background);
        palette.setColor(group, QPalette::Window, background);
        palette.setColor(group, QPalette::Button, background);
    }
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Text, text);
        palette.setColor(group, QPalette::WindowText, text);
        palette.setColor(group, QPalette::ButtonText, text);
    }
    control->setPalette(palette);
    control->setAutoFillBackground(true);
}

QFont controlFont()
{
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPointSizeF(8.25);
    font.setStyleHint(QFont::SansSerif);
    // The windows were laid out for a slightly narrower face; close the letters up a little so
    // that every caption fits its control.
    font.setLetterSpacing(QFont::PercentageSpacing, 97);
    return font;
}

QFont countFont()
{
    QFont font = controlFont();
    font.setBold(true);
    return font;
}

QFont bannerFont()
{
    QFont font(QStringLiteral("Liberation Serif"));
    font.setPointSizeF(14.25);
    font.setStyleHint(QFont::Serif);
    font.setBold(true);
    return font;
}

QIcon kelvaraIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64})
        icon.addFile(QStringLiteral(":/icons/%1.png").arg(size), QSize(size, size));
    return icon;
}

QPixmap iconPixmap(int size)
{
    return QPixmap(QStringLiteral(":/icons/%1.png").arg(size));
}

void applyLook()
{
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QPalette palette = QApplication::style()->standardPalette();
    palette.setColor(QPalette::ToolTipBase, SystemColor::TooltipBackground);
    palette.setColor(QPalette::ToolTipText, Qt::black);
    QApplication::setPalette(palette);
    QApplication::setFont(controlFont());
}

} // namespace kelvara
