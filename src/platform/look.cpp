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

} // namespace

int twipsToPixels(double twips)
{
    return int(std::lround(twips * logicalDpi() / TwipsPerInch));
}

double pixelsToTwips(int pixels)
{
    return pixels * TwipsPerInch / logicalDpi();
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
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    const double screenHeight = pixelsToTwips(area.height());
    const double screenWidth = pixelsToTwips(area.width());
    const double top = (screenHeight - pixelsToTwips(window->height())) / 2;
    const double left = (screenWidth - pixelsToTwips(window->width())) / 2;
    window->move(area.left() + twipsToPixels(left), area.top() + twipsToPixels(top));
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
