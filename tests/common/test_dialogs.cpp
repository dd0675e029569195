// The dialog functions through their hook, the server error names, and the
// general error box for errors that end a command.
#include "TestSupport.h"

#include "common/AppError.h"
#include "common/Text.h"
#include "common/VtApplication.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

class TestDialogs : public QObject
{
    Q_OBJECT
private slots:
    void serverErrorNames_data()
    {
        QTest::addColumn<unsigned>("code");
        QTest::addColumn<QString>("name");
        QTest::newRow("first") << 0x20000001u << "WC_UNSUPPORTED_VERSION";
        QTest::newRow("not logged in") << 0x20000006u << "WC_USER_NOT_LOGGED_IN";
        QTest::newRow("gap") << 0x2000000Bu << "Unrecoginzed error.";
        QTest::newRow("after gap") << 0x2000000Cu << "WC_OBJECTID_ALREADY_EXISTS";
        QTest::newRow("duplicate") << 0x2000001Du << "WC_DUPLICATE_RECORD";
        QTest::newRow("last") << 0x20000023u << "WC_CONTEXT_ALREADY_INITIALIZED";
        QTest::newRow("past last") << 0x20000024u << "Unrecoginzed error.";
        QTest::newRow("zero") << 0u << "Unrecoginzed error.";
    }

    void serverErrorNames()
    {
        QFETCH(unsigned, code);
        QFETCH(QString, name);
        DialogScript script;
        ShowServerError(code);
        QCOMPARE(script.shown.size(), 1);
        QCOMPARE(script.shown[0].kind, MessageKind::Warning);
        QCOMPARE(script.shown[0].text, name);
    }

    void confirmAnswers()
    {
        DialogScript script;
        script.answer(DialogAnswer::Yes).answer(DialogAnswer::No).answer(DialogAnswer::Closed);
        QVERIFY(ConfirmYesNo(QStringLiteral("q1")));
        QVERIFY(!ConfirmYesNo(QStringLiteral("q2")));
        QVERIFY(!ConfirmYesNo(QStringLiteral("q3"))); // closing counts as No
        script.answer(DialogAnswer::Yes)
            .answer(DialogAnswer::All)
            .answer(DialogAnswer::No)
            .answer(DialogAnswer::Closed);
        QCOMPARE(ConfirmYesNoAll(QStringLiteral("a")), 1);
        QCOMPARE(ConfirmYesNoAll(QStringLiteral("b")), -1);
        QCOMPARE(ConfirmYesNoAll(QStringLiteral("c")), 0);
        QCOMPARE(ConfirmYesNoAll(QStringLiteral("d")), 0); // closed box: 0, not -1
        QCOMPARE(script.shown.size(), 7);
        QCOMPARE(script.shown[3].kind, MessageKind::Confirmation);
    }

    void realBoxButtonsAndCaption()
    {
        // Without a hook the real box shows; click its "&All" button.
        const MessageHook saved = SetMessageHook({});
        QString caption;
        QStringList buttons;
        OnNextModal([&](QWidget* w) {
            caption = w->windowTitle();
            for (QPushButton* b : w->findChildren<QPushButton*>())
                buttons << b->text();
            for (QPushButton* b : w->findChildren<QPushButton*>())
                if (b->text() == QStringLiteral("&All"))
                    b->click();
        });
        const int result = ConfirmYesNoAll(QStringLiteral("Move?"));
        SetMessageHook(saved);
        QCOMPARE(result, -1);
        QCOMPARE(caption, QStringLiteral("Confirm"));
        QVERIFY(buttons.contains(QStringLiteral("&Yes")));
        QVERIFY(buttons.contains(QStringLiteral("&No")));
    }

    // Texts are shown exactly as passed: no markup, no mnemonics, for every
    // kind of box, in the real box and in what the box hook sees.
    void boxShowsTextAsIs_data()
    {
        QTest::addColumn<QString>("function");
        QTest::addColumn<QString>("text");
        const QStringList texts{
            QStringLiteral("<B>X.ZIP"),
            QStringLiteral("Delete file A%1.TXT from file area #%2?"),
            QStringLiteral("R&D <i>notes</i> &amp; <br> more"),
        };
        for (const char* function : {"warning", "information", "yesno", "yesnoall", "error"})
            for (int i = 0; i < texts.size(); ++i)
                QTest::addRow("%s %d", function, i) << QString::fromLatin1(function) << texts[i];
    }

    void boxShowsTextAsIs()
    {
        QFETCH(QString, function);
        QFETCH(QString, text);
        const auto call = [&] {
            if (function == QLatin1String("warning"))
                ShowWarning(text);
            else if (function == QLatin1String("information"))
                ShowInformation(text);
            else if (function == QLatin1String("yesno"))
                ConfirmYesNo(text);
            else if (function == QLatin1String("yesnoall"))
                ConfirmYesNoAll(text);
            else
                ShowErrorBox(text);
        };

        // The real box, no hooks.
        const MessageHook saved = SetMessageHook({});
        bool seen = false;
        Qt::TextFormat format = Qt::AutoText, labelFormat = Qt::AutoText;
        QString shown, labelText;
        OnNextModal([&](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            QVERIFY(box);
            seen = true;
            format = box->textFormat();
            shown = box->text();
            if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
                labelFormat = label->textFormat();
                labelText = label->text();
            }
            box->findChildren<QPushButton*>().first()->click();
        });
        call();
        SetMessageHook(saved);
        QVERIFY(seen);
        QCOMPARE(format, Qt::PlainText);
        QCOMPARE(shown, text);
        QCOMPARE(labelFormat, Qt::PlainText);
        QCOMPARE(labelText, text);

        // Answered through the message hook, the box hook sees the same box.
        DialogScript script;
        script.answer(DialogAnswer::No);
        QList<QPair<QString, Qt::TextFormat>> boxes;
        const MessageBoxHook previous = SetMessageBoxHook([&](const QMessageBox& box) {
            boxes.append({box.text(), box.textFormat()});
        });
        call();
        SetMessageBoxHook(previous);
        QCOMPARE(script.texts(), QStringList{text});
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes.first().first, text);
        QCOMPARE(boxes.first().second, Qt::PlainText);
    }

    void appErrorEndsCommandAndShowsErrorBox()
    {
        DialogScript script;
        bool after = false;
        const bool ok = RunCommand([&] {
            StrToInt(QStringLiteral("99999999999"));
            after = true;
        });
        QVERIFY(!ok);
        QVERIFY(!after);
        QCOMPARE(script.shown.size(), 1);
        QCOMPARE(script.shown[0].kind, MessageKind::Error);
        QCOMPARE(script.shown[0].text,
                 QStringLiteral("'99999999999' is not a valid integer value"));
    }

    void errorThrownInEventIsCaughtByApplication()
    {
        DialogScript script;
        QPushButton button(QStringLiteral("Go"));
        bool after = false;
        QObject::connect(&button, &QPushButton::clicked, [&] {
            throw WriteError(QStringLiteral("Unable to write to /x"));
            after = true;
        });
        button.show();
        QVERIFY(QTest::qWaitForWindowExposed(&button));
        // A real mouse click travels through the application's notify.
        QTest::mouseClick(&button, Qt::LeftButton);
        QVERIFY(!after);
        QCOMPARE(script.shown.size(), 1);
        QCOMPARE(script.shown[0].text, QStringLiteral("Unable to write to /x"));
    }
};

VT_TEST_MAIN(TestDialogs)
#include "test_dialogs.moc"
