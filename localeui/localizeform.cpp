// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "localeui/localizeform.h"

#include "locale/modLocale.h"

#include <QAbstractButton>
#include <QAction>
#include <QFontDatabase>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMdiArea>
#include <QMenu>
#include <QOperatingSystemVersion>
#include <QPlainTextEdit>
#include <QPointer>
#include <QSet>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

namespace {

// The 32-bit whole number a tag's id text stands for; blanks around it are allowed,
// a fraction rounds half to even. Letters, an empty text or a number out of range: none.
std::optional<qint32> tagNumber(const QString& text)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return std::nullopt;
    bool ok = false;
    const qlonglong n = t.toLongLong(&ok);
    if (ok) {
        if (n < std::numeric_limits<qint32>::min() || n > std::numeric_limits<qint32>::max())
            return std::nullopt;
        return qint32(n);
    }
    const double d = t.toDouble(&ok);
    if (!ok || !std::isfinite(d))
        return std::nullopt;
    const double r = std::nearbyint(d);
    if (r < std::numeric_limits<qint32>::min() || r > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return qint32(r);
}

// The decimal number at the start of a text ("128" -> 128, "" -> 0).
int leadingNumber(const QString& text)
{
    const QString t = text.trimmed();
    qlonglong n = 0;
    for (QChar c : t) {
        if (!c.isDigit() || c.unicode() > '9')
            break;
        n = n * 10 + (c.unicode() - '0');
        if (n > std::numeric_limits<int>::max())
            return 0;
    }
    return int(n);
}

bool familyInstalled(const QString& family)
{
    if (family.isEmpty())
        return false;
    // QFontDatabase compares without regard to case, as Windows font names do.
    return QFontDatabase::families().contains(family, Qt::CaseInsensitive);
}

// The IP address control keeps its font in a font object under the property "Font".
QObject* fontObjectOf(QWidget* w)
{
    const QVariant v = w->property("Font");
    if (!v.isValid())
        return nullptr;
    return v.value<QObject*>();
}

// Sets only the family: point size, weight and style of the widget stay.
void setFamily(QWidget* w, const QString& family)
{
    QFont f = w->font();
    f.setFamily(family);
    w->setFont(f);
}

// Sets a control's font name and character set; a family that is not installed is
// refused and the control keeps its own.
void setControlFont(QWidget* w, const QString& family, int charset)
{
    if (QObject* font = fontObjectOf(w)) {
        if (familyInstalled(family))
            font->setProperty("Name", family);
        font->setProperty("Charset", charset);
        return;
    }
    if (familyInstalled(family))
        setFamily(w, family);
    w->setProperty("charset", charset);
}

template <class Get, class Set>
void resolveInPlace(Get get, Set set)
{
    const QString before = get();
    const QString after = ResolveTag(before);
    if (after != before)
        set(after);
}

void localizeMenu(QMenu* menu, QSet<QMenu*>& seen)
{
    if (!menu || seen.contains(menu))
        return;
    seen.insert(menu);
    for (QAction* a : menu->actions()) {
        resolveInPlace([a] { return a->text(); }, [a](const QString& s) { a->setText(s); });
        localizeMenu(a->menu(), seen);
    }
}

void localizeToolBar(QToolBar* bar)
{
    QSet<QMenu*> seen;
    for (QAction* a : bar->actions()) {
        resolveInPlace([a] { return a->text(); }, [a](const QString& s) { a->setText(s); });
        resolveInPlace([a] { return a->toolTip(); }, [a](const QString& s) { a->setToolTip(s); });
        localizeMenu(a->menu(), seen);
        if (auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(a)))
            localizeMenu(button->menu(), seen);
    }
}

void localizeTabBar(QTabBar* bar)
{
    for (int i = 0; i < bar->count(); ++i) {
        resolveInPlace([bar, i] { return bar->tabText(i); }, [bar, i](const QString& s) { bar->setTabText(i, s); });
        resolveInPlace([bar, i] { return bar->tabToolTip(i); },
                       [bar, i](const QString& s) { bar->setTabToolTip(i, s); });
    }
}

void localizeTabWidget(QTabWidget* tabs)
{
    for (int i = 0; i < tabs->count(); ++i) {
        resolveInPlace([tabs, i] { return tabs->tabText(i); },
                       [tabs, i](const QString& s) { tabs->setTabText(i, s); });
        resolveInPlace([tabs, i] { return tabs->tabToolTip(i); },
                       [tabs, i](const QString& s) { tabs->setTabToolTip(i, s); });
    }
}

void localizeItem(QTreeWidgetItem* item, int columns)
{
    if (!item)
        return;
    for (int c = 0; c < columns; ++c)
        resolveInPlace([item, c] { return item->text(c); }, [item, c](const QString& s) { item->setText(c, s); });
}

void localizeTableItem(QTableWidgetItem* item)
{
    if (!item)
        return;
    resolveInPlace([item] { return item->text(); }, [item](const QString& s) { item->setText(s); });
}

// Caption, text, tooltip and tag of one control, in that order.
void localizeTexts(QWidget* w)
{
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        // A tool button that shows an action takes its text from the action.
        auto* tb = qobject_cast<QToolButton*>(w);
        if (!tb || !tb->defaultAction())
            resolveInPlace([b] { return b->text(); }, [b](const QString& s) { b->setText(s); });
    } else if (auto* l = qobject_cast<QLabel*>(w)) {
        // Only a changed text is set: setText would drop a label's picture.
        resolveInPlace([l] { return l->text(); }, [l](const QString& s) { l->setText(s); });
    } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
        resolveInPlace([g] { return g->title(); }, [g](const QString& s) { g->setTitle(s); });
    } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
        resolveInPlace([e] { return e->text(); }, [e](const QString& s) { e->setText(s); });
    } else if (auto* p = qobject_cast<QPlainTextEdit*>(w)) {
        resolveInPlace([p] { return p->toPlainText(); }, [p](const QString& s) { p->setPlainText(s); });
    }
    resolveInPlace([w] { return w->toolTip(); }, [w](const QString& s) { w->setToolTip(s); });
    const QVariant tag = w->property("tag");
    if (tag.metaType().id() == QMetaType::QString)
        resolveInPlace([&tag] { return tag.toString(); }, [w](const QString& s) { w->setProperty("tag", s); });
}

void localizeByType(QWidget* w)
{
    if (auto* tabs = qobject_cast<QTabWidget*>(w)) {
        localizeTabWidget(tabs);
    } else if (auto* bar = qobject_cast<QTabBar*>(w)) {
        // The tab bar of a tab widget is done through the tab widget.
        if (!qobject_cast<QTabWidget*>(bar->parentWidget()))
            localizeTabBar(bar);
    } else if (auto* toolBar = qobject_cast<QToolBar*>(w)) {
        localizeToolBar(toolBar);
    } else if (auto* tree = qobject_cast<QTreeWidget*>(w)) {
        localizeItem(tree->headerItem(), tree->columnCount());
    } else if (auto* table = qobject_cast<QTableWidget*>(w)) {
        for (int c = 0; c < table->columnCount(); ++c)
            localizeTableItem(table->horizontalHeaderItem(c));
        for (int r = 0; r < table->rowCount(); ++r)
            localizeTableItem(table->verticalHeaderItem(r));
    }
}

// Controls inside a child window belong to that window's own localization, and the
// inside of a control with a font object (the IP address control) is its own business.
bool outsideWalk(QWidget* w, QWidget* window)
{
    if (w->isWindow())
        return true;
    for (QWidget* p = w->parentWidget(); p && p != window; p = p->parentWidget()) {
        if (p->isWindow() || fontObjectOf(p))
            return true;
    }
    return false;
}

bool isMdiFrame(QWidget* window)
{
    if (qobject_cast<QMdiArea*>(window))
        return true;
    auto* main = qobject_cast<QMainWindow*>(window);
    return main && qobject_cast<QMdiArea*>(main->centralWidget());
}

// Runs one step of the walk; a step that fails is skipped and the walk goes on.
template <class Step>
void tryStep(Step step)
{
    try {
        step();
    } catch (...) {
    }
}

// The screen pointer: the application's override cursor, 0 when there is none.
struct PointerEntry {
    qint16 code;
    std::optional<QCursor> cursor;  // the exact cursor, so a custom one comes back too
};

std::vector<PointerEntry>& pointerStack()
{
    static std::vector<PointerEntry> stack;
    return stack;
}

struct ShapeCode {
    Qt::CursorShape shape;
    qint16 code;
};

// The Windows mouse-pointer codes and their Qt shapes.
constexpr ShapeCode kShapes[] = {
    {Qt::ArrowCursor, 1},     {Qt::CrossCursor, 2},     {Qt::IBeamCursor, 3},    {Qt::SizeBDiagCursor, 6},
    {Qt::SizeVerCursor, 7},   {Qt::SizeFDiagCursor, 8}, {Qt::SizeHorCursor, 9},  {Qt::UpArrowCursor, 10},
    {Qt::WaitCursor, 11},     {Qt::ForbiddenCursor, 12}, {Qt::BusyCursor, 13},   {Qt::WhatsThisCursor, 14},
    {Qt::SizeAllCursor, 15},
};

std::optional<QCursor> cursorForCode(qint16 code)
{
    for (const ShapeCode& s : kShapes) {
        if (s.code == code)
            return QCursor(s.shape);
    }
    return std::nullopt;
}

qint16 codeForCursor(const QCursor& cursor)
{
    for (const ShapeCode& s : kShapes) {
        if (s.shape == cursor.shape())
            return s.code;
    }
    return 99;
}

void setScreenPointer(qint16 code, const std::optional<QCursor>& exact = std::nullopt)
{
    std::optional<QCursor> cursor = exact ? exact : cursorForCode(code);
    if (!cursor && code != 0)
        cursor = QCursor(Qt::ArrowCursor);  // a code without a shape of its own
    if (!cursor) {
        while (QGuiApplication::overrideCursor())
            QGuiApplication::restoreOverrideCursor();
        return;
    }
    if (QGuiApplication::overrideCursor())
        QGuiApplication::changeOverrideCursor(*cursor);
    else
        QGuiApplication::setOverrideCursor(*cursor);
}

qint16 g_customCode = 0;  // set when the pointer was set to a code without its own shape

} // namespace

QString ResolveTag(const QString& text)
{
    const qsizetype hash = text.lastIndexOf(QLatin1Char('#'));
    if (hash < 0)
        return text;
    const auto id = tagNumber(text.mid(hash + 1));
    if (!id)
        return text;
    return LStr(*id);
}

int GetOSMajorVersion()
{
#ifdef Q_OS_WIN
    const int major = QOperatingSystemVersion::current().majorVersion();
    return major > 0 ? major : 5;
#else
    // Other platforms take the look of current Windows.
    return 10;
#endif
}

std::optional<QCursor> GetHandCursor()
{
    return QCursor(Qt::PointingHandCursor);
}

void LocalizeForm(QWidget* window, const QVariant& fontName)
{
    if (!window)
        return;
    const int major = GetOSMajorVersion();
    const int charset = leadingNumber(LStr(5));
    QString family;
    const QString given = fontName.isValid() ? LStr(fontName) : QString();
    if (!given.isEmpty())
        family = given;
    else
        family = LStr(major < 6 ? 1 : 2);

    // A family that is not installed counts as refused: then id 3, then id 4 ("System",
    // the platform's general font) with the language's character set.
    if (!isMdiFrame(window)) {
        tryStep([&] {
            if (familyInstalled(family)) {
                setFamily(window, family);
                return;
            }
            family = LStr(3);
            if (familyInstalled(family)) {
                setFamily(window, family);
                return;
            }
            family = LStr(4);
            if (!familyInstalled(family))
                family = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
            setFamily(window, family);
            window->setProperty("charset", charset);
        });
    }

    tryStep([&] { window->setWindowTitle(ResolveTag(window->windowTitle())); });

    // Guarded: a control may delete another while its texts change.
    QList<QPointer<QWidget>> controls;
    for (QWidget* w : window->findChildren<QWidget*>())
        controls.append(w);
    for (const QPointer<QWidget>& w : std::as_const(controls)) {
        if (!w || outsideWalk(w, window))
            continue;
        tryStep([&] { setControlFont(w, family, charset); });
        tryStep([&] { localizeTexts(w); });
        tryStep([&] {
            if (w)
                localizeByType(w);
        });
    }
}

void ChangeMousePointer(qint16 pointer)
{
    const QCursor* current = QGuiApplication::overrideCursor();
    pointerStack().push_back({ScreenMousePointer(), current ? std::optional<QCursor>(*current) : std::nullopt});
    g_customCode = cursorForCode(pointer) || pointer == 0 ? qint16(0) : pointer;
    setScreenPointer(pointer);
}

qint16 UnChangeMousePointer()
{
    auto& stack = pointerStack();
    if (stack.empty()) {
        // The one diagnostic line of the program (the debugger output on Windows).
        qWarning("Error in UnChangeMousePointer");
        return 0;
    }
    const PointerEntry top = stack.back();
    stack.pop_back();
    setScreenPointer(top.code, top.cursor);
    g_customCode = cursorForCode(top.code) || top.code == 0 ? qint16(0) : top.code;
    return qint16(stack.size());
}

qint16 ScreenMousePointer()
{
    const QCursor* current = QGuiApplication::overrideCursor();
    if (!current)
        return 0;
    if (g_customCode != 0 && current->shape() == Qt::ArrowCursor)
        return g_customCode;
    return codeForCursor(*current);
}
