// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// The address window hosted by uctIPAddressCtrl: four decimal fields with dots between
// them inside one line-edit frame. It answers the IP address control messages
// (IPM_*) with their usual effects and gives the keyboard behaviour engineers know from
// the Windows control: digits only, auto-advance, "." to move on, Backspace and the
// arrow keys crossing fields, pasting and copying whole dotted addresses.
//
// An address typed in one go over one already shown must come out exactly as typed:
// after a field fills with three digits the caret moves on by itself, and the "." or
// blank typed next is the separator already passed, so it is swallowed.

#include <QWidget>
#include <array>
#include <optional>

class QLineEdit;
class QLabel;
class QTimer;
class QKeyEvent;
class QContextMenuEvent;

class IPAddressWindow : public QWidget
{
    Q_OBJECT

public:
    // Message numbers of the IP address control (WM_USER + 100 to WM_USER + 105).
    enum Message : quint32 {
        IPM_CLEARADDRESS = 1124,  // clear all fields
        IPM_SETADDRESS = 1125,    // lParam: packed address
        IPM_GETADDRESS = 1126,    // lParam: quint32* receiving the packed address; reply: non-blank fields
        IPM_SETRANGE = 1127,      // wParam: field, lParam: packed range (max high byte, min low byte)
        IPM_SETFOCUS = 1128,      // wParam: field; beyond 3: first blank field, else field 0
        IPM_ISBLANK = 1129,       // reply non-zero when every field is blank
    };
    static constexpr int kFieldCount = 4;

    explicit IPAddressWindow(QWidget* parent = nullptr);
    ~IPAddressWindow() override;

    // Dispatches one IPM_* message; unknown messages answer 0.
    qintptr SendMessage(quint32 message, quintptr wParam, qintptr lParam);

    void ClearAddress();
    // Values outside a field's range are set to the nearest bound.
    void SetAddress(quint32 packed);
    // Blank fields read as 0; returns the number of non-blank fields.
    int GetAddress(quint32* packed) const;
    // Field 0 to 3 only (false otherwise). A lowest above the highest is swapped, so a
    // field never gets an empty range; a value already entered is brought into range.
    bool SetRange(int field, quint8 byMax, quint8 byMin);
    void SetFocusField(quintptr field);
    bool IsBlank() const;

    QLineEdit* Field(int index) const;
    quint8 FieldMin(int index) const { return m_min.at(size_t(index)); }
    quint8 FieldMax(int index) const { return m_max.at(size_t(index)); }
    // -1 when blank, else the field's number brought into its range.
    int FieldValue(int index) const;

    // The dotted address as copied to the clipboard: blank fields as 0, empty text when
    // every field is blank.
    QString Text() const;
    // Fills all four fields from a dotted address (ranges applied); false and no change
    // for anything else.
    bool SetText(const QString& dotted);
    // The fields' accessible names: "<name>, octet n of 4", or "Octet n of 4" without
    // a name, from the string table in the current language.
    void SetFieldNames(const QString& controlName);
    // The note beside a field whose typed value was brought into range; hidden when
    // none is shown. Kept for a few seconds, as the platform's control does.
    QLabel* RangeNote() const { return m_note; }
    static constexpr int kNoteMilliseconds = 5000;

signals:
    // The address (a field's value or blankness) changed, by the user or the program.
    void addressChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    enum class Caret { SelectAll, Start, End };

    int indexOf(const QObject* object) const;
    bool handleKey(int index, QKeyEvent* event);
    void handleContextMenu(int index, QContextMenuEvent* event);
    void typeDigit(int index, QChar digit);
    // Brings a field's text into its range; with tell, a changed value is said beside it.
    void commitField(int index, bool tell = false);
    void showRangeNote(int index, const QString& typed);
    void hideRangeNote();
    void goToField(int index, Caret caret);
    void copyAddress(int index);
    void pasteClipboard(int index);
    void updateMargins();
    void beginBatch() { ++m_batch; }
    void endBatch();
    void noteChange();

    std::array<QLineEdit*, kFieldCount> m_fields{};
    std::array<QLabel*, kFieldCount - 1> m_dots{};
    std::array<quint8, kFieldCount> m_min{0, 0, 0, 0};
    std::array<quint8, kFieldCount> m_max{255, 255, 255, 255};
    std::array<int, kFieldCount> m_last{-1, -1, -1, -1};
    int m_batch = 0;
    // The field the caret moved to by itself after a full field, until the next key.
    int m_autoAdvanced = -1;
    QLabel* m_note = nullptr;
    QTimer* m_noteTimer = nullptr;
};
