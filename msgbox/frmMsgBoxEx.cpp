// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "msgbox/frmMsgBoxEx.h"

#include "localeui/localizeform.h"
#include "locale/modLocale.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFontMetrics>
#include <QHideEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QSvgRenderer>
#include <QWindow>

#include <algorithm>
#include <cmath>

static void initMsgBoxResources() { Q_INIT_RESOURCE(msgbox); }

namespace {

// The product name from the version information; the box's title until the caller sets one.
const char* const kProductName = "Tolvane";

// Design fonts: the window's own text, the large message, the expander link.
constexpr double kWindowPt = 9.0;
constexpr double kMainPt = 15.75;
constexpr double kExpandPt = 9.0;

// Design heights of the push buttons and the check box, and the icon size.
constexpr double kCmdHeight = 375;
constexpr double kChkHeight = 255;
constexpr double kIconSize = 480;
constexpr double kExpandedLeft = 120;

// The layout's recurring distances in twips: the margin around the upper panel's parts,
// the gap between them, the spacing of the lower band's parts, and the least width of a
// button; options stand further in than the texts.
constexpr double kMargin = 300;
constexpr double kGap = 200;
constexpr double kSpacing = 150;
constexpr double kLeastButtonWidth = 1500;
constexpr double kOptionIndent = 450;

// A layout step that cannot go on; ShowBox turns it into -1.
struct LayoutFailure {};

// Rounds to the nearest whole number, halves to the even neighbour (the default
// floating-point rounding mode).
double whole(double v) { return std::nearbyint(v); }

int toPixels(double twips, double twipsPerPixel) { return int(whole(twips / twipsPerPixel)); }

// "\r\n", "\r" and "\n" all break a line.
QStringList splitLines(const QString& text)
{
    QString t = text;
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return t.split(QLatin1Char('\n'));
}

QString displayText(const QString& text) { return splitLines(text).join(QLatin1Char('\n')); }

// An element of m_varButtons / m_varOptions as a list, or nothing when the value is not one.
std::optional<QVariantList> asList(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::QVariantList:
        return v.toList();
    case QMetaType::QStringList: {
        QVariantList out;
        for (const QString& s : v.toStringList())
            out << s;
        return out;
    }
    default:
        return std::nullopt;
    }
}

const char* const kIconFiles[5] = {"information", "warning", "error", "question", "wait"};
const int kBeepTypes[4] = {64, 48, 16, 32};

std::optional<BoxMetrics>& metricsOverride()
{
    static std::optional<BoxMetrics> m;
    return m;
}

frmMsgBoxEx::BeepHandler& beepHandler()
{
    static frmMsgBoxEx::BeepHandler h;
    return h;
}

} // namespace

BoxMetrics BoxMetrics::Current()
{
    if (metricsOverride())
        return *metricsOverride();
    BoxMetrics m;
    // Qt's logical pixel is the unit: 15 twips each, whatever the screen's real density.
    m.twipsPerPixelX = m.twipsPerPixelY = 15.0;
    if (QStyle* style = QApplication::style()) {
        m.dialogFrameX = m.dialogFrameY = style->pixelMetric(QStyle::PM_DefaultFrameWidth);
        m.captionHeight = style->pixelMetric(QStyle::PM_TitleBarHeight);
    }
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        m.screenPixels = screen->availableGeometry();
        m.screenWidth = m.screenPixels.width() * m.twipsPerPixelX;
        m.screenHeight = m.screenPixels.height() * m.twipsPerPixelY;
    }
    return m;
}

void BoxMetrics::SetOverride(std::optional<BoxMetrics> metrics) { metricsOverride() = metrics; }

frmMsgBoxEx::BeepHandler frmMsgBoxEx::SetBeepHandler(BeepHandler handler)
{
    BeepHandler old = beepHandler();
    beepHandler() = std::move(handler);
    return old;
}

std::optional<qint32> frmMsgBoxEx::ElementNumber(const QVariant& element)
{
    // Only whole-number types count; a text "5009" or a fraction is a caption.
    switch (element.typeId()) {
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::ULongLong: {
        bool ok = false;
        const qlonglong v = element.toLongLong(&ok);
        if (ok && v >= std::numeric_limits<qint32>::min() && v <= std::numeric_limits<qint32>::max())
            return qint32(v);
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

frmMsgBoxEx::frmMsgBoxEx(QWidget* parent)
    : QDialog(parent)
{
    initMsgBoxResources();
    setObjectName(QStringLiteral("frmMsgBoxEx"));
    m_strTitle = QString::fromLatin1(kProductName);

    // A fixed dialog frame with a title bar and no minimize or maximize box.
    m_designFlags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                    | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    setWindowFlags(m_designFlags);
    setSizeGripEnabled(false);

    m_windowFont = font();
    m_windowFont.setPointSizeF(kWindowPt);
    setFont(m_windowFont);

    m_picBase = new QWidget(this);
    m_picBase->setObjectName(QStringLiteral("picBase"));

    for (int k = 0; k < 5; ++k) {
        auto* img = new QLabel(m_picBase);
        img->setObjectName(QStringLiteral("imgMsg_%1").arg(k));
        img->hide();
        m_img[k] = img;
    }

    m_lblMain = new QLabel(m_picBase);
    m_lblMain->setObjectName(QStringLiteral("lblMain"));
    m_lblMsg = new QLabel(m_picBase);
    m_lblMsg->setObjectName(QStringLiteral("lblMsg"));
    for (QLabel* l : {m_lblMain, m_lblMsg}) {
        l->setTextFormat(Qt::PlainText);
        l->setWordWrap(true);
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        l->hide();
    }
    QPalette mainPal = m_lblMain->palette();
    mainPal.setColor(QPalette::WindowText, QColor(0, 0, 255));
    m_lblMain->setPalette(mainPal);

    newOption();
    BuildLowerBand();
    newButton();
    watch(this);
    LoadIconPictures();
}

// The lower band's check box and expander link, the separator's two lines and the
// details under it.
void frmMsgBoxEx::BuildLowerBand()
{
    m_chk = new QCheckBox(this);
    m_chk->setObjectName(QStringLiteral("Chk"));
    m_chk->hide();
    watch(m_chk);
    connect(m_chk, &QCheckBox::stateChanged, this, [this](int state) {
        m_lCheckVal = state == Qt::Checked ? 1 : state == Qt::PartiallyChecked ? 2 : 0;
    });

    m_lblExpand = new QLabel(this);
    m_lblExpand->setObjectName(QStringLiteral("lblExpand"));
    m_lblExpand->setTextFormat(Qt::PlainText);
    m_lblExpand->hide();
    watch(m_lblExpand);

    for (int i = 0; i < 2; ++i) {
        auto* ln = new QWidget(this);
        ln->setObjectName(QStringLiteral("lnExpand_%1").arg(i));
        ln->setAutoFillBackground(true);
        QPalette p = ln->palette();
        p.setColor(QPalette::Window, i == 0 ? QColor(213, 213, 213) : QColor(255, 255, 255));
        ln->setPalette(p);
        m_ln[i] = ln;
    }

    m_lblExpanded = new QLabel(this);
    m_lblExpanded->setObjectName(QStringLiteral("lblExpanded"));
    m_lblExpanded->setTextFormat(Qt::PlainText);
    m_lblExpanded->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_lblExpanded->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Selectable text would take the focus on a click, and Enter would then press
    // nothing; the buttons keep it. Selecting and the context menu's Copy still work.
    m_lblExpanded->setFocusPolicy(Qt::NoFocus);
    m_lblExpanded->hide();
}

// Pictures of the five icon kinds, drawn from the SVG sources at the screen's density.
void frmMsgBoxEx::LoadIconPictures()
{
    const qreal dpr = devicePixelRatioF();
    for (int k = 0; k < 5; ++k) {
        QSvgRenderer svg(QStringLiteral(":/msgbox/icons/%1.svg").arg(QLatin1String(kIconFiles[k])));
        QPixmap pm(QSize(32, 32) * dpr);
        pm.fill(Qt::transparent);
        {
            QPainter p(&pm);
            p.setRenderHint(QPainter::Antialiasing);
            svg.render(&p);
        }
        pm.setDevicePixelRatio(dpr);
        m_img[k]->setPixmap(pm);
    }
}

frmMsgBoxEx::~frmMsgBoxEx()
{
    if (m_loop)
        m_loop->quit();
}

QPushButton* frmMsgBoxEx::newButton()
{
    const int i = int(m_cmd.size());
    auto* b = new QPushButton(this);
    b->setObjectName(QStringLiteral("Cmd_%1").arg(i));
    b->setFont(m_windowFont);
    b->setAutoDefault(true);
    b->hide();
    watch(b);
    connect(b, &QPushButton::clicked, this, [this, i] { CmdClick(i); });
    m_cmd << b;
    m_twips[b] = QRectF(0, 0, 0, kCmdHeight);
    m_tabOrder << b;
    return b;
}

QRadioButton* frmMsgBoxEx::newOption()
{
    const int i = int(m_opt.size());
    auto* o = new QRadioButton(m_picBase);
    o->setObjectName(QStringLiteral("Opt_%1").arg(i));
    o->setFont(m_windowFont);
    o->hide();
    watch(o);
    connect(o, &QRadioButton::toggled, this, [this, i](bool on) {
        if (on)
            OptClick(i);
    });
    m_opt << o;
    m_tabOrder << o;
    return o;
}

void frmMsgBoxEx::watch(QWidget* w) { w->installEventFilter(this); }

void frmMsgBoxEx::toEnd(QWidget* w)
{
    m_tabOrder.removeAll(w);
    m_tabOrder.append(w);
}

void frmMsgBoxEx::toFront(QWidget* w)
{
    m_tabOrder.removeAll(w);
    m_tabOrder.prepend(w);
}

void frmMsgBoxEx::applyTabOrder()
{
    QWidget* prev = nullptr;
    for (QWidget* w : std::as_const(m_tabOrder)) {
        if (!(w->focusPolicy() & Qt::TabFocus))
            continue;
        if (prev)
            QWidget::setTabOrder(prev, w);
        prev = w;
    }
}

void frmMsgBoxEx::apply(QWidget* w)
{
    const QRectF r = m_twips.value(w);
    const double tx = m_metrics.twipsPerPixelX, ty = m_metrics.twipsPerPixelY;
    w->setGeometry(toPixels(r.x(), tx), toPixels(r.y(), ty), toPixels(r.width(), tx),
                   toPixels(r.height(), ty));
}

void frmMsgBoxEx::setLeft(QWidget* w, double v)
{
    QRectF& r = m_twips[w];
    r.moveLeft(v);
    apply(w);
}

void frmMsgBoxEx::setTop(QWidget* w, double v)
{
    QRectF& r = m_twips[w];
    r.moveTop(v);
    apply(w);
}

void frmMsgBoxEx::setWidth(QWidget* w, double v)
{
    m_twips[w].setWidth(v);
    apply(w);
}

void frmMsgBoxEx::setHeight(QWidget* w, double v)
{
    m_twips[w].setHeight(v);
    apply(w);
}

double frmMsgBoxEx::textWidth(const QFont& font, const QString& text) const
{
    // Width of the widest line, the text taken literally (an access-key "&" included).
    const QFontMetrics fm(font);
    int widest = 0;
    for (const QString& line : splitLines(text))
        widest = std::max(widest, fm.horizontalAdvance(line));
    return widest * m_metrics.twipsPerPixelX;
}

double frmMsgBoxEx::textHeight(const QFont& font, const QString& text) const
{
    // Height of all lines. A line may need more than the font's own line spacing when
    // glyphs come from a fallback font (Japanese text in a Latin family), so the laid-out
    // height counts when it is larger.
    const QFontMetrics fm(font);
    const QStringList lines = splitLines(text);
    const int spaced = int(lines.size()) * fm.lineSpacing();
    const int laidOut = fm.boundingRect(QRect(0, 0, 1 << 20, 1 << 20), Qt::AlignLeft | Qt::AlignTop,
                                        lines.join(QLatin1Char('\n'))).height();
    return std::max(spaced, laidOut) * m_metrics.twipsPerPixelY;
}

double frmMsgBoxEx::wrappedHeight(QLabel* label) const
{
    const int px = toPixels(tWidth(label), m_metrics.twipsPerPixelX);
    int h = label->heightForWidth(px);
    if (h < 0)
        h = label->sizeHint().height();
    return h * m_metrics.twipsPerPixelY;
}

void frmMsgBoxEx::RegisterAccessKey(QWidget* control, const QString& caption)
{
    // The character after the first "&"; the first control to claim it keeps it.
    const qsizetype amp = caption.indexOf(QLatin1Char('&'));
    if (amp < 0 || amp == caption.size() - 1)
        return;
    const QString key = caption.mid(amp + 1, 1).toLower();
    if (!m_colAccessKeys.contains(key))
        m_colAccessKeys.insert(key, control);
}

void frmMsgBoxEx::RemoveSystemMenu()
{
    setWindowFlags(windowFlags() & ~(Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint));
}

int frmMsgBoxEx::GetSelectedIndex() const
{
    for (int i = 0; i < m_opt.size(); ++i)
        if (m_opt[i]->isChecked())
            return i;
    return -1;
}

void frmMsgBoxEx::UpdateButtons()
{
    // While options are shown and none is chosen only the cancel button can be pressed.
    if (m_opt[0]->isEnabled()) {
        const int sel = GetSelectedIndex();
        for (int i = 0; i < m_cmd.size(); ++i)
            m_cmd[i]->setEnabled(sel >= 0 || i == m_lCancel);
    } else {
        for (QPushButton* b : std::as_const(m_cmd))
            b->setEnabled(true);
    }
}

void frmMsgBoxEx::OptClick(int i)
{
    m_lOptValue = i;
    UpdateButtons();
}

void frmMsgBoxEx::CmdClick(int i)
{
    // A hidden box has been answered already: a second close request or key queued
    // behind the first click must not raise a second event.
    if (!m_loaded || !isVisible() || i < 0 || i >= m_cmd.size() || i >= m_values.size())
        return;
    m_lClickedIndex = i;
    QPointer<frmMsgBoxEx> self(this);
    emit OnButtonClick(m_values[i]);
    // A handler may have closed or destroyed the box already.
    if (!self || !m_loaded)
        return;
    if (m_showMode == 0)
        UnloadBox();
    else
        hide(); // ends the nested loop in ShowBox
}

// The layout pass: each step places its part below the ones before and widens the box
// as it needs; the numbers in the comments are the order of the steps.
void frmMsgBoxEx::LayoutBox()
{
    m_metrics = BoxMetrics::Current();
    LayoutPass pass;
    pass.tx = m_metrics.twipsPerPixelX;
    pass.ty = m_metrics.twipsPerPixelY;
    pass.frameX = whole(pass.tx * m_metrics.dialogFrameX);
    pass.frameY = whole(pass.ty * m_metrics.dialogFrameY);
    pass.captionH = whole(pass.ty * m_metrics.captionHeight);
    pass.currentLook = GetOSMajorVersion() >= 6;
    pass.innerW = kMargin;
    pass.y = kMargin;
    LayoutFonts(pass);
    setWindowTitle(m_strTitle.toString());
    LayoutIcon(pass);
    LayoutMessages(pass);
    LayoutOptions(pass);
    LayoutPanel(pass);
    LayoutDetails(pass);
    LayoutCheckBox(pass);
    LayoutButtons(pass);
    LayoutWidth(pass);
    LayoutSeparator(pass);
    applyTabOrder();
    UpdateExpand();
}

// 1. and 2. The language's font, then the design sizes, weights and colours on top of
// it; the current look has a white upper panel.
void frmMsgBoxEx::LayoutFonts(const LayoutPass& pass)
{
    LocalizeForm(this, QVariant());
    m_windowFont = font();
    m_windowFont.setPointSizeF(kWindowPt);
    m_windowFont.setWeight(QFont::Normal);
    m_windowFont.setUnderline(false);
    setFont(m_windowFont);
    m_mainFont = m_windowFont;
    m_mainFont.setPointSizeF(kMainPt);
    m_expandFont = m_windowFont;
    m_expandFont.setPointSizeF(kExpandPt);
    m_expandFont.setUnderline(true);
    for (QWidget* w : findChildren<QWidget*>())
        w->setFont(m_windowFont);
    m_lblMain->setFont(m_mainFont);
    m_lblExpand->setFont(m_expandFont);
    QPalette expPal = m_lblExpand->palette();
    expPal.setColor(QPalette::WindowText, palette().color(QPalette::Highlight));
    m_lblExpand->setPalette(expPal);
    if (pass.currentLook) {
        QPalette p = m_picBase->palette();
        p.setColor(QPalette::Window, QColor(255, 255, 255));
        m_picBase->setPalette(p);
        m_picBase->setAutoFillBackground(true);
    }
}

// 3. to 5. The icon in the top left corner; the texts begin a gap to its right.
void frmMsgBoxEx::LayoutIcon(LayoutPass& pass)
{
    if (m_MsgIcon < 0 || m_MsgIcon > 5)
        throw LayoutFailure{};
    pass.icon = m_MsgIcon == 5 ? nullptr : m_img[m_MsgIcon];
    pass.textLeft = pass.frameX + kMargin;
    if (!pass.icon)
        return;
    pass.icon->show();
    m_twips[pass.icon] = QRectF(pass.frameX + kMargin, kMargin, kIconSize, kIconSize);
    apply(pass.icon);
    pass.textLeft = tLeft(pass.icon) + tWidth(pass.icon) + kGap;
    pass.innerW = whole(std::max(pass.innerW, pass.textLeft));
}

// 6. and 7. The large and the small message (indented under a large one); 8. the text
// block centred on a taller icon.
void frmMsgBoxEx::LayoutMessages(LayoutPass& pass)
{
    LayoutMessage(pass, m_lblMain, m_strLargeMsg, m_mainFont, false);
    LayoutMessage(pass, m_lblMsg, m_strSmallMsg, m_windowFont, true);
    QLabel* icon = pass.icon;
    if (!icon || tTop(icon) + tHeight(icon) + kGap <= pass.y)
        return;
    pass.y = whole(tTop(icon) + tHeight(icon) + kGap);
    const bool mainOn = m_lblMain->isEnabled(), msgOn = m_lblMsg->isEnabled();
    if (mainOn && msgOn) {
        const double d = whole((tHeight(icon) - (tTop(m_lblMsg) + tHeight(m_lblMsg) - tTop(m_lblMain))) / 2);
        setTop(m_lblMain, tTop(m_lblMain) + d);
        setTop(m_lblMsg, tTop(m_lblMsg) + d);
    } else if (mainOn || msgOn) {
        QLabel* l = mainOn ? m_lblMain : m_lblMsg;
        const double d = whole((tHeight(icon) - tHeight(l)) / 2);
        setTop(l, tTop(l) + d);
    }
}

void frmMsgBoxEx::LayoutMessage(LayoutPass& pass, QLabel* label, QVariant& field, const QFont& measureFont,
                                bool indent)
{
    field = LStr(field);
    const QString text = field.toString();
    if (text.isEmpty()) {
        label->setEnabled(false);
        label->hide();
        return;
    }
    label->setEnabled(true);
    label->show();
    toEnd(label);
    // At most half the screen wide; a longer text wraps.
    setWidth(label, std::min(textWidth(measureFont, text) + 30, m_metrics.screenWidth * 0.5));
    label->setText(displayText(text));
    setHeight(label, wrappedHeight(label));
    setTop(label, pass.y);
    setLeft(label, pass.textLeft);
    if (indent && m_lblMain->isEnabled())
        setLeft(label, tLeft(label) + kGap);
    pass.innerW = whole(std::max(pass.innerW, tLeft(label) + tWidth(label) + kMargin));
    pass.y = whole(tTop(label) + tHeight(label) + kGap);
}

// 9. The options, one under the other; 10. a margin below the panel's last part.
void frmMsgBoxEx::LayoutOptions(LayoutPass& pass)
{
    QVariantList options;
    if (m_varOptions.isValid() && !m_varOptions.isNull()) {
        const auto list = asList(m_varOptions);
        if (!list)
            throw LayoutFailure{};
        options = *list;
    }
    if (options.isEmpty()) {
        m_opt[0]->setEnabled(false);
        m_opt[0]->hide();
    } else {
        const double optLeft = pass.icon ? tLeft(pass.icon) + tWidth(pass.icon) + kOptionIndent : kOptionIndent;
        for (int i = 0; i < options.size(); ++i) {
            QRadioButton* o = i == 0 ? m_opt[0] : newOption();
            setLeft(o, optLeft);
            o->setEnabled(true);
            o->show();
            toEnd(o);
            o->setAutoExclusive(false);
            o->setChecked(false);
            o->setAutoExclusive(true);
            const QString text = LStr(options[i]);
            o->setText(text);
            RegisterAccessKey(o, text);
            setWidth(o, textWidth(m_windowFont, text) + kMargin);
            setHeight(o, textHeight(m_windowFont, text) + 15);
            setTop(o, pass.y);
            pass.innerW = whole(std::max(pass.innerW, tLeft(o) + tWidth(o) + kMargin));
            pass.y = whole(tTop(o) + tHeight(o) + kSpacing);
        }
        pass.y = pass.y - kSpacing + kGap;
        if (m_lOptValue >= 0) {
            if (m_lOptValue >= options.size())
                throw LayoutFailure{};
            m_opt[m_lOptValue]->setChecked(true);
        }
    }
    pass.y = pass.y + kMargin - kGap;
}

// 11. The whole window stays within the screen's height; 12. the upper panel ends here.
void frmMsgBoxEx::LayoutPanel(LayoutPass& pass)
{
    const double h0 = tHeight(m_cmd[0]);
    if (float(h0 + pass.y + 400 + pass.frameY + pass.captionH) > float(m_metrics.screenHeight))
        pass.y = whole(m_metrics.screenHeight - h0 - 400 - pass.frameY - pass.captionH);
    m_twips[m_picBase] = QRectF(0, 0, m_twips.value(m_picBase).width(), pass.y);
    apply(m_picBase);
    if (pass.currentLook)
        pass.y = pass.y + kGap;
}

// 13. The details: the expander link in the lower band, the text under the separator.
void frmMsgBoxEx::LayoutDetails(LayoutPass& pass)
{
    m_strExpand = LStr(m_strExpand);
    if (m_strExpand.toString().isEmpty()) {
        m_lblExpand->hide();
        m_lblExpand->setEnabled(false);
        m_lblExpanded->hide();
        m_lblExpanded->setEnabled(false);
        m_bExpand = false;
        return;
    }
    m_strOpenExpand = LStr(m_strOpenExpand);
    m_strCloseExpand = LStr(m_strCloseExpand);
    const QString open = m_strOpenExpand.toString(), close = m_strCloseExpand.toString();
    setTop(m_lblExpand, pass.y);
    setLeft(m_lblExpand, pass.frameX + kSpacing);
    pass.expandW = whole(std::max(textWidth(m_windowFont, open), textWidth(m_windowFont, close)));
    setWidth(m_lblExpand, textWidth(m_windowFont, open));
    setHeight(m_lblExpand, textHeight(m_windowFont, open));
    m_lblExpand->setCursor(GetHandCursor().value_or(QCursor(Qt::PointingHandCursor)));
    m_lblExpand->setEnabled(true);
    m_lblExpand->show();
    toEnd(m_lblExpand);
    const QString details = m_strExpand.toString();
    m_lblExpanded->setText(displayText(details));
    if (!m_twips.contains(m_lblExpanded))
        m_twips[m_lblExpanded] = QRectF(kExpandedLeft, 0, 0, 0);
    setLeft(m_lblExpanded, kExpandedLeft);
    setWidth(m_lblExpanded, textWidth(m_windowFont, details));
    setHeight(m_lblExpanded, textHeight(m_windowFont, details) + 15);
    pass.innerW = whole(std::max(pass.innerW, tLeft(m_lblExpanded) + tWidth(m_lblExpanded) + kSpacing));
    m_lblExpanded->setEnabled(true);
    m_lblExpanded->show();
    toEnd(m_lblExpanded);
}

// 14. The check box in the lower band, under the expander link when there is one.
void frmMsgBoxEx::LayoutCheckBox(const LayoutPass& pass)
{
    m_strCheck = LStr(m_strCheck);
    if (m_strCheck.toString().isEmpty()) {
        m_chk->hide();
        m_chk->setEnabled(false);
        return;
    }
    const QString text = m_strCheck.toString();
    m_chk->setText(text);
    RegisterAccessKey(m_chk, text);
    setHeight(m_chk, kChkHeight);
    setWidth(m_chk, tHeight(m_chk) * 1.5 + textWidth(m_windowFont, text));
    setLeft(m_chk, pass.frameX + kSpacing);
    setTop(m_chk, m_lblExpand->isEnabled() ? tTop(m_lblExpand) + tHeight(m_lblExpand) + kGap : pass.y);
    m_chk->show();
    m_chk->setEnabled(true);
    toEnd(m_chk);
    if (m_lCheckVal < 0 || m_lCheckVal > 2)
        throw LayoutFailure{};
    m_chk->setCheckState(m_lCheckVal == 1 ? Qt::Checked : m_lCheckVal == 2 ? Qt::PartiallyChecked : Qt::Unchecked);
}

// 15. The buttons, left to right (right-aligned in step 21); 16. without a cancel
// button nothing could answer the close box, so it goes; 17. their states.
void frmMsgBoxEx::LayoutButtons(LayoutPass& pass)
{
    const auto buttons = asList(m_varButtons);
    if (!buttons || buttons->isEmpty())
        throw LayoutFailure{};
    m_values.clear();
    for (int i = 0; i < buttons->size(); ++i) {
        const QVariant& element = buttons->at(i);
        QPushButton* b = i == 0 ? m_cmd[0] : newButton();
        const std::optional<qint32> number = ElementNumber(element);
        m_values << (number ? *number : i);
        const QString text = LStr(element);
        b->setText(text);
        RegisterAccessKey(b, text);
        setHeight(b, kCmdHeight);
        setTop(b, pass.y);
        setWidth(b, std::max(whole(textWidth(m_windowFont, text) + 400), kLeastButtonWidth));
        if (i >= 1)
            setLeft(b, tLeft(m_cmd[i - 1]) + tWidth(m_cmd[i - 1]) + kSpacing);
        b->show();
        if (i == m_lDefault) {
            b->setDefault(true);
            toFront(b);
        }
        if ((number && *number == 5005 && m_lCancel < 0) || i == m_lCancel)
            m_lCancel = i;
        pass.rowW = whole(tWidth(b) + pass.rowW + kSpacing);
    }
    pass.rowW = pass.rowW - kSpacing;
    pass.lastButton = int(buttons->size()) - 1;
    if (!Cmd(m_lCancel) || m_bHideCloseButton)
        RemoveSystemMenu();
    UpdateButtons();
}

// 18. to 20. The window's width: the lower band's left part and the button row, or the
// widest part above; 21. the buttons right-aligned, a spacing from the right edge.
void frmMsgBoxEx::LayoutWidth(LayoutPass& pass)
{
    double leftW = kSpacing;
    const bool expOn = m_lblExpand->isEnabled(), chkOn = m_chk->isEnabled();
    if (expOn && chkOn)
        leftW = whole(std::max(tLeft(m_lblExpand) + pass.expandW, tLeft(m_chk) + tWidth(m_chk)) + 400);
    else if (expOn)
        leftW = whole(tLeft(m_lblExpand) + pass.expandW + 400);
    else if (chkOn)
        leftW = whole(tLeft(m_chk) + tWidth(m_chk) + 400);
    pass.innerW = whole(std::max(pass.innerW, pass.rowW + leftW + kSpacing));
    m_winW = pass.innerW + 2 * pass.frameX;
    setWidth(m_picBase, pass.innerW);
    for (QWidget* ln : m_ln)
        m_twips[ln] = QRectF(0, 0, pass.innerW, 0);
    const int n = pass.lastButton;
    setLeft(m_cmd[n], m_winW - kSpacing - tWidth(m_cmd[n]) - 2 * pass.frameX);
    for (int i = n - 1; i >= 0; --i) {
        setLeft(m_cmd[i], tLeft(m_cmd[i + 1]) - kSpacing - tWidth(m_cmd[i]));
        toFront(m_cmd[i]);
    }
}

// 22. and 23. The separator under the lower band: a grey line and a white one a pixel
// below it; the details begin a spacing under it.
void frmMsgBoxEx::LayoutSeparator(const LayoutPass& pass)
{
    double y = whole(tTop(m_cmd[0]) + tHeight(m_cmd[0]) + kSpacing);
    if (m_lblExpand->isEnabled())
        y = whole(std::max(y, tTop(m_lblExpand) + tHeight(m_lblExpand) + kSpacing));
    if (m_chk->isEnabled())
        y = whole(std::max(y, tTop(m_chk) + tHeight(m_chk) + kSpacing));
    m_lineY0 = y;
    m_lineGap = pass.ty;
    for (int i = 0; i < 2; ++i) {
        QWidget* ln = m_ln[i];
        ln->setGeometry(0, toPixels(y + i * pass.ty, pass.ty), toPixels(pass.innerW, pass.tx), 1);
        m_twips[ln] = QRectF(0, y + i * pass.ty, pass.innerW, 0);
    }
    setTop(m_lblExpanded, y + kSpacing);
}

void frmMsgBoxEx::UpdateExpand()
{
    const double tx = m_metrics.twipsPerPixelX, ty = m_metrics.twipsPerPixelY;
    m_bottomFrame = whole(ty * m_metrics.dialogFrameY);
    m_topFrame = whole(ty * (m_metrics.captionHeight + m_metrics.dialogFrameY));
    QString caption;
    if (m_bExpand) {
        m_winH = tTop(m_lblExpanded) + tHeight(m_lblExpanded) + m_topFrame + 150 + m_bottomFrame;
        caption = m_strCloseExpand.toString();
    } else {
        // The client area ends at the separator; line and details lie outside it.
        m_winH = m_lineY0 + m_topFrame + m_bottomFrame;
        caption = m_strOpenExpand.toString();
    }
    m_lblExpand->setText(caption);
    setWidth(m_lblExpand, textWidth(m_windowFont, caption));

    const double frameX = whole(tx * m_metrics.dialogFrameX);
    setFixedSize(toPixels(m_winW - 2 * frameX, tx), toPixels(m_winH - m_topFrame - m_bottomFrame, ty));
}

qint32 frmMsgBoxEx::ShowBox(QWidget* owner, qint32 showMode)
{
    // A box that is still open cannot be laid out again; nor can an unknown show mode.
    if (m_loaded || (showMode != 0 && showMode != 1))
        return -1;
    m_owner = owner;
    m_showMode = showMode;
    m_lClickedIndex = -1;
    m_loaded = true;
    try {
        LayoutBox();
    } catch (...) {
        // Leave the box as freshly loaded, so that a corrected call can show it.
        UnloadBox();
        return -1;
    }

    if (m_MsgIcon >= 0 && m_MsgIcon <= 3) {
        const int type = kBeepTypes[m_MsgIcon];
        if (beepHandler())
            beepHandler()(type);
        else
            QApplication::beep();
    }

    ChangeMousePointer(0);
    PlaceAndShow(owner);
    if (showMode == 0) {
        UnChangeMousePointer();
        return 0;
    }
    return RunModal();
}

// Centred on a visible owner window (owned by it, not its child) or else on the screen;
// shown with the focus on its first control.
void frmMsgBoxEx::PlaceAndShow(QWidget* owner)
{
    QWidget* ownerWindow = owner ? owner->window() : nullptr;
    QPointer<QWidget> transientOwner;
    const double tx = m_metrics.twipsPerPixelX, ty = m_metrics.twipsPerPixelY;
    setWindowModality(m_showMode == 1 ? Qt::ApplicationModal : Qt::NonModal);
    if (ownerWindow && ownerWindow->isVisible() && !ownerWindow->isMinimized()) {
        // Disable and re-enable the focused control, which ends whatever it had under way
        // (a mouse grab, a pressed state). Qt hands the focus on to the next control when
        // the focused one is disabled, so it is given back: the user goes on in the same
        // field once the box is gone.
        QPointer<QWidget> focused = QApplication::focusWidget();
        if (focused && focused->isEnabled()) {
            focused->setEnabled(false);
            focused->setEnabled(true);
            if (focused && focused->window()->focusWidget() != focused)
                focused->setFocus(Qt::OtherFocusReason);
        }
        transientOwner = ownerWindow;
        const QPoint c = ownerWindow->frameGeometry().center();
        move(c.x() - toPixels(m_winW, tx) / 2, c.y() - toPixels(m_winH, ty) / 2);
    } else {
        const QRect s = m_metrics.screenPixels;
        move(s.x() + toPixels((m_metrics.screenWidth - m_winW) / 2, tx),
             s.y() + toPixels((m_metrics.screenHeight - m_winH) / 2, ty));
    }

    show();
    // Owned without being a child: the owner does not take the box object's life.
    if (transientOwner && windowHandle())
        windowHandle()->setTransientParent(transientOwner->windowHandle());
    activateWindow();
    for (QWidget* w : std::as_const(m_tabOrder)) {
        if ((w->focusPolicy() & Qt::TabFocus) && w->isEnabled() && w->isVisible()) {
            w->setFocus(Qt::OtherFocusReason);
            break;
        }
    }
}

// Waits for a button (or the close box); the value of the button clicked, -1 when none
// was or the box was destroyed meanwhile.
qint32 frmMsgBoxEx::RunModal()
{
    QPointer<frmMsgBoxEx> self(this);
    QEventLoop loop;
    m_loop = &loop;
    if (isVisible())
        loop.exec(QEventLoop::DialogExec);
    if (!self) {
        UnChangeMousePointer();
        return -1;
    }
    m_loop = nullptr;
    UnChangeMousePointer();
    const qint32 result = m_lClickedIndex >= 0 && m_lClickedIndex < m_values.size()
                              ? m_values[m_lClickedIndex] : -1;
    UnloadBox();
    return result;
}

void frmMsgBoxEx::UnloadBox()
{
    hide();
    if (QWindow* handle = windowHandle())
        handle->setTransientParent(nullptr);
    // Back to the freshly loaded window: only Opt(0) and Cmd(0), icons hidden.
    auto keepFirstOnly = [this](auto& controls) {
        while (controls.size() > 1) {
            QWidget* w = controls.takeLast();
            m_tabOrder.removeAll(w);
            m_twips.remove(w);
            w->hide();
            w->deleteLater();
        }
    };
    keepFirstOnly(m_opt);
    keepFirstOnly(m_cmd);
    m_opt[0]->setAutoExclusive(false);
    m_opt[0]->setChecked(false);
    m_opt[0]->setAutoExclusive(true);
    m_cmd[0]->setDefault(false);
    m_cmd[0]->setEnabled(true);
    for (QLabel* img : m_img)
        img->hide();
    m_colAccessKeys.clear();
    m_values.clear();
    if (windowFlags() != m_designFlags)
        setWindowFlags(m_designFlags);
    m_owner = nullptr;
    m_loaded = false;
}

bool frmMsgBoxEx::isOurControl(const QObject* o) const
{
    return o == this || (o->isWidgetType() && isAncestorOf(static_cast<const QWidget*>(o)));
}

bool frmMsgBoxEx::handleKey(QKeyEvent* event)
{
    const int key = event->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        // The focused button, or the default button from any other control.
        QWidget* f = focusWidget();
        auto* focusedButton = qobject_cast<QPushButton*>(f);
        QPushButton* target = focusedButton && m_cmd.contains(focusedButton) ? focusedButton
                                                                              : Cmd(m_lDefault);
        if (target && target->isEnabled() && target->isVisible())
            target->click();
        return true;
    }
    if (key == Qt::Key_Escape) {
        QPushButton* cancel = Cmd(m_lCancel);
        if (cancel && cancel->isEnabled() && cancel->isVisible())
            cancel->click();
        return true;
    }
    // Access keys: the key's character, lower-cased, whatever the modifiers.
    if (key <= 0 || key > 0xFFFF)
        return false;
    const QString ch = QString(QChar(key)).toLower();
    QWidget* control = m_colAccessKeys.value(ch);
    if (!control)
        return false;
    // A disabled control ignores its key, so the option gating cannot be bypassed.
    if (auto* button = qobject_cast<QAbstractButton*>(control); button && button->isEnabled()
                                                               && button->isVisible()) {
        button->setFocus(Qt::ShortcutFocusReason);
        button->click();
    }
    return true;
}

bool frmMsgBoxEx::eventFilter(QObject* watched, QEvent* event)
{
    if (!m_loaded)
        return QDialog::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::ShortcutOverride: {
        // Keep our keys from Qt's own mnemonics, so the first-control rule holds.
        auto* ke = static_cast<QKeyEvent*>(event);
        const int key = ke->key();
        const bool ours = key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape
                          || (key > 0 && key <= 0xFFFF
                              && m_colAccessKeys.contains(QString(QChar(key)).toLower()));
        if (ours) {
            event->accept();
            return true;
        }
        break;
    }
    case QEvent::KeyPress:
        if (isOurControl(watched) && handleKey(static_cast<QKeyEvent*>(event)))
            return true;
        break;
    case QEvent::MouseButtonRelease:
        if (watched == m_lblExpand && m_lblExpand->isEnabled()
            && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            m_bExpand = !m_bExpand;
            UpdateExpand();
            return true;
        }
        break;
    default:
        break;
    }
    return QDialog::eventFilter(watched, event);
}

void frmMsgBoxEx::keyPressEvent(QKeyEvent* event)
{
    // Keys that reach the window itself; those of the controls come through eventFilter.
    if (m_loaded && handleKey(event))
        return;
    if (event->key() == Qt::Key_Escape)
        return; // never QDialog's reject(): Escape belongs to the cancel button
    QDialog::keyPressEvent(event);
}

void frmMsgBoxEx::closeEvent(QCloseEvent* event)
{
    // A close request from the frame (close box, Alt+F4, the window manager) arrives as a
    // spontaneous event: it becomes a click of the cancel button, just after the request.
    // A close() from the program is an unload and is never refused.
    QPushButton* cancel = m_loaded && event->spontaneous() ? Cmd(m_lCancel) : nullptr;
    if (cancel) {
        event->ignore();
        QPointer<QPushButton> target(cancel);
        QMetaObject::invokeMethod(
            this,
            [this, target] {
                if (m_loaded && target && m_cmd.contains(target.data()) && target->isEnabled())
                    target->click();
            },
            Qt::QueuedConnection);
        return;
    }
    // It closes without a button value; a modal ShowBox then returns -1.
    event->accept();
    if (m_loaded && m_showMode == 0)
        UnloadBox();
}

void frmMsgBoxEx::hideEvent(QHideEvent* event)
{
    QDialog::hideEvent(event);
    if (m_loop && !isVisible())
        m_loop->quit();
}
