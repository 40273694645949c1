#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QWidget>

namespace kelvara {

// The system colours the windows are painted with.
namespace SystemColor {
inline const QColor InactiveCaption{128, 128, 128};
inline const QColor WindowBackground{255, 255, 255};
inline const QColor TooltipBackground{255, 255, 225};
} // namespace SystemColor

// Colours the windows name directly.
namespace Colors {
inline const QColor PaleYellow{255, 255, 128};
inline const QColor LightBlue{128, 128, 255};
} // namespace Colors

// Twips (1440 per inch) to pixels at the screen's logical DPI.
int twipsToPixels(double twips);

// Places a child control at a rectangle given in twips within its window's client area.
void placeTwips(QWidget* control, int left, int top, int width, int height);
// Creates a control of a window, with its name, its place in twips and, in the second form, its caption.
template <class Control>
Control* addControl(QWidget* window, const char* name, int left, int top, int width, int height)
{
    auto* control = new Control(window);
    control->setObjectName(QLatin1String(name));
    placeTwips(control, left, top, width, height);
    return control;
}
template <class Control>
Control* addControl(QWidget* window, const char* name, const QString& text, int left, int top, int width,
                    int height)
{
    auto* control = addControl<Control>(window, name, left, top, width, height);
    control->setText(text);
    return control;
}

// Gives a window a fixed client area given in twips.
void sizeTwips(QWidget* window, int width, int height);
// Centres a window with its frame on its screen: top = (screen height − window height) / 2, then
// left likewise, the window's size taken with the frame the window manager gives it.
void centreOnScreen(QWidget* window);

// Paints a control's background and text in the given colours.
void setColors(QWidget* control, const QColor& background, const QColor& text);

// The fonts of the windows: the ordinary one of every control, and the named ones.
QFont controlFont();
QFont countFont();  // bold 8.25 pt sans serif, for the counters
QFont bannerFont(); // bold 14.25 pt serif, for the maker banner

// Kelvara's icon, the window icon of every window.
QIcon kelvaraIcon();
// The icon at `size` × `size` pixels, as drawn for that size.
QPixmap iconPixmap(int size);

// Sets the application-wide style, palette and font. Call once after the QApplication exists.
void applyLook();

} // namespace kelvara
