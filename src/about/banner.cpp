#include "banner.h"

#include "random.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPalette>
#include <QTimer>

namespace kelvara {

constexpr qint16 PositionsPerCycle = 13;

const QString BannerState::RunningText = QStringLiteral("   Morvelin   ");
const QString BannerState::StandingText = QStringLiteral("   Morvelin ™   ");

void BannerState::load()
{
    bannerPos = 1;
    bannerRunning = true;
}

BannerFrame BannerState::step(RandomSource& random)
{
    if (!bannerRunning) {
        // Standing: the whole text in blue; the position waits for the next run.
        bannerText = StandingText;
        return {bannerText, Blue};
    }
    bannerText = RunningText;
    for (std::uint8_t& component : bannerColor)
        component = std::uint8_t(random.next() * 255.0); // 0..254
    // A part that widens by one character a step, cut short at the end of the text.
    BannerFrame frame{bannerText.mid(bannerPos - 1, bannerPos + 3), bannerColor};
    ++bannerPos;
    if (bannerPos == PositionsPerCycle + 1) {
        frame.caption.clear();
        bannerPos = 1;
    }
    return frame;
}

void BannerState::toggle()
{
    bannerRunning = !bannerRunning;
}

Banner::Banner(QLabel* label, QTimer* timer) : QObject(label), label_(label)
{
    label_->installEventFilter(this);
    connect(timer, &QTimer::timeout, this, &Banner::tick);
}

void Banner::tick()
{
    const BannerFrame frame = step(randomSource());
    QPalette palette = label_->palette();
    palette.setColor(QPalette::WindowText, QColor(frame.color[0], frame.color[1], frame.color[2]));
    label_->setPalette(palette);
    label_->setText(frame.caption);
}

void Banner::click()
{
    toggle();
    label_->setToolTip(QString());
}

bool Banner::eventFilter(QObject* watched, QEvent* event)
{
    // A click is a left button released over the label it was pressed on.
    if (watched == label_ && event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && label_->rect().contains(mouse->position().toPoint()))
            click();
    }
    return false;
}

} // namespace kelvara
