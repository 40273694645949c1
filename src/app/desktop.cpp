#include "desktop.h"

#include "widgets/look.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLibraryInfo>
#include <QLocale>
#include <QPushButton>
#include <QTranslator>

namespace kelvara {

namespace {

// Qt's command buttons take Space only; outside dialogs Enter goes to the window. Here Enter
// presses the focused button too, once per key press, as it does in Qt's dialogs.
class EnterPressesButton : public QObject
{
public:
    using QObject::QObject;

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        auto* button = qobject_cast<QPushButton*>(watched);
        const auto* key = static_cast<QKeyEvent*>(event);
        if (!button || (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter))
            return false;
        if (!key->isAutoRepeat() && button->isEnabled())
            button->click();
        return true;
    }
};

} // namespace

void joinDesktop()
{
    QGuiApplication::setDesktopFileName(QStringLiteral(KELVARA_APP_ID));
    // Windows without an icon of their own, Qt's dialogs among them, show Kelvara's.
    QApplication::setWindowIcon(kelvaraIcon());

    auto* qtTexts = new QTranslator(qApp);
    if (qtTexts->load(QLocale(QLocale::Hungarian, QLocale::Hungary), QStringLiteral("qtbase"),
                      QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qtTexts);
    else
        delete qtTexts; // without qt6-translations-l10n Qt's texts stay English

    qApp->installEventFilter(new EnterPressesButton(qApp));
}

} // namespace kelvara
