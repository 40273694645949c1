#include "frmabout.h"

#include "banner.h"
#include "sysinfo.h"
#include "widgets/look.h"

#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace kelvara {

namespace {

QFont boldFont(QFont font, double points)
{
    font.setPointSizeF(points);
    font.setBold(true);
    return font;
}

// A horizontal line from x1 to x2 at y (twips), `thickness` pixels thick downwards from y.
QFrame* addLine(QWidget* window, int x1, int x2, int y, int thickness, const QColor& color)
{
    auto* line = new QFrame(window);
    line->setObjectName(QStringLiteral("Line1"));
    const int left = twipsToPixels(x1);
    line->setGeometry(left, twipsToPixels(y), twipsToPixels(x2) - left + 1, thickness);
    setColors(line, color, color);
    return line;
}

} // namespace

frmAbout::frmAbout(QWidget* parent)
    : QDialog(parent),
      cmdOK(addControl<QPushButton>(this, "cmdOK", QStringLiteral("OK"), 4245, 2625, 1260, 345)),
      picIcon(addControl<QLabel>(this, "picIcon", 240, 240, 540, 540)),
      cmdSysInfo(addControl<QPushButton>(this, "cmdSysInfo", QStringLiteral("&Rendszer info"), 4260, 3075,
                                         1245, 345)),
      lblTitle(addControl<QLabel>(this, "lblTitle", QStringLiteral("Kelvara"), 1050, 360, 2670, 360)),
      lblVersion(addControl<QLabel>(this, "lblVersion", QStringLiteral(KELVARA_VERSION "  Változat"), 1045,
                                    968, 1463, 220)),
      Label1(addControl<QLabel>(this, "Label1", 4477, 242, 1221, 374)),
      lblDescription(addControl<QLabel>(this, "lblDescription", QStringLiteral("Szerzői jog © 2026 Morvelin"),
                                        240, 1920, 2475, 210)),
      Label2(addControl<QLabel>(this, "Label2", QStringLiteral("Minden jog fenntartva."), 2880, 1920, 1875,
                                210)),
      Line1{addLine(this, 90, 5652, 2443, 1, QColor(0x80, 0x80, 0x80)),
            addLine(this, 105, 5652, 2458, 2, Qt::white)},
      lblDisclaimer(
          addControl<QLabel>(this, "lblDisclaimer",
                             QStringLiteral("Figyelem! Ezt a programot nemzetközi jogszabályok védik. "
                                            "Egészének vagy bármely részének engedély nélküli másolását vagy "
                                            "továbbadását a törvény által lehetséges legsúlyosabb polgári és "
                                            "büntetőjogi következményekkel üldözik."),
                             240, 2520, 3870, 1065)),
      Timer1(new QTimer(this)), banner(new Banner(Label1, Timer1))
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("Névjegy"));
    // A fixed dialog frame: a title and a close box, no minimise or maximise, no resizing.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    sizeTwips(this, 5805, 3705);
    setWindowIcon(kelvaraIcon());

    picIcon->setPixmap(iconPixmap(32));
    picIcon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblTitle->setFont(boldFont(controlFont(), 13.5));
    QPalette titleColor = lblTitle->palette();
    titleColor.setColor(QPalette::WindowText, QColor(0x00, 0x80, 0x00));
    lblTitle->setPalette(titleColor);
    Label1->setFont(boldFont(bannerFont(), 9.75));
    Label1->setAlignment(Qt::AlignCenter);
    // Qt text is Unicode, so the notices need no character set of their own for ő and ű.
    lblDescription->setFont(boldFont(bannerFont(), 9));
    Label2->setFont(boldFont(bannerFont(), 9));
    lblDisclaimer->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    lblDisclaimer->setWordWrap(true);
    cmdOK->setDefault(true);
    setTabOrder(cmdOK, cmdSysInfo);
    cmdOK->setFocus();
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(150);

    connect(cmdOK, &QPushButton::clicked, this, &frmAbout::close);
    connect(cmdSysInfo, &QPushButton::clicked, this, &frmAbout::StartSysInfo);
}

void frmAbout::load()
{
    centreOnScreen(this);
    banner->load();
    Timer1->start();
}

void frmAbout::StartSysInfo()
{
    kelvara::StartSysInfo();
}

void frmAbout::closeEvent(QCloseEvent* event)
{
    event->accept();
    emit unloaded();
}

void frmAbout::reject()
{
    cmdOK->click();
}

} // namespace kelvara
