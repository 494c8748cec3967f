// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// The wizard's one window: header band, five pages in a page container whose tabs the
// user never sees, and the button band. Constructing it runs the start-up sequence;
// closing it runs the unload sequence (disconnect, release the engine's objects).

#include "wizard/wizardmodel.h"
#include "controller/controllerview.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <array>
#include <memory>

class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTabWidget;
class CommLink;
class frmFind;
struct ConnText;
class uctIPAddressCtrl;

class frmMain : public QWidget, public ControllerView {
    Q_OBJECT
public:
    explicit frmMain(QWidget* parent = nullptr);
    ~frmMain() override;

    // Pages by step: 0 connection, 1 permission, 2 Ethernet, 3 RS232C, 4 token.
    int currentStep() const { return m_step; }
    bool changed() const { return m_changed; }
    CommLink* link() const { return m_link.get(); }

    // Appends texts with their item data (parallel lists), selects position, sets enabled.
    static void FillCombo(QComboBox* list, const QStringList& texts, const QList<qint32>& itemData,
                          qint16 position, bool enabled);
    static void FillCombo(QComboBox* list, const wizard::ListItems& items, bool enabled);
    // Selects the first item whose item data equals value; false (selection kept) when none.
    static bool SelectComboItem(QComboBox* list, qint32 value);

    // The executable's name without extension: message titles and the settings file name.
    static QString ExeName();
    // The window's height outside its client area as the layout rule counts it: a caption
    // of 23 and a dialog frame of 3 pixels top and bottom, the same on every platform, so
    // the client area is the same whatever decorations the window manager adds.
    static constexpr int kFrameExtraPx = 23 + 2 * 3;
    // Height of the page container's (hidden) tab strip in twips.
    static constexpr int kTabStripTwips = 295;

    // ControllerView: what the controller routines read from the connection and
    // permission pages.
    bool EthernetSelected() const override;
    IPv4 ConnectAddress() const override;
    std::optional<int> PortNumber() const override;
    std::optional<int> BaudRate() const override;
    std::optional<int> ParityPosition() const override;
    std::optional<int> DataLength() const override;
    std::optional<QString> StopBitText() const override;
    int DevicePosition() const override;

public slots:
    void cmdNext_Click();
    void cmdBack_Click();
    void cmdCancel_Click();
    void cmdFind_Click();  // opens the Find dialog (window-modal; returns at once)
    void optDevice_Click(int index);
    void optToken_Click(int index);
    void Form_Resize();
    void ShowStep();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildWindow();  // the window, then each band and page in its own step
    void BuildHeader();
    void BuildConnectionPage();
    void BuildPermissionPage();
    void BuildEthernetPage();
    void BuildSerialPage();
    void BuildTokenPage();
    void BuildButtons();
    void ConnectControls();
    void ShowTransfer(const TransferProgress& p);
    void ShowProgressLine(const std::optional<QString>& text);
    // The first page shows a connection chosen in the Find dialog; the focus goes to Next.
    void ShowConnection(const ConnText& t);
    void RememberConnection();  // a connection that read a controller joins the recent ones
    void ShowFindButton();      // on the connection page, while the band's line is away
    void Form_Load();
    void Form_Unload();
    // Next, one function a step; each ends the press early by returning false.
    void NextPress();
    bool PassControllerError();  // false: the user chose to stay (Cancel)
    bool OpenController();       // connection page: connect and read, or say why not
    void ShowSettings(const CommSettings& s);  // the pages show what was read
    void LeaveDevicePage();      // the Ethernet or RS232C page's values into the settings
    void Complete();             // token page: merge, write back what changed, report
    wizard::SerialPage SerialSelections() const;  // the RS232C page's selections
    void SetSerialPage(const wizard::SerialPage& page);
    void SetTokenOption(int element);  // -1: none selected
    int SelectedToken() const;         // first selected element, -1 none
    void ShowPage(int page);
    void ProbeSerialPorts();
    void FitCaptions();
    bool FailConnect(const QVariant& textId);
    void SetBusy(bool busy);
    // Cancel or the close box during a press: the controller's wait ends, what the press
    // began there is ended without changing anything, and the window closes after it.
    void CancelPress();
    // After a page change: the control that had the focus keeps it while it is still
    // shown and enabled; otherwise the page's first control in the keyboard order takes
    // it, as Tab would give it.
    void FocusPage(QWidget* focus);

    // The serial-line lists of a page: those of the connection page end in 1, those of
    // the RS232C page in 4. Both sets hold the same items.
    struct LineLists {
        QComboBox* cmbBaudRate = nullptr;
        QComboBox* cmbParity = nullptr;
        QComboBox* cmbDataLength = nullptr;
        QComboBox* cmbStopbit = nullptr;
    };
    // Appends the items of the four lists, selects 38400, None, 8 and 1, enables the
    // baud rate list as asked and the other three never.
    static void FillLineLists(const LineLists& lists, bool baudEnabled);

    // Header band
    QLabel* picHeader = nullptr;
    QLabel* lblTitle = nullptr;
    QLabel* Image1 = nullptr;
    QTabWidget* tabWizard = nullptr;
    // Connection page
    QGroupBox* frmStep1 = nullptr;
    std::array<QRadioButton*, 2> optDevice{};
    uctIPAddressCtrl* uctIPAddress1 = nullptr;
    QComboBox* cmbPort1 = nullptr;
    LineLists line1;  // cmbBaudRate1, cmbParity1, cmbDataLength1, cmbStopbit1
    QLabel* lblExplanation1 = nullptr;
    // Permission page
    QGroupBox* frmStep2 = nullptr;
    QComboBox* cmbDevice = nullptr;
    QLabel* lblExplanation2 = nullptr;
    // Ethernet page
    QGroupBox* frmEtherNet = nullptr;
    uctIPAddressCtrl* uctIPAddress3 = nullptr;
    uctIPAddressCtrl* uctSubnetMask = nullptr;
    QLabel* lblExplanation3 = nullptr;
    // RS232C page
    QGroupBox* frmSirial = nullptr;
    LineLists line4;  // cmbBaudRate4, cmbParity4, cmbDataLength4, cmbStopbit4
    QComboBox* cmbDelimiter4 = nullptr;
    QLabel* lblExplanation4 = nullptr;
    // Token page
    QGroupBox* frmToken = nullptr;
    std::array<QRadioButton*, 6> optToken{};
    uctIPAddressCtrl* uctIP = nullptr;
    QLabel* lblExplanation5 = nullptr;
    // Button band
    QFrame* frmNavi = nullptr;
    QPushButton* cmdBack = nullptr;
    QPushButton* cmdNext = nullptr;
    QPushButton* cmdCancel = nullptr;
    // At the band's left on the connection page: finds the controller to connect to.
    QPushButton* cmdFind = nullptr;
    QPointer<frmFind> m_find;
    // In the band's free left part while a record moves slowly: what moves and the
    // time left, over a thin bar. Neither takes clicks or focus.
    QLabel* lblTransfer = nullptr;
    QProgressBar* prgTransfer = nullptr;
    wizard::ProgressLine m_transfer;

    std::unique_ptr<CommLink> m_link;  // engine object and workspace, connection, records
    int m_step = 0;
    bool m_changed = false;
    bool m_busy = false;          // a press is under way (controller calls, messages)
    class InputGate;
    std::unique_ptr<InputGate> m_gate;  // while busy: input reaches Cancel only
    bool m_closePending = false;  // the close box was used during a press
    bool m_unloaded = false;
    bool m_inResize = false;
    QList<QWidget*> m_tabOrder;  // the keyboard order, pages then buttons
};
