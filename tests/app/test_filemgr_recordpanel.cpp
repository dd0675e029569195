// The main window's record panel on its own: a fill from a record that
// counts as no edit, the tracking of each kind of control, and the rules by
// which the changed fields, and only they, go back into a record.
#include "app/TRecordPanel.h"
#include "common/Text.h"
#include "filter/DateTime.h"
#include "tests/support/TestSupport.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QtTest>

#include <cstring>

namespace
{

const QStringList kFields = {"Size",        "FileTime", "LastAccessed", "Downloads",
                             "Cost",        "Uploader", "Password",     "Description",
                             "NeverDelete", "FreeFile", "FreeTime",     "Long"};

// One field of the record as text, so that a table can name what it expects.
QString FieldOf(const FullFileRec& full, const QString& field)
{
    const FileRec& r = full.Rec;
    if (field == u"Size")
        return QString::number(r.Size);
    if (field == u"FileTime")
        return FileTimeToDateText(r.FileTime) + u' ' + FileTimeToTimeText(r.FileTime);
    if (field == u"LastAccessed")
        return FileTimeToDateText(r.LastAccessed) + u' ' + FileTimeToTimeText(r.LastAccessed);
    if (field == u"Downloads")
        return QString::number(r.Downloads);
    if (field == u"Cost")
        return QString::number(r.Cost);
    if (field == u"Uploader")
        return QString::number(r.Uploader.UserId) + u' ' + RecText(r.Uploader.UserName);
    if (field == u"Password")
        return RecText(r.Password);
    if (field == u"Description")
        return RecText(r.Description);
    if (field == u"NeverDelete")
        return QString::number(r.NeverDelete);
    if (field == u"FreeFile")
        return QString::number(r.FreeFile);
    if (field == u"FreeTime")
        return QString::number(r.FreeTime);
    if (field == u"Long") {
        QStringList lines{QString::number(r.HasLongDescription)};
        for (int i = 0; i < 3; ++i)
            lines << RecText(full.LongDescription[i]);
        return lines.join(u'|');
    }
    return QStringLiteral("?");
}

FullFileRec BaseRecord()
{
    FullFileRec full{};
    SetRecText(full.Rec.Name, QStringLiteral("BASE.ZIP"));
    full.Rec.Area = 1;
    full.Rec.Size = 100;
    full.Rec.FileTime = TestTime(2003, 4, 5, 6, 7);
    full.Rec.LastAccessed = TestTime(2004, 5, 6, 7, 8);
    full.Rec.Downloads = 4;
    full.Rec.Cost = 2;
    SetRecText(full.Rec.Password, QStringLiteral("pw"));
    SetRecText(full.Rec.Description, QStringLiteral("Base words"));
    full.Rec.HasLongDescription = 1;
    SetRecText(full.LongDescription[0], QStringLiteral("first"));
    SetRecText(full.LongDescription[1], QStringLiteral("second"));
    return full;
}

} // namespace

class TestRecordPanel : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void fillCountsAsNoEdit();
    void editsAreTracked_data();
    void editsAreTracked();
    void changesInto_data();
    void changesInto();
    void clearEmptiesAndForgets();

private:
    // Shows the record as the window does: a fill that is no edit.
    void Fill(const FullFileRec& full);

    std::unique_ptr<TestBbs> m_bbs;
    std::unique_ptr<ServerLogin> m_login;
    std::unique_ptr<TRecordPanel> m_panel;
};

void TestRecordPanel::init()
{
    m_bbs = std::make_unique<TestBbs>();
    QVERIFY(m_bbs->ok());
    m_bbs->addUser(QStringLiteral("Known Uploader"));
    m_login = std::make_unique<ServerLogin>();
    QVERIFY(m_login->ok());
    m_panel = std::make_unique<TRecordPanel>();
}

void TestRecordPanel::cleanup()
{
    m_panel.reset();
    m_login.reset();
    m_bbs.reset();
}

void TestRecordPanel::Fill(const FullFileRec& full)
{
    m_panel->Loading = true;
    m_panel->ShowRecord(full);
    m_panel->Loading = false;
}

void TestRecordPanel::fillCountsAsNoEdit()
{
    QSignalSpy changed(m_panel.get(), &TRecordPanel::Changed);
    Fill(BaseRecord());
    QCOMPARE(m_panel->f_FileName->text(), QStringLiteral("BASE.ZIP"));
    QCOMPARE(m_panel->f_size->text(), QStringLiteral("100"));
    QCOMPARE(m_panel->f_desc->text(), QStringLiteral("Base words"));
    QCOMPARE(m_panel->Long_Desc->toPlainText(), QStringLiteral("first\nsecond"));
    QVERIFY(!m_panel->RecordChanged);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(RecText(m_panel->ShownRecord.Rec.Name), QStringLiteral("BASE.ZIP"));
    // The same fill without the loading flag counts: the flag is what keeps it out.
    m_panel->ShowRecord(BaseRecord());
    QVERIFY(m_panel->RecordChanged);
    QVERIFY(changed.count() > 0);
}

void TestRecordPanel::editsAreTracked_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("tag");
    QTest::newRow("line edit") << "f_desc" << 17;
    QTest::newRow("masked edit") << "f_FileTime" << 5;
    QTest::newRow("check box") << "cbf_FreeFile" << 14;
    QTest::newRow("memo") << "Long_Desc" << 18;
}

void TestRecordPanel::editsAreTracked()
{
    QFETCH(QString, control);
    QFETCH(int, tag);
    Fill(BaseRecord());
    QSignalSpy changed(m_panel.get(), &TRecordPanel::Changed);
    QWidget* w = m_panel->findChild<QWidget*>(control);
    QVERIFY(w);
    if (auto* e = qobject_cast<QLineEdit*>(w))
        e->setText(QStringLiteral("12:34"));
    else if (auto* c = qobject_cast<QCheckBox*>(w))
        c->setChecked(!c->isChecked());
    else if (auto* m = qobject_cast<QPlainTextEdit*>(w))
        m->setPlainText(QStringLiteral("typed"));
    QVERIFY(m_panel->RecordChanged);
    QCOMPARE(changed.count(), 1);
    for (int t = 1; t <= kPanelFields; ++t)
        QCOMPARE(m_panel->FieldChanged[t], t == tag);
    m_panel->ClearChangeFlags();
    QVERIFY(!m_panel->RecordChanged);
    QVERIFY(!m_panel->FieldChanged[tag]);
}

void TestRecordPanel::changesInto_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("text"); // for a check box: "1" checks it
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("expected");
    QTest::newRow("size") << "f_size"
                          << "1234"
                          << "Size"
                          << "1234";
    QTest::newRow("size not digits") << "f_size"
                                     << "12a"
                                     << "Size"
                                     << "100";
    QTest::newRow("downloads") << "f_downloads"
                               << "7"
                               << "Downloads"
                               << "7";
    QTest::newRow("cost") << "f_cost"
                          << "3"
                          << "Cost"
                          << "3";
    QTest::newRow("description") << "f_desc"
                                 << "New words"
                                 << "Description"
                                 << "New words";
    QTest::newRow("password") << "f_Password"
                              << "secret"
                              << "Password"
                              << "secret";
    QTest::newRow("never delete") << "cbf_NeverDelete"
                                  << "1"
                                  << "NeverDelete"
                                  << "1";
    QTest::newRow("free time") << "cbf_FreeTime"
                               << "1"
                               << "FreeTime"
                               << "1";
    // Only the time edited: the day stays as stored.
    QTest::newRow("file time only") << "f_FileTime"
                                    << "13:45"
                                    << "FileTime"
                                    << "04/05/03 13:45";
    QTest::newRow("access date") << "f_accessDate"
                                 << "12/24/99"
                                 << "LastAccessed"
                                 << "12/24/99 07:08";
    QTest::newRow("known uploader") << "f_uploader"
                                    << "Known Uploader"
                                    << "Uploader"
                                    << "KNOWN";
    QTest::newRow("unknown uploader") << "f_uploader"
                                      << "Nobody Here"
                                      << "Uploader"
                                      << "0 ";
    QTest::newRow("long lines") << "Long_Desc"
                                << "one\ntwo\n"
                                << "Long"
                                << "1|one|two|";
    QTest::newRow("long emptied") << "Long_Desc"
                                  << ""
                                  << "Long"
                                  << "0|||";
}

void TestRecordPanel::changesInto()
{
    QFETCH(QString, control);
    QFETCH(QString, text);
    QFETCH(QString, field);
    QFETCH(QString, expected);
    const FullFileRec base = BaseRecord();
    Fill(base);
    QWidget* w = m_panel->findChild<QWidget*>(control);
    QVERIFY(w);
    if (auto* e = qobject_cast<QLineEdit*>(w))
        e->setText(text);
    else if (auto* c = qobject_cast<QCheckBox*>(w))
        c->setChecked(text == u"1");
    else if (auto* m = qobject_cast<QPlainTextEdit*>(w))
        m->setPlainText(text);
    FullFileRec out = base;
    m_panel->ChangesInto(out);
    if (expected == u"KNOWN") {
        // The user's own reference: a number the server gave, and the name.
        QVERIFY(out.Rec.Uploader.UserId != 0);
        QCOMPARE(RecText(out.Rec.Uploader.UserName), QStringLiteral("Known Uploader"));
    } else {
        QCOMPARE(FieldOf(out, field), expected);
    }
    // Every field not edited is as it was.
    for (const QString& other : kFields)
        if (other != field)
            QCOMPARE(FieldOf(out, other), FieldOf(base, other));
}

void TestRecordPanel::clearEmptiesAndForgets()
{
    Fill(BaseRecord());
    m_panel->ShowDiskState(false);
    QCOMPARE(m_panel->L_FileFound->text(), QStringLiteral("File not found on disk"));
    m_panel->f_desc->setText(QStringLiteral("edited"));
    QVERIFY(m_panel->RecordChanged);
    m_panel->Clear();
    QVERIFY(m_panel->f_FileName->text().isEmpty());
    QVERIFY(m_panel->f_desc->text().isEmpty());
    QVERIFY(m_panel->Long_Desc->toPlainText().isEmpty());
    QVERIFY(!m_panel->cbf_FreeFile->isChecked());
    QVERIFY(m_panel->L_FileFound->text().isEmpty());
    QVERIFY(!m_panel->RecordChanged);
    for (int t = 1; t <= kPanelFields; ++t)
        QVERIFY(!m_panel->FieldChanged[t]);
}

VT_TEST_MAIN(TestRecordPanel)
#include "test_filemgr_recordpanel.moc"
