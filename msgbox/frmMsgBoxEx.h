// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// The program's own message window: title, icon, large and small message, caller-defined
// buttons, radio options, a check box and a collapsible details area, shown modal or
// modeless. The caller fills the public fields and calls ShowBox.
//
// Every position and size is worked out in twips (15 twips per logical pixel) and only
// then applied to the widgets; the twips figures stay readable through twipsRect() and
// friends so that the arrangement can be checked exactly.

#include <QDialog>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QRectF>
#include <QVariant>
#include <functional>
#include <optional>

class QCheckBox;
class QEventLoop;
class QLabel;
class QPushButton;
class QRadioButton;

// The window-system quantities one layout pass needs, read in this one place. Frames and
// caption are in pixels, the screen in twips.
struct BoxMetrics {
    double twipsPerPixelX = 15.0;
    double twipsPerPixelY = 15.0;
    int dialogFrameX = 3;   // pixels
    int dialogFrameY = 3;   // pixels
    int captionHeight = 23; // pixels
    double screenWidth = 1920 * 15.0;  // twips
    double screenHeight = 1080 * 15.0; // twips
    QRect screenPixels{0, 0, 1920, 1080}; // where the box is centred

    // The platform style's values and the primary screen's available area, unless a
    // test has fixed them with SetOverride.
    static BoxMetrics Current();
    static void SetOverride(std::optional<BoxMetrics> metrics);
};

class frmMsgBoxEx : public QDialog {
    Q_OBJECT
public:
    enum MsgIcon { Information = 0, Warning = 1, Error = 2, Question = 3, Wait = 4, NoIcon = 5 };

    explicit frmMsgBoxEx(QWidget* parent = nullptr);
    ~frmMsgBoxEx() override;

    // Public fields. Text values are a QString (shown as is) or a whole number (a
    // string-table id); during layout each is replaced by its resolved text.
    QVariant m_strTitle;          // shown unchanged; a number shows as its digits
    qint32 m_MsgIcon = 0;         // MsgIcon
    QVariant m_strLargeMsg = QString();
    QVariant m_strSmallMsg = QString();
    QVariant m_varButtons;        // list of text values, one button each; must be given
    qint32 m_lDefault = -1;       // index of the default button
    qint32 m_lCancel = -1;        // index of the cancel button; -1 = first 5005 button
    QVariant m_varOptions;        // list of text values, or nothing
    qint32 m_lOptValue = -1;      // in/out: selected option
    QVariant m_strCheck = QString();
    qint32 m_lCheckVal = 0;       // in/out: 0 clear, 1 checked
    QVariant m_strExpand = QString();
    QVariant m_strOpenExpand = 5002;
    QVariant m_strCloseExpand = 5003;
    bool m_bExpand = false;       // in/out: details open
    bool m_bHideCloseButton = false;

    // showMode 1: modal, returns the value of the button pressed (-1 when the box was
    // closed without one). showMode 0: modeless, returns 0 at once. -1 on any failure.
    qint32 ShowBox(QWidget* owner, qint32 showMode = 1);

    // The button-value rule: a whole number element is its own value, a text its index.
    static std::optional<qint32> ElementNumber(const QVariant& element);

    // Sound seam: receives the Windows beep type (64, 48, 16, 32). Returns the old one;
    // an empty handler restores QApplication::beep.
    using BeepHandler = std::function<void(int beepType)>;
    static BeepHandler SetBeepHandler(BeepHandler handler);

    // Controls, for callers that decorate the box and for tests.
    QPushButton* Cmd(int i) const { return i >= 0 && i < m_cmd.size() ? m_cmd[i] : nullptr; }
    int CmdCount() const { return int(m_cmd.size()); }
    QRadioButton* Opt(int i) const { return i >= 0 && i < m_opt.size() ? m_opt[i] : nullptr; }
    int OptCount() const { return int(m_opt.size()); }
    QCheckBox* Chk() const { return m_chk; }
    QLabel* lblMain() const { return m_lblMain; }
    QLabel* lblMsg() const { return m_lblMsg; }
    QLabel* lblExpand() const { return m_lblExpand; }
    QLabel* lblExpanded() const { return m_lblExpanded; }
    QLabel* imgMsg(int kind) const { return kind >= 0 && kind < 5 ? m_img[kind] : nullptr; }
    QWidget* picBase() const { return m_picBase; }
    QWidget* lnExpand(int i) const { return i == 0 || i == 1 ? m_ln[i] : nullptr; }

    // Layout results in twips.
    QRectF twipsRect(const QWidget* control) const { return m_twips.value(control); }
    double windowWidthTwips() const { return m_winW; }
    double windowHeightTwips() const { return m_winH; }
    double panelHeightTwips() const { return m_twips.value(m_picBase).height(); }
    double lineYTwips(int i) const { return i == 0 ? m_lineY0 : m_lineY0 + m_lineGap; }
    // Client area (window less frames and caption), in twips.
    double clientHeightTwips() const { return m_winH - m_topFrame - m_bottomFrame; }
    // The access-key table: lower-case character -> control.
    QHash<QString, QWidget*> accessKeys() const { return m_colAccessKeys; }
    bool isLoaded() const { return m_loaded; }

signals:
    // Raised for every button click, modal or modeless, before the box hides.
    void OnButtonClick(qint32 lButton);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // What the steps of one layout pass share: the twips of a pixel and of the frame,
    // the running top of the next part (y) and the inner width needed so far.
    struct LayoutPass {
        double tx = 15, ty = 15;
        double frameX = 0, frameY = 0, captionH = 0;
        bool currentLook = true;  // a white upper panel
        double innerW = 0, y = 0;
        QLabel* icon = nullptr;
        double textLeft = 0;
        double expandW = 0;  // the expander link's width, open or closed
        double rowW = 0;     // the button row's width
        int lastButton = 0;
    };
    void BuildLowerBand();
    void LoadIconPictures();
    void PlaceAndShow(QWidget* owner);
    qint32 RunModal();
    void LayoutBox();
    void LayoutFonts(const LayoutPass& pass);
    void LayoutIcon(LayoutPass& pass);
    void LayoutMessages(LayoutPass& pass);
    void LayoutMessage(LayoutPass& pass, QLabel* label, QVariant& field, const QFont& measureFont, bool indent);
    void LayoutOptions(LayoutPass& pass);
    void LayoutPanel(LayoutPass& pass);
    void LayoutDetails(LayoutPass& pass);
    void LayoutCheckBox(const LayoutPass& pass);
    void LayoutButtons(LayoutPass& pass);
    void LayoutWidth(LayoutPass& pass);
    void LayoutSeparator(const LayoutPass& pass);
    void UpdateExpand();
    void UpdateButtons();
    void RegisterAccessKey(QWidget* control, const QString& caption);
    void RemoveSystemMenu();
    void UnloadBox();
    void CmdClick(int i);
    void OptClick(int i);
    int GetSelectedIndex() const;
    bool handleKey(QKeyEvent* event);
    bool isOurControl(const QObject* o) const;

    QPushButton* newButton();
    QRadioButton* newOption();
    void watch(QWidget* w);
    void toEnd(QWidget* w);
    void toFront(QWidget* w);
    void applyTabOrder();

    // Twips geometry: each setter keeps the figure and moves the widget to the pixel.
    void setLeft(QWidget* w, double v);
    void setTop(QWidget* w, double v);
    void setWidth(QWidget* w, double v);
    void setHeight(QWidget* w, double v);
    double tLeft(const QWidget* w) const { return m_twips.value(w).x(); }
    double tTop(const QWidget* w) const { return m_twips.value(w).y(); }
    double tWidth(const QWidget* w) const { return m_twips.value(w).width(); }
    double tHeight(const QWidget* w) const { return m_twips.value(w).height(); }
    void apply(QWidget* w);
    double textWidth(const QFont& font, const QString& text) const;
    double textHeight(const QFont& font, const QString& text) const;
    double wrappedHeight(QLabel* label) const;

    BoxMetrics m_metrics;
    QWidget* m_picBase = nullptr;
    QLabel* m_img[5] = {};
    QLabel* m_lblMain = nullptr;
    QLabel* m_lblMsg = nullptr;
    QList<QRadioButton*> m_opt;
    QList<QPushButton*> m_cmd;
    QCheckBox* m_chk = nullptr;
    QLabel* m_lblExpand = nullptr;
    QWidget* m_ln[2] = {};
    QLabel* m_lblExpanded = nullptr;
    QFont m_windowFont, m_mainFont, m_expandFont;

    QHash<const QWidget*, QRectF> m_twips;
    QList<QWidget*> m_tabOrder;
    QHash<QString, QWidget*> m_colAccessKeys;
    QList<qint32> m_values;        // each button's value
    double m_winW = 0, m_winH = 0, m_lineY0 = 0, m_lineGap = 15;
    double m_topFrame = 0, m_bottomFrame = 0;

    QPointer<QWidget> m_owner;
    qint32 m_showMode = 1;
    qint32 m_lClickedIndex = -1;
    bool m_loaded = false;
    QEventLoop* m_loop = nullptr;
    Qt::WindowFlags m_designFlags;
};
