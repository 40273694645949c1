// Every window: each caption fits its control at 96 DPI, the window has Kelvara's icon, and Enter
// presses a focused command button. Qt's own texts are Hungarian.

#include "about/frmabout.h"
#include "app/application.h"
#include "app/desktop.h"
#include "app/indit.h"
#include "main/cserel.h"
#include "platform/look.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStyle>
#include <QTest>

using namespace kelvara;

class CaptionTest : public QObject
{
    Q_OBJECT

    // Window 0 is the start window, 1 the main window, 2 the About window.
    static QWidget* window(Application& app, int k)
    {
        if (k < 2)
            return k == 0 ? static_cast<QWidget*>(app.startWindow()) : &app.mainWindow();
        app.quit();
        return app.aboutWindow();
    }

private slots:
    void initTestCase()
    {
        applyLook();
        joinDesktop();
        QCOMPARE(twipsToPixels(1440), 96);
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Retry"), QStringLiteral("Újra"));
        QCOMPARE(QCoreApplication::translate("QLineEdit", "Select All"), QStringLiteral("Összes kijelölése"));
    }

    void windows_data()
    {
        QTest::addColumn<int>("window");
        QTest::addColumn<QString>("button"); // one whose click opens no modal box
        QTest::addColumn<int>("key");
        const char* buttons[] = {"Command1", "Command8", "cmdOK"};
        for (int k = 0; k < 3; ++k)
            for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space})
                QTest::addRow("%s, key %x", buttons[k], key)
                    << k << QString::fromLatin1(buttons[k]) << int(key);
    }
    void windows()
    {
        QFETCH(int, window);
        Application app;
        const QWidget* shown = this->window(app, window);
        QVERIFY(!shown->windowIcon().isNull());
        int checked = 0;
        for (const QWidget* control : shown->findChildren<QWidget*>()) {
            const auto* label = qobject_cast<const QLabel*>(control);
            const auto* button = qobject_cast<const QAbstractButton*>(control);
            QString caption = label ? label->text() : button ? button->text() : QString();
            if (caption.remove(QLatin1Char('&')).isEmpty())
                continue;
            ++checked;
            const QFontMetrics metrics = control->fontMetrics();
            if (label && label->wordWrap()) { // a paragraph wraps at its width and must fit the height
                const QRect needed = metrics.boundingRect(
                    control->rect(), int(label->alignment()) | Qt::TextWordWrap, caption);
                QVERIFY2(control->rect().contains(needed), qPrintable(control->objectName()));
                continue;
            }
            // The text, plus the indicator of a check box or an option button, or a button's margins.
            const QStyle* style = control->style();
            const auto metric = [&](QStyle::PixelMetric m) {
                return style->pixelMetric(m, nullptr, control);
            };
            int needed = metrics.horizontalAdvance(caption);
            if (qobject_cast<const QCheckBox*>(control))
                needed += metric(QStyle::PM_IndicatorWidth) + metric(QStyle::PM_CheckBoxLabelSpacing);
            else if (qobject_cast<const QRadioButton*>(control))
                needed +=
                    metric(QStyle::PM_ExclusiveIndicatorWidth) + metric(QStyle::PM_RadioButtonLabelSpacing);
            else if (button)
                needed += 2 * metric(QStyle::PM_ButtonMargin);
            QVERIFY2(needed <= control->width() && metrics.height() <= control->height(),
                     qPrintable(QStringLiteral("%1 \"%2\" needs %3 px, has %4 px")
                                    .arg(control->objectName(), caption)
                                    .arg(needed)
                                    .arg(control->width())));
        }
        QVERIFY(checked > 0);

        // Enter, keypad Enter and Space press a focused command button.
        QFETCH(QString, button);
        QFETCH(int, key);
        auto* pressed = shown->findChild<QPushButton*>(button);
        QSignalSpy clicked(pressed, &QPushButton::clicked);
        QTest::keyClick(pressed, Qt::Key(key), key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        QCOMPARE(clicked.count(), 1);
    }
};

QTEST_MAIN(CaptionTest)
#include "tst_captions.moc"
