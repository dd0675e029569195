// Questions and status texts that carry a file or area name show the name
// exactly: a "%1" in it is not filled in again, and "<B>" or "&" are not
// read as markup, in a message box or in a status panel.
#include "ManagerTestSupport.h"

#include "managers/ManagerSupport.h"
#include "managers/TDelMgr.h"
#include "managers/TMoveMgr.h"
#include "tests/support/TestSupport.h"

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QtTest>

#include <memory>

namespace
{

// Every message box as it would be shown: its text and text format.
class BoxRecorder
{
public:
    struct Box {
        QString text;
        Qt::TextFormat format;
    };
    BoxRecorder()
    {
        m_previous = SetMessageBoxHook([this](const QMessageBox& box) {
            boxes.append({box.text(), box.textFormat()});
        });
    }
    ~BoxRecorder() { SetMessageBoxHook(m_previous); }
    QList<Box> boxes;

private:
    MessageBoxHook m_previous;
};

QLabel* StatusPanelOf(QWidget* window)
{
    return window->findChild<QLabel*>(QStringLiteral("StatusPanel0"));
}

} // namespace

class TestMessageTexts : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestBbs> m_bbs;
    std::unique_ptr<ServerLogin> m_login;

    static void names()
    {
        QTest::addColumn<QString>("name");     // a record's name
        QTest::addColumn<QString>("areaName"); // the name of its area
        QTest::newRow("%1 in the name") << "A%1.TXT"
                                        << "Up%1loads";
        QTest::newRow("%2 in the name") << "B%2.ZIP"
                                        << "Files #%2";
        QTest::newRow("%1 and %2") << "%2%1.ZIP"
                                   << "%1%2%3";
        QTest::newRow("markup") << "<B>X.ZIP"
                                << "<i>New</i> files";
        QTest::newRow("ampersand") << "R&D.TXT"
                                   << "Q&A &amp; more";
        QTest::newRow("markup and %1") << "<a>%1&<b>.Z"
                                       << "<b>%2</b>";
    }

    void fill(const QString& name, const QString& areaName)
    {
        m_bbs = std::make_unique<TestBbs>();
        QVERIFY(m_bbs->ok());
        m_bbs->addArea(1, areaName);
        m_bbs->addArea(2, QStringLiteral("Target"));
        const QByteArray content = QByteArrayLiteral("bytes of the file");
        m_bbs->addFile(1, name, &content);
        m_login = std::make_unique<ServerLogin>();
        QVERIFY(m_login->ok());
        QCOMPARE(NamesInArea(1), QStringList{name});
    }

private slots:
    void initTestCase() { EventPump::SetInterval(0); }

    void cleanup()
    {
        m_login.reset();
        m_bbs.reset();
    }

    void deletionQuestion_data() { names(); }

    void deletionQuestion()
    {
        QFETCH(QString, name);
        QFETCH(QString, areaName);
        fill(name, areaName);
        TDelMgr form;
        form.show();
        QCOMPARE(StatusPanelOf(&form)->textFormat(), Qt::PlainText);
        form.cb_PromptFirst->setChecked(true);
        SelectAreas(form.AreaList, {1});
        BoxRecorder boxes;
        DialogScript dialogs;
        dialogs.answer(DialogAnswer::Yes).answer(DialogAnswer::No).answer(DialogAnswer::No);
        form.b_DeleteClick();
        QVERIFY(!dialogs.unexpected);
        const QString question =
            QStringLiteral("Delete file ") + name + QStringLiteral(" from file area #1?");
        QCOMPARE(dialogs.texts().size(), 3);
        QCOMPARE(dialogs.texts().at(2), question);
        // The box would show that same text, as plain text.
        QCOMPARE(boxes.boxes.size(), 3);
        for (const BoxRecorder::Box& box : std::as_const(boxes.boxes))
            QCOMPARE(box.format, Qt::PlainText);
        QCOMPARE(boxes.boxes.at(2).text, question);
        QCOMPARE(NamesInArea(1), QStringList{name}); // answered No
        form.close();
    }

    void moveTexts_data() { names(); }

    void moveTexts()
    {
        QFETCH(QString, name);
        QFETCH(QString, areaName);
        fill(name, areaName);
        TMoveMgr form;
        form.show();
        QLabel* panel = StatusPanelOf(&form);
        QCOMPARE(panel->textFormat(), Qt::PlainText);
        LineOfArea(form.AreaList1, 1)->setSelected(true);
        LineOfArea(form.AreaList2, 2)->setSelected(true);
        QStringList history;
        QList<Qt::TextFormat> formats;
        connect(&form, &TMoveMgr::StatusTextChanged, this, [&](const QString& t) {
            history << t;
            // The panel shows the text as it is, whatever it holds.
            QCOMPARE(panel->text(), t);
            formats << panel->textFormat();
        });
        BoxRecorder boxes;
        DialogScript dialogs;
        dialogs.answer(DialogAnswer::Yes).answer(DialogAnswer::Yes);
        form.b_MoveToList2Click();
        QVERIFY(!dialogs.unexpected);
        const QString confirm = QStringLiteral("Move Files in Area \"") + areaName +
                                QStringLiteral("\" from # 1 to file area # 2");
        QCOMPARE(dialogs.texts().first(), confirm);
        QCOMPARE(boxes.boxes.first().text, confirm);
        for (const BoxRecorder::Box& box : std::as_const(boxes.boxes))
            QCOMPARE(box.format, Qt::PlainText);
        QVERIFY2(history.contains(QStringLiteral("Moving File [") + name +
                                  QStringLiteral("] to Area 2")),
                 qPrintable(history.join(u'|')));
        QVERIFY(history.contains(QStringLiteral("File & record: ") + name +
                                 QStringLiteral(" successfully moved.")));
        for (Qt::TextFormat f : std::as_const(formats))
            QCOMPARE(f, Qt::PlainText);
        QCOMPARE(NamesInArea(2), QStringList{name});
        QVERIFY(m_bbs->fileOnDisk(2, name));
        form.close();
    }

    void nameTakenText_data() { names(); }

    void nameTakenText()
    {
        QFETCH(QString, name);
        QFETCH(QString, areaName);
        fill(name, areaName);
        const QByteArray other = QByteArrayLiteral("the target's own file");
        m_bbs->addFile(2, name, &other);
        TMoveMgr form;
        form.show();
        LineOfArea(form.AreaList1, 1)->setSelected(true);
        LineOfArea(form.AreaList2, 2)->setSelected(true);
        QStringList history;
        connect(&form, &TMoveMgr::StatusTextChanged, this, [&](const QString& t) { history << t; });
        DialogScript dialogs;
        dialogs.answer(DialogAnswer::Yes).answer(DialogAnswer::Yes);
        form.b_MoveToList2Click();
        QVERIFY2(history.contains(QStringLiteral("File: ") + name +
                                  QStringLiteral(" already exists in file area 2. Can not move.")),
                 qPrintable(history.join(u'|')));
        QCOMPARE(NamesInArea(1), QStringList{name});
        form.close();
    }
};

VT_TEST_MAIN(TestMessageTexts)
#include "test_messagetexts.moc"
