#pragma once

#include <QObject>
#include <QString>
#include <array>
#include <cstdint>

class QLabel;
class QTimer;

namespace kelvara {

class RandomSource;

// Red, green and blue, in this order.
using BannerColor = std::array<std::uint8_t, 3>;

// What one step puts on the label.
struct BannerFrame
{
    QString caption;
    BannerColor color;
};

// One banner's state and step rule, without widgets. Each window with a banner holds its own.
class BannerState
{
public:
    static const QString RunningText;  // "   Morvelin   "
    static const QString StandingText; // "   Morvelin ™   "
    static constexpr BannerColor Blue{0, 0, 255};

    // The window's load: start running from the first position.
    void load();
    // One timer tick.
    BannerFrame step(RandomSource& random);
    // A click: run or stand. Shows nothing until the next step.
    void toggle();

    qint16 bannerPos = 0; // 1-based start of the part the next running step shows, 1..13
    QString bannerText;
    bool bannerRunning = false;
    BannerColor bannerColor{};
};

// A banner on a label, stepped by its window's timer from the installed random source. The timer
// belongs to the window, so the banner stops when the window goes.
class Banner : public QObject, public BannerState
{
    Q_OBJECT

public:
    Banner(QLabel* label, QTimer* timer);

    void tick();
    // Also clears the label's tooltip: the hint has done its job after the first click.
    void click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* label_;
};

} // namespace kelvara
