// Every caption of every window fits its control at 96 DPI.

#include "about/frmabout.h"
#include "app/application.h"
#include "app/indit.h"
#include "main/cserel.h"
#include "platform/look.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
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
    }

private slots:
    void initTestCase()
    {
        applyLook();
        QCOMPARE(twipsToPixels(1440), 96);
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
