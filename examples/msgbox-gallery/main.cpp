// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// Shows the extended message box in its typical forms, in English or Japanese.
//
//   msgbox-gallery <form> <en|ja> [--screenshot FILE]
//
// Forms: info, question, options, details-collapsed, details-expanded, long, nocancel,
// modeless. Without --screenshot the box waits for the user and the value of the button
// pressed is printed; with it, the box's window is saved as a PNG and answered at once.

#include "locale/modLocale.h"
#include "msgbox/frmMsgBoxEx.h"

#include <QApplication>
#include <QPushButton>
#include <QTextStream>
#include <QTimer>

#include <cstdio>

namespace {

struct Texts {
    bool ja;
    QString pick(const char* en, const char* jp) const
    {
        return ja ? QString::fromUtf8(jp) : QString::fromUtf8(en);
    }
};

QVariantList ids(std::initializer_list<int> list)
{
    QVariantList out;
    for (int id : list)
        out << id;
    return out;
}

// Fills the box for one form; false for an unknown form name.
bool fill(frmMsgBoxEx& box, const QString& form, const Texts& t, int& showMode)
{
    showMode = 1;
    if (form == QLatin1String("info")) {
        box.m_MsgIcon = frmMsgBoxEx::Information;
        box.m_strLargeMsg = t.pick("Communication configuration was changed.",
                                   "通信設定を変更しました。");
        box.m_strSmallMsg = t.pick("Reboot the controller to use the new settings.",
                                   "新しい設定を有効にするには、コントローラを再起動してください。");
        box.m_varButtons = ids({5004});
    } else if (form == QLatin1String("question")) {
        box.m_MsgIcon = frmMsgBoxEx::Question;
        box.m_strLargeMsg = t.pick("Write the changed settings to the controller?",
                                   "変更した設定をコントローラに書き込みますか?");
        box.m_strSmallMsg = t.pick("The Ethernet address and the executable token change.",
                                   "Ethernet アドレスと実行権が変更されます。");
        box.m_varButtons = ids({5009, 5010, 5005});
        box.m_lDefault = 0;
    } else if (form == QLatin1String("options")) {
        box.m_MsgIcon = frmMsgBoxEx::Warning;
        box.m_strLargeMsg = t.pick("The controller already has a permission device.",
                                   "コントローラには既に通信許可デバイスが設定されています。");
        box.m_strSmallMsg = t.pick("Choose what to do with it:", "処理を選択してください:");
        box.m_varOptions = QVariantList{t.pick("&Keep the current device", "現在のデバイスを維持する(&K)"),
                                        t.pick("&Replace it with Ethernet", "Ethernet に置き換える(&R)"),
                                        t.pick("&Ask again later", "後で確認する(&A)")};
        box.m_strCheck = 5000;
        box.m_varButtons = ids({5004, 5005});
    } else if (form == QLatin1String("details-collapsed") || form == QLatin1String("details-expanded")) {
        box.m_MsgIcon = frmMsgBoxEx::Error;
        box.m_strLargeMsg = t.pick("Failed to send data to the controller.",
                                   "コントローラへのデータ送信に失敗しました。");
        box.m_strSmallMsg = t.pick("Check the cable and the controller's address, then try again.",
                                   "ケーブルとコントローラのアドレスを確認して、もう一度実行してください。");
        box.m_strExpand = t.pick("Record: @CNF_RAW_COM\nAddress: 127.0.0.2\nNo answer after 3 retries of 4000 ms.",
                                 "レコード: @CNF_RAW_COM\nアドレス: 127.0.0.2\n4000 ms で 3 回再試行しましたが応答がありません。");
        box.m_strCheck = 5001;
        box.m_varButtons = ids({5007, 5005});
        box.m_bExpand = form == QLatin1String("details-expanded");
    } else if (form == QLatin1String("long")) {
        box.m_MsgIcon = frmMsgBoxEx::Information;
        box.m_strLargeMsg = t.pick(
            "The controller keeps its communication settings in two records; both are read, "
            "merged with the edited fields and written back as a whole, so that no other "
            "setting of the controller changes.",
            "コントローラは通信設定を2つのレコードに保持しています。両方を読み込み、編集した項目を"
            "反映してからまとめて書き戻すため、コントローラのほかの設定は変わりません。");
        box.m_varButtons = ids({5004});
    } else if (form == QLatin1String("nocancel")) {
        box.m_MsgIcon = frmMsgBoxEx::Wait;
        box.m_strLargeMsg = t.pick("The controller is still busy.", "コントローラは処理中です。");
        box.m_strSmallMsg = t.pick("Wait for the current command to finish?",
                                   "現在のコマンドが終わるまで待ちますか?");
        box.m_varButtons = ids({5009, 5010});
    } else if (form == QLatin1String("modeless")) {
        box.m_MsgIcon = frmMsgBoxEx::NoIcon;
        box.m_strLargeMsg = t.pick("Reading the controller's settings.", "コントローラの設定を読み込んでいます。");
        box.m_strSmallMsg = t.pick("The wizard goes on while this box is open.",
                                   "このボックスを開いたまま作業を続けられます。");
        box.m_varButtons = QVariantList{5011, t.pick("&Details…", "詳細(&D)…")};
        showMode = 0;
    } else {
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QString shot;
    if (const qsizetype at = args.indexOf(QStringLiteral("--screenshot")); at >= 0 && at + 1 < args.size()) {
        shot = args.at(at + 1);
        args.remove(at, 2);
    }
    QTextStream err(stderr), out(stdout);
    if (args.size() != 2 || (args[1] != QLatin1String("en") && args[1] != QLatin1String("ja"))) {
        err << "usage: msgbox-gallery <info|question|options|details-collapsed|details-expanded|"
               "long|nocancel|modeless> <en|ja> [--screenshot FILE]\n";
        return 2;
    }
    const Texts texts{args[1] == QLatin1String("ja")};
    InitLocale(texts.ja ? kLangJapanese : kLangEnglish);

    frmMsgBoxEx box;
    int showMode = 1;
    if (!fill(box, args[0], texts, showMode)) {
        err << "msgbox-gallery: unknown form " << args[0] << "\n";
        return 2;
    }
    QObject::connect(&box, &frmMsgBoxEx::OnButtonClick, [&](qint32 value) {
        out << "OnButtonClick " << value << Qt::endl;
    });

    int status = 0;
    if (!shot.isEmpty()) {
        // Save the window once it is on the screen, then answer with its last button.
        QTimer::singleShot(0, &box, [&] {
            if (!box.grab().save(shot)) {
                err << "msgbox-gallery: cannot write " << shot << "\n";
                status = 1;
            }
            QPushButton* last = box.Cmd(box.CmdCount() - 1);
            if (box.isLoaded() && last && last->isEnabled())
                last->click();
            else
                box.hide();
            if (showMode == 0)
                app.quit();
        });
    }

    if (showMode == 0) {
        const qint32 r = box.ShowBox(nullptr, 0);
        out << "ShowBox " << r << Qt::endl;
        if (r != 0)
            return 1;
        QObject::connect(&box, &frmMsgBoxEx::OnButtonClick, &app, [&] {
            QTimer::singleShot(0, &app, [&] {
                if (!box.isLoaded())
                    app.quit();
            });
        });
        app.exec();
        return status;
    }
    const qint32 r = box.ShowBox(nullptr, 1);
    out << "ShowBox " << r << Qt::endl;
    return status;
}
