// Every window: each caption fits its control at 96 DPI, the window has Kelvara's icon, Enter, keypad
// Enter and Space press a focused command button, and Qt's own texts are Hungarian.

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

private slots:
    void initTestCase()
    {
        applyLook();
        joinDesktop();
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Retry"), QStringLiteral("Újra"));
    }

    void windows_data()
    {
        QTest::addColumn<QString>("button"); // one whose click opens no modal box, in the window to check
        QTest::addColumn<int>("key");
        for (const char* button : {"Command1", "Command8", "cmdOK"})
            for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space})
                QTest::addRow("%s, key %x", button, key) << QString::fromLatin1(button) << int(key);
    }
    void windows()
    {
        QFETCH(QString, button);
        QFETCH(int, key);
        Application app;
        QWidget* shown = app.startWindow();
        if (button == QLatin1String("Command8"))
            shown = &app.mainWindow();
        if (button == QLatin1String("cmdOK")) {
            app.quit();
            shown = app.aboutWindow();
        }
        QVERIFY(!shown->windowIcon().isNull());
        int checked = 0;
        for (const QWidget* control : shown->findChildren<QWidget*>()) {
            const auto* label = qobject_cast<const QLabel*>(control);
            const auto* box = qobject_cast<const QAbstractButton*>(control);
            QString caption = label ? label->text() : box ? box->text() : QString();
            if (caption.remove(QLatin1Char('&')).isEmpty())
                continue;
            ++checked;
            const QFontMetrics metrics = control->fontMetrics();
            if (label && label->wordWrap()) { // a paragraph wraps at its width and must fit the height
                QVERIFY2(control->rect().contains(metrics.boundingRect(
                             control->rect(), int(label->alignment()) | Qt::TextWordWrap, caption)),
                         qPrintable(control->objectName()));
                continue;
            }
            // The text, plus the indicator of a check box or an option button, or a button's margins.
            const auto metric = [&](QStyle::PixelMetric m) {
                return control->style()->pixelMetric(m, nullptr, control);
            };
            int needed = metrics.horizontalAdvance(caption);
            if (qobject_cast<const QCheckBox*>(control))
                needed += metric(QStyle::PM_IndicatorWidth) + metric(QStyle::PM_CheckBoxLabelSpacing);
            else if (qobject_cast<const QRadioButton*>(control))
                needed +=
                    metric(QStyle::PM_ExclusiveIndicatorWidth) + metric(QStyle::PM_RadioButtonLabelSpacing);
            else if (box)
                needed += 2 * metric(QStyle::PM_ButtonMargin);
            QVERIFY2(needed <= control->width() && metrics.height() <= control->height(),
                     qPrintable(control->objectName() + QLatin1Char(' ') + caption));
        }
        QVERIFY(checked > 0);
        auto* pressed = shown->findChild<QPushButton*>(button);
        QSignalSpy clicked(pressed, &QPushButton::clicked);
        QTest::keyClick(pressed, Qt::Key(key), key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        QCOMPARE(clicked.count(), 1);
    }
};

QTEST_MAIN(CaptionTest)
#include "tst_captions.moc"
