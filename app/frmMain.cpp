// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "app/frmMain.h"

#include "app/frmFind.h"
#include "wizard/recent.h"
#include "wizard/wizardmodel.h"
#include "controller/commlink.h"
#include "controls/announce.h"
#include "controls/uctIPAddressCtrl.h"
#include "localeui/localizeform.h"
#include "locale/modLocale.h"
#include "localeui/lmsgbox.h"
#include "settings/clsProfile.h"
#include "settings/inifile.h"
#include "settings/modFile.h"
#include "settings/serialports.h"

#include <QCloseEvent>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSvgRenderer>
#include <QTabBar>
#include <QTabWidget>

#include <algorithm>
#include <cmath>

namespace {

// Design positions are in twips, 15 twips to a pixel; each value rounds on its own.
int px(double twips) { return int(std::lround(twips / 15.0)); }
QRect tw(int left, int top, int width, int height)
{
    return QRect(px(left), px(top), px(width), px(height));
}

QPixmap RenderSvg(const QString& resource, QSize size, qreal dpr)
{
    QSvgRenderer renderer(resource);
    QImage image(size * dpr, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter);
    painter.end();
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setDevicePixelRatio(dpr);
    return pixmap;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& tagged, QRect geometry)
{
    auto* label = new QLabel(tagged, parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(geometry);
    // Captions are designed a few pixels below the list or address field beside them
    // and draw their text from the top of their box, so that the two texts line up.
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

// Each page's "Description : " caption on the right and the explanation label under it
// (several lines, word-wrapped, from the top), whose text the flow sets.
QLabel* MakeDescription(QWidget* page, const char* captionName, const char* tagged, int captionWidth,
                        const char* name, int captionTop = 360)
{
    MakeLabel(page, captionName, QString::fromUtf8(tagged), tw(4560, captionTop, captionWidth, 255));
    QLabel* label = MakeLabel(page, name, QString(), tw(4560, 600, 2715, 2895));
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

// A caption and the list beside it, both placed in twips; the list made is stored in
// *list. Lists are not editable: an item is chosen, nothing typed.
struct ListRow {
    const char* label;
    const char* tagged;
    QRect labelAt;
    const char* name;
    QRect listAt;
    QComboBox** list;
};

void MakeListRows(QWidget* page, std::initializer_list<ListRow> rows)
{
    for (const ListRow& row : rows) {
        QLabel* caption = MakeLabel(page, row.label, QString::fromUtf8(row.tagged),
                                    tw(row.labelAt.x(), row.labelAt.y(), row.labelAt.width(), row.labelAt.height()));
        auto* combo = new QComboBox(page);
        combo->setObjectName(QLatin1String(row.name));
        combo->setGeometry(tw(row.listAt.x(), row.listAt.y(), row.listAt.width(), row.listAt.height()));
        caption->setBuddy(combo);  // a screen reader names the list by its caption
        *row.list = combo;
    }
}

QRadioButton* MakeOption(QWidget* parent, const char* name, const QString& tagged, QRect geometry)
{
    auto* option = new QRadioButton(tagged, parent);
    option->setObjectName(QLatin1String(name));
    option->setGeometry(geometry);
    return option;
}

uctIPAddressCtrl* MakeIP(QWidget* parent, QLabel* caption, const char* name, QRect geometry)
{
    auto* ip = new uctIPAddressCtrl(parent);
    caption->setBuddy(ip);  // the control and its fields are named by the caption
    ip->setObjectName(QLatin1String(name));
    ip->setGeometry(geometry);  // the control keeps its own fixed size
    ip->ReadDesignProperties();  // the designed 9 point font; LocalizeForm renames it
    return ip;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& tagged, QRect geometry)
{
    auto* button = new QPushButton(tagged, parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(geometry);
    // No default or cancel button: Enter and Escape press nothing.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

QGroupBox* MakePage(QTabWidget* tabs, const char* frameName, const QString& frameTag,
                    const QString& tabTag, int frameHeight)
{
    auto* page = new QWidget;
    page->setObjectName(QLatin1String(frameName) + QLatin1String("Page"));
    tabs->addTab(page, tabTag);
    auto* frame = new QGroupBox(frameTag, page);
    frame->setObjectName(QLatin1String(frameName));
    frame->setGeometry(tw(120, 480, 7455, frameHeight));
    return frame;
}

IPv4 ReadIP(const uctIPAddressCtrl* control)
{
    IPv4 ip{};
    control->GetIPAddress(ip[0], ip[1], ip[2], ip[3]);
    return ip;
}

void WriteIP(uctIPAddressCtrl* control, const IPv4& ip)
{
    control->SetIPAddress(ip[0], ip[1], ip[2], ip[3]);
}

// Item data of the selected item; nullopt when the list has nothing selected.
std::optional<int> SelectedData(const QComboBox* list)
{
    if (list->currentIndex() < 0)
        return std::nullopt;
    return list->currentData().toInt();
}

// The arrow with an hourglass for as long as a controller call runs: the window is
// busy, and its Cancel can still be pressed.
struct BusyPointer {
    BusyPointer() { ChangeMousePointer(13); }
    ~BusyPointer() { UnChangeMousePointer(); }
    BusyPointer(const BusyPointer&) = delete;
    BusyPointer& operator=(const BusyPointer&) = delete;
};

bool IsUserInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress: case QEvent::MouseButtonRelease: case QEvent::MouseButtonDblClick:
    case QEvent::Wheel: case QEvent::KeyPress: case QEvent::KeyRelease: case QEvent::ShortcutOverride:
    case QEvent::Shortcut: case QEvent::ContextMenu: case QEvent::TouchBegin: case QEvent::TouchUpdate:
    case QEvent::TouchEnd: case QEvent::TabletPress: case QEvent::TabletRelease:
        return true;
    default:
        return false;
    }
}

}  // namespace

// While a press is under way the controller calls let every event through, so that
// Cancel can be pressed; this drops the user's input to the rest of the window. Other
// windows (the press's message boxes) are not touched, and nothing changes colour.
class frmMain::InputGate : public QObject {
public:
    InputGate(QWidget* window, QWidget* open) : m_window(window), m_open(open) {}
    bool eventFilter(QObject* target, QEvent* event) override
    {
        auto* widget = qobject_cast<QWidget*>(target);
        return widget && IsUserInput(event->type()) && widget->window() == m_window && widget != m_open
               && !m_open->isAncestorOf(widget);
    }
private:
    QWidget* m_window;
    QWidget* m_open;
};

frmMain::frmMain(QWidget* parent)
    : QWidget(parent)
{
    BuildWindow();
    Form_Load();
}

frmMain::~frmMain()
{
    Form_Unload();
}

QString frmMain::ExeName()
{
    return AppExeName();
}

void frmMain::BuildWindow()
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("RC Tolvane"));  // fixed, not localized
    setWindowIcon(QIcon(QStringLiteral(":/tolvane/images/icon.svg")));
    QFont windowFont = font();
    windowFont.setPointSize(9);
    setFont(windowFont);
    // Designed client area 7665 x 5460 twips; the layout rule sets the height.
    resize(px(7665), px(5460));
    setFixedWidth(px(7665));

    // Page container first, so the header band and the button band lie above it.
    tabWizard = new QTabWidget(this);
    tabWizard->setObjectName(QStringLiteral("tabWizard"));
    tabWizard->setGeometry(tw(0, 750, 7695, 4560));
    tabWizard->setDocumentMode(true);
    tabWizard->tabBar()->hide();  // pages change only through ShowStep
    tabWizard->setFocusPolicy(Qt::NoFocus);
    tabWizard->tabBar()->setFocusPolicy(Qt::NoFocus);

    BuildHeader();
    BuildConnectionPage();
    BuildPermissionPage();
    BuildEthernetPage();
    BuildSerialPage();
    BuildTokenPage();
    BuildButtons();
    ConnectControls();
    // Stacking: the header band lies over the container's top, the button band over its
    // bottom.
    picHeader->raise();
    frmNavi->raise();
}

void frmMain::BuildHeader()
{
    picHeader = new QLabel(this);
    picHeader->setObjectName(QStringLiteral("picHeader"));
    picHeader->setGeometry(tw(-30, 0, 7725, 735));
    picHeader->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblTitle = MakeLabel(picHeader, "lblTitle", QString(), tw(180, 150, 4035, 255));
    Image1 = new QLabel(picHeader);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(tw(6870, 30, 645, 615));
    Image1->setAlignment(Qt::AlignCenter);
}

void frmMain::BuildConnectionPage()
{
    frmStep1 = MakePage(tabWizard, "frmStep1", QStringLiteral("Step 1: #1021"),
                        QStringLiteral("Select a communication device#1003"), 3675);
    optDevice[0] = MakeOption(frmStep1, "optDevice_0", QStringLiteral("Ethernet#1022"),
                              tw(240, 360, 3975, 255));
    uctIPAddress1 = MakeIP(frmStep1,
                           MakeLabel(frmStep1, "lblIPAddress", QStringLiteral("IP Address#1025"), tw(495, 765, 1380, 255)),
                           "uctIPAddress1", tw(1860, 720, 2415, 375));
    optDevice[1] = MakeOption(frmStep1, "optDevice_1", QStringLiteral("RS232C#1023"),
                              tw(240, 1320, 3975, 255));
    MakeListRows(frmStep1, {
        {"lblPort_0", "Port#1026", {480, 1755, 1395, 255}, "cmbPort1", {1920, 1680, 2415, 300}, &cmbPort1},
        {"lblBaudRate", "Baud Rate#1027", {480, 2100, 1395, 255}, "cmbBaudRate1", {1920, 2040, 2415, 300},
         &line1.cmbBaudRate},
        {"lblParity", "Parity#1028", {480, 2460, 1395, 255}, "cmbParity1", {1920, 2400, 2415, 300},
         &line1.cmbParity},
        {"lblDataLength", "Data Length#1029", {480, 2835, 1395, 255}, "cmbDataLength1",
         {1920, 2760, 2415, 300}, &line1.cmbDataLength},
        {"lblStopbit", "Stop Bit#1030", {480, 3195, 1395, 255}, "cmbStopbit1", {1920, 3120, 2415, 300},
         &line1.cmbStopbit},
    });
    lblExplanation1 = MakeDescription(frmStep1, "lblExplain", "Description : #1024", 2715, "lblExplanation1");
}

void frmMain::BuildPermissionPage()
{
    frmStep2 = MakePage(tabWizard, "frmStep2", QStringLiteral("Step 2: #1018"),
                        QStringLiteral("Communication Permission#1004"), 3735);
    MakeListRows(frmStep2, {
        {"lblEtherNet", "Device#1020", {240, 645, 1635, 255}, "cmbDevice", {1920, 600, 2400, 300}, &cmbDevice},
    });
    lblExplanation2 = MakeDescription(frmStep2, "lblExplain2", "Description : #1019", 2715, "lblExplanation2");
}

void frmMain::BuildEthernetPage()
{
    frmEtherNet = MakePage(tabWizard, "frmEtherNet", QStringLiteral("Step 3: #1014"),
                           QStringLiteral("Ethernet Settings#1005"), 3735);
    uctIPAddress3 = MakeIP(frmEtherNet,
                           MakeLabel(frmEtherNet, "lblAddress", QStringLiteral("IP Address#1017"), tw(300, 675, 1395, 255)),
                           "uctIPAddress3", tw(1800, 600, 2400, 315));
    uctSubnetMask = MakeIP(frmEtherNet,
                           MakeLabel(frmEtherNet, "lblSubNet", QStringLiteral("Subnet Mask#1016"), tw(300, 1155, 1335, 255)),
                           "uctSubnetMask", tw(1800, 1080, 2400, 315));
    lblExplanation3 = MakeDescription(frmEtherNet, "lblExplain3", "Description : #1015", 2595, "lblExplanation3");
}

void frmMain::BuildSerialPage()
{
    frmSirial = MakePage(tabWizard, "frmSirial", QStringLiteral("Step 3: #1007"),
                         QStringLiteral("RS232C Settings#1006"), 3735);
    MakeListRows(frmSirial, {
        {"Label2", "Baud Rate#1013", {360, 660, 1515, 255}, "cmbBaudRate4", {1920, 600, 2415, 300},
         &line4.cmbBaudRate},
        {"Label3", "Parity#1012", {360, 1020, 1515, 255}, "cmbParity4", {1920, 960, 2415, 300},
         &line4.cmbParity},
        {"Label4", "Data Length#1011", {360, 1395, 1515, 255}, "cmbDataLength4", {1920, 1320, 2415, 300},
         &line4.cmbDataLength},
        {"Label5", "Stop Bit#1010", {360, 1755, 1515, 255}, "cmbStopbit4", {1920, 1680, 2415, 300},
         &line4.cmbStopbit},
        {"lblDelimiter", "Delimiter#1009", {360, 2100, 1515, 255}, "cmbDelimiter4", {1920, 2040, 2415, 300},
         &cmbDelimiter4},
    });
    lblExplanation4 = MakeDescription(frmSirial, "lblExplain4", "Description : #1008", 2715, "lblExplanation4");
}

void frmMain::BuildTokenPage()
{
    frmToken = MakePage(tabWizard, "frmToken", QStringLiteral("Step 4: #1035"),
                        QStringLiteral("Executable Token Settings#1036"), 3735);
    optToken[0] = MakeOption(frmToken, "optToken_0", QStringLiteral("Open#1039"), tw(300, 570, 3975, 255));
    optToken[1] = MakeOption(frmToken, "optToken_1", QStringLiteral("I/O Port#1040"), tw(300, 870, 3975, 255));
    optToken[2] = MakeOption(frmToken, "optToken_2", QStringLiteral("Ethernet#1041"), tw(300, 1200, 3975, 255));
    uctIP = MakeIP(frmToken,
                   MakeLabel(frmToken, "Label1", QStringLiteral("IP Address#1038"), tw(480, 1515, 1380, 255)),
                   "uctIP", tw(1950, 1470, 2415, 375));
    optToken[3] = MakeOption(frmToken, "optToken_3", QStringLiteral("COM2#1042"), tw(300, 1890, 3975, 255));
    optToken[4] = MakeOption(frmToken, "optToken_4", QStringLiteral("COM3#1043"), tw(300, 2175, 3975, 255));
    optToken[5] = MakeOption(frmToken, "optToken_5", QStringLiteral("COM4#1044"), tw(300, 2460, 3975, 255));
    // The token page's caption sits a little higher than on the other pages.
    lblExplanation5 = MakeDescription(frmToken, "Label6", "Description : #1037", 2715, "lblExplanation5", 330);
}

// The button band, a frame without border, and the keyboard order: within each page as
// designed, then Next, Back, Cancel.
void frmMain::BuildButtons()
{
    frmNavi = new QFrame(this);
    frmNavi->setObjectName(QStringLiteral("frmNavi"));
    frmNavi->setFrameShape(QFrame::NoFrame);
    frmNavi->setGeometry(tw(0, 5010, 7695, 435));
    cmdBack = MakeButton(frmNavi, "cmdBack", QStringLiteral("&Back#1000"), tw(3450, 0, 1320, 375));
    cmdNext = MakeButton(frmNavi, "cmdNext", QStringLiteral("&Next#1001"), tw(4769, 0, 1320, 375));
    cmdCancel = MakeButton(frmNavi, "cmdCancel", QStringLiteral("&Cancel#1002"), tw(6217, 0, 1320, 375));
    // Where QWizard puts its own buttons: at the band's left, under the pages' left edge.
    cmdFind = MakeButton(frmNavi, "cmdFind", QStringLiteral("&Find…#9022"), tw(120, 0, 1320, 375));
    cmdFind->setToolTip(QStringLiteral("#9023"));
    lblTransfer = new QLabel(frmNavi);
    lblTransfer->setObjectName(QStringLiteral("lblTransfer"));
    lblTransfer->setGeometry(tw(150, 0, 3200, 240));
    QFont small = lblTransfer->font();
    small.setPointSize(8);
    lblTransfer->setFont(small);
    prgTransfer = new QProgressBar(frmNavi);
    prgTransfer->setObjectName(QStringLiteral("prgTransfer"));
    prgTransfer->setGeometry(tw(150, 255, 3200, 90));
    prgTransfer->setTextVisible(false);
    for (QWidget* w : {static_cast<QWidget*>(lblTransfer), static_cast<QWidget*>(prgTransfer)}) {
        // Disabled or not, they keep the enabled colours so that they stay readable.
        QPalette palette = w->palette();
        for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::Highlight, QPalette::Base})
            palette.setColor(QPalette::Disabled, role, palette.color(QPalette::Active, role));
        w->setPalette(palette);
        w->setAttribute(Qt::WA_TransparentForMouseEvents);
        w->setFocusPolicy(Qt::NoFocus);
        w->hide();
    }
    m_tabOrder = {
        optDevice[0], optDevice[1], uctIPAddress1, cmbPort1, line1.cmbBaudRate, line1.cmbParity,
        line1.cmbDataLength, line1.cmbStopbit,
        cmbDevice,
        uctIPAddress3, uctSubnetMask,
        line4.cmbBaudRate, line4.cmbParity, line4.cmbDataLength, line4.cmbStopbit, cmbDelimiter4,
        optToken[0], optToken[1], optToken[2], uctIP, optToken[3], optToken[4], optToken[5],
        cmdNext, cmdBack, cmdCancel, cmdFind};
    for (qsizetype i = 1; i < m_tabOrder.size(); ++i)
        setTabOrder(m_tabOrder[i - 1], m_tabOrder[i]);
}

void frmMain::ShowTransfer(const TransferProgress& p)
{
    const std::optional<QString> text = m_transfer.take(p);
    ShowProgressLine(text);
    if (text) {
        // The bar counts in bytes up to 64 MiB, the largest record.
        prgTransfer->setRange(0, int(p.total));
        prgTransfer->setValue(int(p.done));
    }
}

void frmMain::ShowProgressLine(const std::optional<QString>& text)
{
    // The bar shows a record's move; while the controller keeps the line waiting, the
    // band's whole height is the wait's.
    const bool bar = text && m_transfer.moving() && !m_transfer.waiting();
    lblTransfer->setVisible(text.has_value());
    prgTransfer->setVisible(bar);
    ShowFindButton();
    if (!text)
        return;
    // A move's line over the bar. The wait's line whole on one line or two; where two
    // are too few, with its shorter fixed part; never without its seconds.
    const QFontMetrics metrics = lblTransfer->fontMetrics();
    const int width = px(3200);
    const auto fits = [&](const QString& t, int height) {
        return metrics.boundingRect(QRect(0, 0, width, 4 * height), Qt::TextWordWrap, t).height() <= height;
    };
    QString shown = metrics.elidedText(*text, Qt::ElideRight, width);
    bool wrap = false;
    if (m_transfer.waiting()) {
        const QString brief = m_transfer.shortLine().value_or(*text);
        const int band = frmNavi->height();
        shown = fits(*text, band) ? *text : fits(brief, band) ? brief : metrics.elidedText(brief, Qt::ElideLeft, width);
        wrap = metrics.horizontalAdvance(shown) > width;
    }
    lblTransfer->setWordWrap(wrap);
    lblTransfer->resize(width, wrap || m_transfer.waiting() ? frmNavi->height() : px(240));
    lblTransfer->setAlignment(Qt::AlignLeft | (m_transfer.waiting() ? Qt::AlignVCenter : Qt::AlignTop));
    lblTransfer->setText(shown);
    lblTransfer->setAccessibleName(*text);
}

void frmMain::ConnectControls()
{
    for (int i = 0; i < int(optDevice.size()); ++i)
        connect(optDevice[i], &QRadioButton::toggled, this, [this, i](bool on) {
            if (on)
                optDevice_Click(i);
        });
    for (int i = 0; i < int(optToken.size()); ++i)
        connect(optToken[i], &QRadioButton::toggled, this, [this, i](bool on) {
            if (on)
                optToken_Click(i);
        });
    connect(cmdNext, &QPushButton::clicked, this, &frmMain::cmdNext_Click);
    connect(cmdBack, &QPushButton::clicked, this, &frmMain::cmdBack_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmMain::cmdCancel_Click);
    connect(cmdFind, &QPushButton::clicked, this, &frmMain::cmdFind_Click);
}

void frmMain::Form_Load()
{
    // Settings folder and file, and the language they choose.
    const QString folder = SettingsFolder();
    if (!FolderExists(folder))
        CreateFolderPath(folder);  // the result does not matter: reading then gives "0"
    clsProfile profile;
    profile.SetFileName(folder + ExeName() + QStringLiteral(".ini"));
    InitLocale(LeadingLangId(profile.GetString(QStringLiteral("LangID"), QStringLiteral("ID"),
                                               QStringLiteral("0"))));
    // Texts and fonts of the language; the title keeps its bold 12 point.
    LocalizeForm(this);
    QFont titleFont = lblTitle->font();
    titleFont.setBold(true);
    titleFont.setPointSize(12);
    lblTitle->setFont(titleFont);
    cmdFind->setAccessibleName(LStr(9024));
    FitCaptions();
    // Engine object and workspace. Without them the window still opens and Next
    // reports the failed connection.
    try {
        m_link = std::make_unique<CommLink>(*this);
        m_link->setProgressHook([this](const TransferProgress& p) { ShowTransfer(p); });
        m_link->setWaitHook([this](const WaitProgress& w) { ShowProgressLine(m_transfer.take(w)); });
    } catch (...) {
        m_link.reset();
    }
    // Every page in its start state, the connection page first.
    m_step = 0;
    ShowPage(0);
    WriteIP(uctIPAddress1, wizard::kStartAddress);
    optDevice[1]->setChecked(false);
    optDevice[0]->setChecked(true);
    ProbeSerialPorts();
    FillLineLists(line1, false);
    lblTitle->setText(LStr(1034));
    FillCombo(cmbDevice, wizard::Devices(), true);
    FillLineLists(line4, true);
    FillCombo(cmbDelimiter4, wizard::Delimiters(), false);
    SetTokenOption(wizard::kStartTokenElement);
    WriteIP(uctIP, wizard::kStartAddress);
    cmdBack->hide();
    m_changed = false;
    Form_Resize();
}

// Captions are designed for one font; another language or another font may need more
// room. A caption longer than its box may grow to the right up to the next control on
// its row, less the design's gap of 45 twips between a caption and its control, and the
// title up to the icon, so that no text is cut off. Where that is still too little, the
// caption's column (the captions of its page with the same left edge) moves left
// together, as far as the page's leftmost control, so that the captions stay in line.
void frmMain::FitCaptions()
{
    lblTitle->setGeometry(lblTitle->x(), lblTitle->y(), Image1->x() - lblTitle->x() - 6,
                          qMax(lblTitle->height(), lblTitle->sizeHint().height()));
    const int gap = px(45);
    const auto siblings = [](QWidget* w) {
        return w->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    };
    const auto sameRow = [](QWidget* a, QWidget* b) {
        return a->y() < b->y() + b->height() && b->y() < a->y() + a->height();
    };
    for (QLabel* label : findChildren<QLabel*>()) {
        if (label->wordWrap() || label == lblTitle || label->parentWidget() == picHeader || label == picHeader)
            continue;
        const int need = label->sizeHint().width();
        if (need <= label->width())
            continue;
        // The room up to the next control on the row, and left of the caption's column.
        int right = label->parentWidget()->width();
        int left = label->x();
        QList<QWidget*> column;
        for (QWidget* sibling : siblings(label)) {
            if (sibling != label && sameRow(sibling, label) && sibling->x() > label->x())
                right = qMin(right, sibling->x() - gap);
            if (sibling != label && sibling->x() < label->x())
                left = qMin(left, sibling->x());
            if (qobject_cast<QLabel*>(sibling) && sibling->x() == label->x())
                column << sibling;
        }
        const int shift = qBound(0, need - (right - label->x()), label->x() - left);
        for (QWidget* caption : std::as_const(column))
            caption->move(caption->x() - shift, caption->y());
        label->resize(qMax(label->width(), qMin(need, right - label->x())), label->height());
    }
}

void frmMain::ProbeSerialPorts()
{
    // Only names that resolve to an existing device or link are opened, so this is quick.
    for (int n = 1; n <= 256; ++n) {
        if (ProbeComPort(n))
            cmbPort1->addItem(QStringLiteral("COM%1").arg(n), QVariant(qint32(n)));
    }
    if (cmbPort1->count() > 0)
        cmbPort1->setCurrentIndex(0);
}

void frmMain::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    // Each step's errors are ignored; nothing is saved.
    if (m_link) {
        try {
            m_link->DisconnectController();
        } catch (...) {
        }
    }
    try {
        m_link.reset();  // releases the workspace, then the engine object
    } catch (...) {
    }
}

void frmMain::closeEvent(QCloseEvent* event)
{
    if (m_busy) {
        // A press is under way: it ends as Cancel ends it, then the window closes.
        CancelPress();
        event->ignore();
        return;
    }
    Form_Unload();
    event->accept();
}

void frmMain::FillCombo(QComboBox* list, const QStringList& texts, const QList<qint32>& itemData,
                        qint16 position, bool enabled)
{
    if (!list)
        return;
    for (qsizetype i = 0; i < texts.size(); ++i)
        list->addItem(texts[i], QVariant(qint32(itemData.value(i))));
    list->setCurrentIndex(position);
    list->setEnabled(enabled);
}

void frmMain::FillCombo(QComboBox* list, const wizard::ListItems& items, bool enabled)
{
    FillCombo(list, items.texts, items.data, qint16(items.start), enabled);
}

void frmMain::FillLineLists(const LineLists& lists, bool baudEnabled)
{
    FillCombo(lists.cmbBaudRate, wizard::BaudRates(), baudEnabled);
    FillCombo(lists.cmbParity, wizard::Parities(), false);
    FillCombo(lists.cmbDataLength, wizard::DataLengths(), false);
    FillCombo(lists.cmbStopbit, wizard::StopBits(), false);
}

bool frmMain::SelectComboItem(QComboBox* list, qint32 value)
{
    if (!list)
        return false;
    for (int i = 0; i < list->count(); ++i) {
        const QVariant data = list->itemData(i);
        if (data.isValid() && data.toInt() == value) {
            list->setCurrentIndex(i);
            return true;
        }
    }
    return false;
}

void frmMain::optDevice_Click(int index)
{
    if (index != 0 && index != 1)
        return;
    const bool ethernet = index == 0;
    uctIPAddress1->setEnabled(ethernet);
    cmbPort1->setEnabled(!ethernet);
    line1.cmbBaudRate->setEnabled(!ethernet);
    line1.cmbParity->setEnabled(false);
    line1.cmbDataLength->setEnabled(false);
    line1.cmbStopbit->setEnabled(false);
    lblExplanation1->setText(LStr(ethernet ? 102 : 103));
}

void frmMain::optToken_Click(int index)
{
    if (index < 0 || index > 5)
        return;
    uctIP->setEnabled(index == 2);  // the address is kept, only disabled
}

// Clears every token option, then selects one (which runs optToken_Click). With no
// element (-1) nothing is selected and the address is disabled.
void frmMain::SetTokenOption(int element)
{
    for (QRadioButton* option : optToken)
        option->setAutoExclusive(false);
    for (QRadioButton* option : optToken)
        option->setChecked(false);
    for (QRadioButton* option : optToken)
        option->setAutoExclusive(true);
    if (element >= 0 && element < int(optToken.size()))
        optToken[element]->setChecked(true);
    else
        uctIP->setEnabled(false);
}

int frmMain::SelectedToken() const
{
    for (int i = 0; i < int(optToken.size()); ++i)
        if (optToken[i]->isChecked())
            return i;
    return -1;
}

void frmMain::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
}

void frmMain::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    Form_Resize();
    if (Image1->pixmap().isNull() || picHeader->pixmap().isNull()) {
        const qreal dpr = devicePixelRatioF();
        picHeader->setPixmap(RenderSvg(QStringLiteral(":/tolvane/images/header.svg"), QSize(540, 60), dpr));
        Image1->setPixmap(RenderSvg(QStringLiteral(":/tolvane/images/icon.svg"), QSize(40, 40), dpr));
    }
}

void frmMain::Form_Resize()
{
    if (m_inResize)
        return;
    m_inResize = true;
    const int H = picHeader->height() * 15;
    const int T = kTabStripTwips;
    const int C = tabWizard->height() * 15;
    const int B = frmNavi->height() * 15;
    tabWizard->move(0, px(H - T - 100));
    const int n = H + C - T;
    frmNavi->move(0, px(n - T - 50));
    // n + B + 150 is the height with caption and borders; the client area is that less
    // the frame the rule counts on, so the buttons keep their place under the pages.
    const int clientHeight = px(n + B + 150) - kFrameExtraPx;
    if (height() != clientHeight || minimumHeight() != clientHeight || maximumHeight() != clientHeight)
        setFixedHeight(clientHeight);
    m_inResize = false;
}

// Brings a page forward and switches the other page tabs off. The tabs are hidden, but
// the page container still answers Ctrl+Tab by moving to the next enabled tab: with only
// the current one enabled, pages change through Next and Back alone, from the start on.
void frmMain::ShowPage(int page)
{
    tabWizard->setCurrentIndex(page);
    for (int i = 0; i < tabWizard->count(); ++i)
        tabWizard->setTabEnabled(i, i == page);
}

void frmMain::ShowStep()
{
    if (m_step < 0 || m_step > 4)
        return;
    ShowPage(m_step);
    struct StepText {
        int title;
        QLabel* explanation;
        int text;
    };
    const StepText steps[5] = {
        {1034, nullptr, 0},
        {1033, lblExplanation2, 104},
        {1032, lblExplanation3, 105},
        {1031, lblExplanation4, 106},
        {1036, lblExplanation5, 109},
    };
    const StepText& s = steps[m_step];
    lblTitle->setText(LStr(s.title));
    // A screen reader hears of the new page, whatever control the focus lands on.
    AnnounceText(lblTitle, lblTitle->text());
    if (s.explanation)
        s.explanation->setText(LStr(s.text));
    cmdNext->setText(LStr(m_step == 4 ? 100 : 101));
    cmdNext->show();
    cmdBack->setVisible(m_step != 0);
    ShowFindButton();
}

void frmMain::ShowFindButton()
{
    cmdFind->setVisible(m_step == wizard::kConnection && lblTransfer->isHidden());
}

void frmMain::cmdFind_Click()
{
    if (m_busy || m_step != wizard::kConnection || m_find)
        return;
    QList<int> ports;
    for (int i = 0; i < cmbPort1->count(); ++i)
        ports << cmbPort1->itemData(i).toInt();
    m_find = new frmFind(ReadIP(uctIPAddress1), ports, this);
    m_find->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_find, &QDialog::finished, this, [this](int result) {
        if (result == QDialog::Accepted && m_find && m_find->chosen())
            ShowConnection(*m_find->chosen());
        m_find = nullptr;  // it goes on the next turn of the event loop; Find may open a new one now
    });
    m_find->open();
}

void frmMain::ShowConnection(const ConnText& t)
{
    if (!t.serial) {
        optDevice[0]->setChecked(true);
        WriteIP(uctIPAddress1, t.address);
    } else {
        optDevice[1]->setChecked(true);
        SelectComboItem(cmbPort1, t.port);
        SelectComboItem(line1.cmbBaudRate, t.baud);
        const auto parity = std::find(vocab::kParityLetters.begin(), vocab::kParityLetters.end(), t.parity);
        if (parity != vocab::kParityLetters.end())
            line1.cmbParity->setCurrentIndex(int(parity - vocab::kParityLetters.begin()));
        SelectComboItem(line1.cmbDataLength, t.dataBits);
        const int stop = line1.cmbStopbit->findText(t.stopBits);
        if (stop >= 0)
            line1.cmbStopbit->setCurrentIndex(stop);
    }
    cmdNext->setFocus(Qt::OtherFocusReason);
}

void frmMain::RememberConnection()
{
    const QString conn = m_link->connectionText();
    if (conn.isEmpty())
        return;
    // A history that cannot be written is no reason to stop the engineer.
    wizard::RecentConnections().add(
        {conn, m_link->controllerId(), m_link->controllerModel(), QDateTime::currentDateTimeUtc()});
}

void frmMain::SetBusy(bool busy)
{
    m_busy = busy;
    if (busy) {
        // The keyboard focus waits on the window itself: left on Next, which is disabled
        // now, it would move on to Cancel, and a second press of Space would cancel.
        setFocus(Qt::OtherFocusReason);
        m_gate = std::make_unique<InputGate>(this, cmdCancel);
        qApp->installEventFilter(m_gate.get());
    } else {
        m_gate.reset();
    }
    cmdNext->setEnabled(!busy);
    cmdBack->setEnabled(!busy);
}

void frmMain::CancelPress()
{
    m_closePending = true;
    if (m_link)
        m_link->Cancel();
}

void frmMain::cmdNext_Click()
{
    if (m_busy)
        return;  // never two presses at once
    QPointer<QWidget> focus = QApplication::focusWidget();
    SetBusy(true);
    NextPress();
    // Clicks that arrived while the controller was busy were held back; let them reach
    // the still disabled buttons now, where they do nothing.
    QCoreApplication::processEvents();
    SetBusy(false);
    if (m_closePending)
        close();
    else
        FocusPage(focus);
}

bool frmMain::FailConnect(const QVariant& textId)
{
    LMsgBox(textId, MsgBox::OK | MsgBox::Critical, ExeName());
    if (m_link) {
        BusyPointer busy;
        try {
            m_link->DisconnectController();
        } catch (...) {
            // the controller is given up either way
        }
    }
    return false;
}

// Next: the controller's error first, then the step's own work; a step that ends the
// press early (a failure, the question answered Cancel, Complete) leaves the page as is.
void frmMain::NextPress()
{
    if (m_step < wizard::kConnection || m_step > wizard::kToken)
        return;
    if (m_link && !PassControllerError())
        return;
    if (m_link && m_link->cancelled())
        return;
    switch (m_step) {
    case wizard::kConnection:
        if (!OpenController())
            return;
        m_step = wizard::kPermission;
        break;
    case wizard::kPermission:
        m_step = wizard::NextStep(m_step, cmbDevice->currentIndex());
        break;
    case wizard::kEthernet:
    case wizard::kSerial:
        LeaveDevicePage();
        m_step = wizard::NextStep(m_step, cmbDevice->currentIndex());
        break;
    case wizard::kToken:
        Complete();
        m_closePending = true;  // closes once this press is over
        return;
    }
    ShowStep();
}

bool frmMain::PassControllerError()
{
    // The hourglass while the controller is asked, not while the user is.
    std::optional<BusyPointer> busy(std::in_place);
    return wizard::PassControllerError(*m_link, [&busy](qint32 code) {
        busy.reset();
        const QString text = LStr(500) + QLatin1Char('\r') + LFormat(501, QString::number(code, 16).toUpper())
                             + QStringLiteral("\r\r") + LStr(502);
        const bool goOn = LMsgBox(text, MsgBox::OKCancel | MsgBox::Exclamation, ExeName()) != MsgBox::IdCancel;
        busy.emplace();
        return goOn;
    });
}

bool frmMain::OpenController()
{
    wizard::Opened opened = wizard::Opened::kConnectFailed;
    if (m_link) {
        BusyPointer busy;
        opened = wizard::ConnectAndRead(*m_link);
    }
    // Cancelled: no message, the window closes (and disconnects) as Cancel closes it.
    if (opened != wizard::Opened::kDone && m_link && m_link->cancelled())
        return false;
    if (opened != wizard::Opened::kDone)
        return FailConnect(opened == wizard::Opened::kReadFailed ? 503 : 505);
    ShowSettings(m_link->settings());
    RememberConnection();
    return true;
}

void frmMain::ShowSettings(const CommSettings& s)
{
    if (const std::optional<int> device = wizard::PreselectedDevice(s))
        SelectComboItem(cmbDevice, *device);
    const wizard::EthernetPage ethernet = wizard::ShowEthernet(s);
    WriteIP(uctIPAddress3, ethernet.ip);
    WriteIP(uctSubnetMask, ethernet.mask);
    SetSerialPage(wizard::ShowSerial(s, SerialSelections()));
    const wizard::TokenPage token = wizard::ShowToken(s);
    WriteIP(uctIP, token.ip);
    SetTokenOption(token.element);
}

void frmMain::LeaveDevicePage()
{
    CommSettings& s = m_link->settings();
    bool changed = false;
    if (cmbDevice->currentIndex() == wizard::kEthernetDevice)
        changed = wizard::MergeEthernet(s, {ReadIP(uctIPAddress3), ReadIP(uctSubnetMask)});
    else if (cmbDevice->currentIndex() == wizard::kSerialDevice)
        changed = wizard::MergeSerial(s, SerialSelections());
    m_changed = m_changed || changed;
}

void frmMain::Complete()
{
    if (wizard::MergeToken(m_link->settings(), {SelectedToken(), ReadIP(uctIP)}, cmbDevice->currentIndex()))
        m_changed = true;
    if (!m_changed)
        return;
    bool written = false;
    {
        BusyPointer busy;
        written = wizard::WriteBack(*m_link);
    }
    // A commit that the controller confirmed is reported as written, also when Cancel
    // came while it ran; a cancelled write ended its transaction without commit.
    if (written)
        LMsgBox(LStr(107) + QLatin1Char('\r') + LStr(108), MsgBox::OK | MsgBox::Information, ExeName());
    else if (m_link->cancelled())
        LMsgBox(9021, MsgBox::OK | MsgBox::Information, ExeName());
    else
        LMsgBox(504, MsgBox::OK | MsgBox::Critical, ExeName());
}

wizard::SerialPage frmMain::SerialSelections() const
{
    return {SelectedData(line4.cmbBaudRate), SelectedData(line4.cmbParity), SelectedData(line4.cmbDataLength),
            SelectedData(line4.cmbStopbit), SelectedData(cmbDelimiter4)};
}

void frmMain::SetSerialPage(const wizard::SerialPage& page)
{
    const std::pair<QComboBox*, std::optional<qint32>> lists[] = {
        {line4.cmbBaudRate, page.baudRate}, {line4.cmbParity, page.parity}, {line4.cmbDataLength, page.dataLength},
        {line4.cmbStopbit, page.stopBits}, {cmbDelimiter4, page.delimiter}};
    for (const auto& [list, value] : lists)
        if (value)
            SelectComboItem(list, *value);
}

void frmMain::cmdBack_Click()
{
    if (m_busy)
        return;
    m_step = wizard::BackStep(m_step, cmbDevice->currentIndex());
    QPointer<QWidget> focus = QApplication::focusWidget();
    ShowStep();
    FocusPage(focus);
}

void frmMain::FocusPage(QWidget* focus)
{
    if (focus && focus->isVisible() && focus->isEnabled() && focus->window() == this) {
        focus->setFocus();
        return;
    }
    QWidget* page = tabWizard->currentWidget();
    for (QWidget* w : std::as_const(m_tabOrder)) {
        if (!page || !page->isAncestorOf(w) || !w->isVisible() || !w->isEnabled())
            continue;
        // Tab reaches a group of options at its chosen one only.
        if (auto* option = qobject_cast<QRadioButton*>(w); option && !option->isChecked()) {
            const auto siblings = option->parentWidget()->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly);
            if (std::any_of(siblings.begin(), siblings.end(), [](QRadioButton* r) { return r->isChecked(); }))
                continue;
        }
        w->setFocus(Qt::TabFocusReason);
        return;
    }
}

void frmMain::cmdCancel_Click()
{
    if (m_busy) {
        CancelPress();
        return;
    }
    close();
}

// ControllerView

bool frmMain::EthernetSelected() const
{
    return optDevice[0]->isChecked();
}

IPv4 frmMain::ConnectAddress() const
{
    return ReadIP(uctIPAddress1);
}

std::optional<int> frmMain::PortNumber() const { return SelectedData(cmbPort1); }
std::optional<int> frmMain::BaudRate() const { return SelectedData(line1.cmbBaudRate); }
std::optional<int> frmMain::DataLength() const { return SelectedData(line1.cmbDataLength); }

std::optional<int> frmMain::ParityPosition() const
{
    if (line1.cmbParity->currentIndex() < 0)
        return std::nullopt;
    return line1.cmbParity->currentIndex();
}

std::optional<QString> frmMain::StopBitText() const
{
    if (line1.cmbStopbit->currentIndex() < 0)
        return std::nullopt;
    return line1.cmbStopbit->currentText();
}

int frmMain::DevicePosition() const
{
    return cmbDevice->currentIndex();
}
