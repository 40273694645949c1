// Every window: each caption fits its control at 96 DPI, the window has Kelvara's icon, and Enter
// presses a focused command button. Qt's own texts are Hungarian.

#include "about/frmabout.h"
#include "app/application.h"
#include "app/desktop.h"
#include "app/indit.h"
#include "main/cserel.h"
#include "platform/look.h"

#include <QAbstractButton>
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

    // The width a caption needs inside its control: the text, plus the indicator of a check box or an
    // option button, plus the margins of a command button.
    static int neededWidth(const QWidget* control, const QString& caption)
    {
        QString shown = caption;
        shown.remove(QLatin1Char('&'));
        int width = control->fontMetrics().horizontalAdvance(shown);
        const QStyle* style = control->style();
        if (qobject_cast<const QCheckBox*>(control))
            width += style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, control) +
                     style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, control);
        else if (qobject_cast<const QRadioButton*>(control))
            width += style->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, control) +
                     style->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, control);
        else if (qobject_cast<const QPushButton*>(control))
            width += 2 * style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, control);
        return width;
    }

    static void checkCaptions(const QWidget* window)
    {
        int checked = 0;
        for (const QWidget* control : window->findChildren<QWidget*>()) {
            QString caption;
            if (auto* label = qobject_cast<const QLabel*>(control))
                caption = label->text();
            else if (auto* button = qobject_cast<const QAbstractButton*>(control))
                caption = button->text();
            if (caption.isEmpty())
                continue;
            ++checked;
            // A paragraph wraps at its width and must fit the height.
            if (auto* label = qobject_cast<const QLabel*>(control); label && label->wordWrap()) {
                const QRect needed = control->fontMetrics().boundingRect(
                    control->rect(), int(label->alignment()) | Qt::TextWordWrap, caption);
                QVERIFY2(control->rect().contains(needed), qPrintable(control->objectName()));
                continue;
            }
            const int needed = neededWidth(control, caption);
            if (needed > control->width())
                QFAIL(qPrintable(QStringLiteral("%1 \"%2\" needs %3 px, has %4 px")
                                     .arg(control->objectName(), caption)
                                     .arg(needed)
                                     .arg(control->width())));
            QVERIFY2(control->fontMetrics().height() <= control->height(), qPrintable(control->objectName()));
        }
        QVERIFY(checked > 0);
        QVERIFY(!window->windowIcon().isNull());
    }

    // Window 0 is the start window, 1 the main window, 2 the About window.
    static QWidget* window(Application& app, int k)
    {
        if (k == 0)
            return app.startWindow();
        if (k == 1)
            return &app.mainWindow();
        app.quit();
        return app.aboutWindow();
    }

private slots:
    void initTestCase()
    {
        applyLook();
        joinDesktop();
        QCOMPARE(twipsToPixels(1440), 96);
    }

    void qtTextsAreHungarian()
    {
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Retry"), QStringLiteral("Újra"));
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Mégse"));
        QCOMPARE(QCoreApplication::translate("QLineEdit", "Select All"), QStringLiteral("Összes kijelölése"));
    }

    void enterPressesTheFocusedButton_data()
    {
        QTest::addColumn<int>("window");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        const char* names[] = {"start", "main", "about"};
        for (int k = 0; k < 3; ++k) {
            QTest::addRow("%s: Enter", names[k]) << k << int(Qt::Key_Return) << int(Qt::NoModifier);
            QTest::addRow("%s: keypad Enter", names[k]) << k << int(Qt::Key_Enter) << int(Qt::KeypadModifier);
            QTest::addRow("%s: Space", names[k]) << k << int(Qt::Key_Space) << int(Qt::NoModifier);
        }
    }

    void enterPressesTheFocusedButton()
    {
        QFETCH(int, window);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        Application app;
        // A button whose click opens no modal box: "Könyvtárnyitás", "Új könyvtár nyitása", "OK".
        const char* names[] = {"Command1", "Command8", "cmdOK"};
        auto* button = this->window(app, window)->findChild<QPushButton*>(QLatin1String(names[window]));
        QVERIFY(button);
        QSignalSpy clicked(button, &QPushButton::clicked);
        QTest::keyClick(button, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(clicked.count(), 1);
    }

    void startWindow()
    {
        Application app;
        checkCaptions(app.startWindow());
    }

    void mainWindow()
    {
        Application app;
        checkCaptions(&app.mainWindow());
    }

    void aboutWindow()
    {
        Application app;
        app.quit();
        checkCaptions(app.aboutWindow());
    }
};

QTEST_MAIN(CaptionTest)
#include "tst_captions.moc"
