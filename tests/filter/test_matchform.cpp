// The match criteria window, driven offscreen against a real BBS.
#include "filter/TMatchForm.h"

#include "common/Text.h"
#include "filter/DateTime.h"
#include "filter/Matching.h"
#include "filter/SearchRecord.h"
#include "server/ServerPath.h"
#include "tests/support/TestSupport.h"

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <cstring>
#include <functional>
#include <memory>

namespace
{

template <class W> W* Find(QWidget* form, const char* name)
{
    W* w = form->findChild<W*>(QLatin1String(name));
    if (!w)
        qFatal("no control %s", name);
    return w;
}

QLineEdit* Edit(QWidget* f, const char* name)
{
    return Find<QLineEdit>(f, name);
}
QComboBox* Combo(QWidget* f, const char* name)
{
    return Find<QComboBox>(f, name);
}
void Click(QWidget* f, const char* name)
{
    Find<QPushButton>(f, name)->click();
}

// Types into a masked edit as a user would: from the start, over the mask.
void TypeMasked(QLineEdit* edit, const QString& text)
{
    edit->setFocus();
    edit->home(false);
    QTest::keyClicks(edit, text);
}

// Opens the window modally, runs `drive` on it once it is up, and returns
// the dialog's result. A window left open is cancelled after ten seconds.
int RunForm(const std::function<void(TMatchForm*)>& drive)
{
    TMatchForm form;
    OnNextModal([&](QWidget* w) {
        auto* f = qobject_cast<TMatchForm*>(w);
        if (!f) {
            qWarning("unexpected modal window");
            w->close();
            return;
        }
        drive(f);
    });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &form, &QDialog::reject);
    guard.start(10000);
    return form.exec();
}

QByteArray Bytes(const SearchRecord& r)
{
    return QByteArray(reinterpret_cast<const char*>(&r), qsizetype(sizeof r));
}

} // namespace

class TestMatchForm : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<TestBbs> m_bbs;
    std::unique_ptr<ServerLogin> m_login;
    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        m_bbs = std::make_unique<TestBbs>();
        QVERIFY(m_bbs->ok());
        m_bbs->addArea(1, QStringLiteral("Uploads"));
        m_bbs->addArea(2, QStringLiteral("Games"));
        m_bbs->addUser(QStringLiteral("Alice Smith"));
        m_bbs->addUser(QStringLiteral("Bob Jones"));
        const QByteArray content("data");
        m_bbs->addFile(1, QStringLiteral("FOO.ZIP"), &content, [](FullFileRec& f) {
            f.Rec.FileTime = TestTime(1998, 5, 1, 17, 45);
            f.Rec.LastAccessed = TestTime(1998, 5, 1, 17, 45);
        });
        m_bbs->addFile(2, QStringLiteral("OLD.TXT"), nullptr);
        m_login = std::make_unique<ServerLogin>();
        QVERIFY(m_login->ok());
    }

    void cleanupTestCase()
    {
        m_login.reset();
        m_bbs.reset();
    }

    void init()
    {
        CurrentSearchRecord = SearchRecord{};
        EditTemplate = FullFileRec{};
        FilterDefined = false;
        SearchRecordFileName.clear();
    }

    void layout()
    {
        TMatchForm form;
        QCOMPARE(form.windowTitle(), QStringLiteral("Set Match Criteria"));
        QCOMPARE(form.size(), QSize(394, 377));
        for (const char* name : {"bs_Save", "bs_Load", "bs_Clear", "bs_Ok", "bs_Cancel"})
            QVERIFY(form.findChild<QPushButton*>(QLatin1String(name)));
        for (const char* name : {"f_FileName", "f_size", "f_FileDate", "f_FileTime", "f_downloads",
                                 "f_cost", "f_accessDate", "f_accessTime", "f_Password", "f_desc"})
            QVERIFY2(form.findChild<QLineEdit*>(QLatin1String(name)), name);
        for (const char* name :
             {"cb_FileArea", "cbs_FileSize", "cbs_FileDate", "cbs_Downloads", "cbs_Cost",
              "cbs_AccessDate", "cbs_NeverDelete", "cbs_NeverOverwrite", "cbs_FailedScan",
              "cbs_CopyBefore", "cbs_FreeFile", "cbs_FreeTime", "cbs_ExistOnDisk", "cb_Uploader",
              "cbs_HasLongDesc", "cbs_hasPassword"}) {
            QComboBox* box = form.findChild<QComboBox*>(QLatin1String(name));
            QVERIFY2(box && box->isEditable(), name);
        }
        QCOMPARE(Edit(&form, "f_FileName")->maxLength(), 15);
        QCOMPARE(Edit(&form, "f_size")->maxLength(), 10);
        QCOMPARE(Edit(&form, "f_Password")->maxLength(), 31);
        QCOMPARE(Edit(&form, "f_desc")->maxLength(), 75);
        QCOMPARE(Edit(&form, "f_FileDate")->inputMask(), QStringLiteral("99/99/99;_"));
        QCOMPARE(Edit(&form, "f_accessTime")->inputMask(), QStringLiteral("99:99;_"));
        QCOMPARE(Combo(&form, "cbs_FileSize")->count(), 5);
        QCOMPARE(Combo(&form, "cbs_FileSize")->itemText(4), QStringLiteral("not equal to"));
        QCOMPARE(Combo(&form, "cbs_ExistOnDisk")->itemText(2), QStringLiteral("No"));
    }

    // A fresh start, F7, OK: a defined filter that passes every record.
    void freshOk()
    {
        QStringList areas, users;
        const int result = RunForm([&](TMatchForm* f) {
            QComboBox* a = Combo(f, "cb_FileArea");
            for (int i = 0; i < a->count(); ++i)
                areas << a->itemText(i);
            QComboBox* u = Combo(f, "cb_Uploader");
            for (int i = 0; i < u->count(); ++i)
                users << u->itemText(i);
            QCOMPARE(Edit(f, "f_FileDate")->displayText(), QStringLiteral("01/01/80"));
            QCOMPARE(Edit(f, "f_FileTime")->displayText(), QStringLiteral("00:00"));
            QCOMPARE(Edit(f, "f_size")->text(), QStringLiteral("0"));
            Click(f, "bs_Ok");
        });
        QCOMPARE(result, int(QDialog::Accepted));
        QCOMPARE(areas,
                 QStringList({QStringLiteral("   0: Any FileArea"), QStringLiteral("   1: Uploads"),
                              QStringLiteral("   2: Games")}));
        QCOMPARE(users, QStringList({QString(), QStringLiteral("Alice Smith"),
                                     QStringLiteral("Bob Jones")}));
        QVERIFY(FilterDefined);
        SearchRecord expected{};
        expected.Template.Rec.FileTime = TestTime(1980, 1, 1);
        expected.Template.Rec.LastAccessed = TestTime(1980, 1, 1);
        QCOMPARE(Bytes(CurrentSearchRecord), Bytes(expected));
        int matched = 0;
        for (int area : {1, 2})
            WalkArea(area, [&](FileRec& rec) {
                matched += MatchesFilter(CurrentSearchRecord, rec) ? 1 : 0;
                return true;
            });
        QCOMPARE(matched, 2);
    }

    void cancelCommitsNothing()
    {
        const int result = RunForm([](TMatchForm* f) {
            Edit(f, "f_FileName")->setText(QStringLiteral("FOO"));
            Click(f, "bs_Cancel");
        });
        QCOMPARE(result, int(QDialog::Rejected));
        QVERIFY(!FilterDefined);
        QCOMPARE(Bytes(CurrentSearchRecord), Bytes(SearchRecord{}));
    }

    // A two-digit year below 80 is this century's, and shows again as typed.
    void yearAfter1999()
    {
        RunForm([](TMatchForm* f) {
            TypeMasked(Edit(f, "f_FileDate"), QStringLiteral("050603"));
            TypeMasked(Edit(f, "f_FileTime"), QStringLiteral("1020"));
            Combo(f, "cbs_FileDate")->setCurrentIndex(2);
            Click(f, "bs_Ok");
        });
        SystemTime st;
        QVERIFY(FileTimeToSystemTime(CurrentSearchRecord.Template.Rec.FileTime, st));
        QCOMPARE(int(st.year), 2003);
        QCOMPARE(int(st.month), 5);
        QCOMPARE(int(st.day), 6);
        QCOMPARE(int(st.hour), 10);
        QCOMPARE(int(st.minute), 20);
        QCOMPARE(CurrentSearchRecord.FileDateOp, 2);
        QString shown;
        RunForm([&](TMatchForm* f) {
            shown = Edit(f, "f_FileDate")->displayText() + u' ' +
                    Edit(f, "f_FileTime")->displayText() + u' ' +
                    Combo(f, "cbs_FileDate")->currentText();
            Click(f, "bs_Cancel");
        });
        QCOMPARE(shown, QStringLiteral("05/06/03 10:20 greater than"));
    }

    void uploader_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("known");
        QTest::newRow("chosen user") << "Bob Jones"
                                     << "Bob Jones" << true;
        QTest::newRow("no such user") << "Nobody Here"
                                      << "" << false;
        QTest::newRow("empty") << ""
                               << "" << false;
    }
    void uploader()
    {
        QFETCH(QString, typed);
        QFETCH(QString, stored);
        QFETCH(bool, known);
        RunForm([&](TMatchForm* f) {
            Combo(f, "cb_Uploader")->setEditText(typed);
            Click(f, "bs_Ok");
        });
        const UserRef& u = CurrentSearchRecord.Template.Rec.Uploader;
        QCOMPARE(RecText(u.UserName), stored);
        QCOMPARE(u.UserId != 0, known);
        if (!known)
            QCOMPARE(QByteArray(reinterpret_cast<const char*>(&u), sizeof u),
                     QByteArray(sizeof u, '\0'));
        QCOMPARE(RecText(CurrentSearchRecord.UploaderText), typed);
    }

    void numbersKeepPrevious_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("size");
        QTest::newRow("12a") << "12a" << 77;
        QTest::newRow("empty") << "" << 77;
        QTest::newRow("signed") << "-5" << 77;
        QTest::newRow("blank") << " 5" << 77;
        QTest::newRow("digits") << "0012" << 12;
        QTest::newRow("max") << "2147483647" << 2147483647;
    }
    void numbersKeepPrevious()
    {
        QFETCH(QString, typed);
        QFETCH(int, size);
        CurrentSearchRecord.Template.Rec.Size = 77;
        CurrentSearchRecord.Template.Rec.Downloads = 3;
        CurrentSearchRecord.Template.Rec.FileTime = TestTime(1998, 1, 1);
        CurrentSearchRecord.Template.Rec.LastAccessed = TestTime(1998, 1, 1);
        FilterDefined = true;
        DialogScript dialogs;
        QString shownSize;
        RunForm([&](TMatchForm* f) {
            shownSize = Edit(f, "f_size")->text();
            Edit(f, "f_size")->setText(typed);
            Edit(f, "f_downloads")->setText(typed);
            Click(f, "bs_Ok");
        });
        QCOMPARE(shownSize, QStringLiteral("77"));
        QCOMPARE(CurrentSearchRecord.Template.Rec.Size, size);
        QCOMPARE(CurrentSearchRecord.Template.Rec.Downloads, size == 77 ? 3 : size);
        QVERIFY(dialogs.shown.isEmpty());
    }

    // Beyond the integer range: the error box, the commit stops, OK still closes.
    void integerOverflow()
    {
        CurrentSearchRecord.Template.Rec.Size = 77;
        CurrentSearchRecord.SizeOp = 3;
        const SearchRecord before = CurrentSearchRecord;
        DialogScript dialogs;
        const int result = RunForm([](TMatchForm* f) {
            Edit(f, "f_FileName")->setText(QStringLiteral("NEW"));
            Edit(f, "f_size")->setText(QStringLiteral("2147483648"));
            Combo(f, "cbs_FileSize")->setCurrentIndex(1);
            Click(f, "bs_Ok");
        });
        QCOMPARE(result, int(QDialog::Accepted));
        QVERIFY(FilterDefined);
        QCOMPARE(dialogs.shown.size(), 1);
        QCOMPARE(dialogs.shown[0].kind, MessageKind::Error);
        QCOMPARE(dialogs.shown[0].text,
                 QStringLiteral("'2147483648' is not a valid integer value"));
        QCOMPARE(Bytes(CurrentSearchRecord), Bytes(before));
    }

    // An area text that is no number: the template is committed, the operators are not.
    void badAreaText()
    {
        DialogScript dialogs;
        RunForm([](TMatchForm* f) {
            Edit(f, "f_FileName")->setText(QStringLiteral("NEW"));
            Combo(f, "cb_FileArea")->setEditText(QStringLiteral("x: Games"));
            Combo(f, "cbs_FileSize")->setCurrentIndex(1);
            Click(f, "bs_Ok");
        });
        QVERIFY(FilterDefined);
        QCOMPARE(dialogs.texts(),
                 QStringList({QStringLiteral("'x' is not a valid integer value")}));
        QCOMPARE(RecText(CurrentSearchRecord.Template.Rec.Name), QStringLiteral("NEW"));
        QCOMPARE(CurrentSearchRecord.SizeOp, 0);
    }

    void dateWarnings()
    {
        const FILETIME old = TestTime(1997, 3, 4, 5, 6);
        CurrentSearchRecord.Template.Rec.FileTime = old;
        CurrentSearchRecord.Template.Rec.LastAccessed = old;
        FilterDefined = true;
        DialogScript dialogs;
        RunForm([](TMatchForm* f) {
            Edit(f, "f_FileDate")->setText(QStringLiteral("13/01/98"));
            Edit(f, "f_accessDate")->setText(QStringLiteral("02/30/98"));
            Edit(f, "f_FileName")->setText(QStringLiteral("KEPT"));
            Click(f, "bs_Ok");
        });
        QCOMPARE(dialogs.texts(),
                 QStringList({QStringLiteral("Could not convert File Date or Time."),
                              QStringLiteral("Could not convert Last Accessed Date or Time ")}));
        QCOMPARE(dialogs.shown[0].kind, MessageKind::Warning);
        QCOMPARE(FileTimeValue(CurrentSearchRecord.Template.Rec.FileTime), FileTimeValue(old));
        QCOMPARE(FileTimeValue(CurrentSearchRecord.Template.Rec.LastAccessed), FileTimeValue(old));
        QCOMPARE(RecText(CurrentSearchRecord.Template.Rec.Name), QStringLiteral("KEPT"));
    }

    // A half-filled masked date reads blanks where '_' shows and does not convert.
    void halfFilledMask()
    {
        DialogScript dialogs;
        RunForm([](TMatchForm* f) {
            Edit(f, "f_FileDate")->clear();
            TypeMasked(Edit(f, "f_FileDate"), QStringLiteral("0506"));
            Click(f, "bs_Ok");
        });
        QVERIFY(dialogs.contains(QStringLiteral("Could not convert File Date or Time.")));
        QCOMPARE(FileTimeValue(CurrentSearchRecord.Template.Rec.FileTime), uint64_t(0));
    }

    // A masked time with a position left blank is no time: the design's
    // warning, and the criterion keeps its previous time.
    void halfFilledTime_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("warning");
        const QString file = QStringLiteral("Could not convert File Date or Time.");
        const QString access = QStringLiteral("Could not convert Last Accessed Date or Time ");
        QTest::newRow("file 1_:30") << "f_FileTime"
                                    << "1_30"
                                    << "1_:30" << file;
        QTest::newRow("file 12:3_") << "f_FileTime"
                                    << "123"
                                    << "12:3_" << file;
        QTest::newRow("file _9:05") << "f_FileTime"
                                    << "_905"
                                    << "_9:05" << file;
        QTest::newRow("access 1_:30") << "f_accessTime"
                                      << "1_30"
                                      << "1_:30" << access;
        QTest::newRow("access 12:3_") << "f_accessTime"
                                      << "123"
                                      << "12:3_" << access;
        QTest::newRow("access __:__") << "f_accessTime"
                                      << ""
                                      << "__:__" << access;
    }
    void halfFilledTime()
    {
        QFETCH(QString, field);
        QFETCH(QString, keys);
        QFETCH(QString, shown);
        QFETCH(QString, warning);
        const FILETIME old = TestTime(1997, 3, 4, 5, 6);
        CurrentSearchRecord.Template.Rec.FileTime = old;
        CurrentSearchRecord.Template.Rec.LastAccessed = old;
        FilterDefined = true;
        DialogScript dialogs;
        QString seen;
        RunForm([&](TMatchForm* f) {
            QLineEdit* time = Edit(f, qPrintable(field));
            time->selectAll();
            QTest::keyClick(time, Qt::Key_Delete);
            time->home(false);
            for (const QChar c : keys) {
                if (c == u'_')
                    QTest::keyClick(time, Qt::Key_Right);
                else
                    QTest::keyClicks(time, QString(c));
            }
            seen = time->displayText();
            Click(f, "bs_Ok");
        });
        QCOMPARE(seen, shown);
        QCOMPARE(dialogs.texts(), QStringList{warning});
        QCOMPARE(FileTimeValue(CurrentSearchRecord.Template.Rec.FileTime), FileTimeValue(old));
        QCOMPARE(FileTimeValue(CurrentSearchRecord.Template.Rec.LastAccessed), FileTimeValue(old));
    }

    void operatorsAndFlags()
    {
        RunForm([](TMatchForm* f) {
            Combo(f, "cb_FileArea")->setCurrentIndex(2);
            Combo(f, "cbs_FileSize")->setCurrentIndex(4);
            Combo(f, "cbs_Downloads")->setEditText(QStringLiteral("bogus"));
            Combo(f, "cbs_Cost")->setEditText(QStringLiteral("less than"));
            Combo(f, "cbs_NeverDelete")->setCurrentIndex(1);
            Combo(f, "cbs_FreeTime")->setCurrentIndex(2);
            Combo(f, "cbs_ExistOnDisk")->setCurrentIndex(1);
            Combo(f, "cbs_hasPassword")->setCurrentIndex(2);
            Combo(f, "cbs_HasLongDesc")->setCurrentIndex(1);
            Edit(f, "f_desc")->setText(QStringLiteral("some text"));
            Edit(f, "f_Password")->setText(QStringLiteral("pw"));
            Click(f, "bs_Ok");
        });
        const SearchRecord& s = CurrentSearchRecord;
        QCOMPARE(s.AreaCriterion, 2);
        QCOMPARE(s.Template.Rec.Area, 2);
        QCOMPARE(s.SizeOp, 4);
        QCOMPARE(s.DownloadsOp, -1);
        QCOMPARE(s.CostOp, 3);
        QCOMPARE(s.NeverDeleteOp, 1);
        QCOMPARE(s.FreeTimeOp, 2);
        QCOMPARE(s.ExistOnDiskOp, 1);
        QCOMPARE(s.HasPasswordOp, 2);
        QCOMPARE(s.HasLongDescOp, 1);
        QCOMPARE(s.NeverOverwriteOp, 0);
        QCOMPARE(RecText(s.Template.Rec.Description), QStringLiteral("some text"));
        QCOMPARE(RecText(s.Template.Rec.Password), QStringLiteral("pw"));
        // Reopened, the window shows the same choices ("bogus" shows as "Any").
        QStringList shown;
        RunForm([&](TMatchForm* f) {
            for (const char* n :
                 {"cb_FileArea", "cbs_FileSize", "cbs_Downloads", "cbs_Cost", "cbs_FreeTime"})
                shown << Combo(f, n)->currentText();
            Click(f, "bs_Cancel");
        });
        QCOMPARE(shown, QStringList({QStringLiteral("   2: Games"), QStringLiteral("not equal to"),
                                     QStringLiteral("Any"), QStringLiteral("less than"),
                                     QStringLiteral("No")}));
    }

    void templateFlagsZeroedAndHiddenBytesKept()
    {
        EditTemplate.Rec.NeverDelete = 1;
        EditTemplate.Rec.FreeTime = 1;
        EditTemplate.Rec.HasLongDescription = 1;
        SetRecText(EditTemplate.LongDescription[3], QStringLiteral("kept line"));
        RunForm([](TMatchForm* f) { Click(f, "bs_Ok"); });
        const FullFileRec& t = CurrentSearchRecord.Template;
        QCOMPARE(t.Rec.NeverDelete, 0);
        QCOMPARE(t.Rec.FreeTime, 0);
        QCOMPARE(t.Rec.HasLongDescription, 1);
        QCOMPARE(RecText(t.LongDescription[3]), QStringLiteral("kept line"));
    }

    void texts437KeepTheirBytes()
    {
        SetRecordCodePage(RecordCodePage::Cp437);
        const QByteArray box("\xC9\xCD\xBB\xFF\x01x");
        std::memcpy(EditTemplate.Rec.Description, box.constData(), size_t(box.size()) + 1);
        std::memcpy(EditTemplate.Rec.Password, box.constData(), size_t(box.size()) + 1);
        CurrentSearchRecord.Template = EditTemplate;
        FilterDefined = true;
        QString desc, password;
        RunForm([&](TMatchForm* f) {
            desc = f->findChild<QLineEdit*>(QStringLiteral("f_desc"))->text();
            password = f->findChild<QLineEdit*>(QStringLiteral("f_Password"))->text();
            Click(f, "bs_Ok");
        });
        SetRecordCodePage(RecordCodePage::Latin1);
        const QString shown = QStringLiteral("\u2554\u2550\u2557\u00A0\u263Ax");
        QCOMPARE(desc, shown);
        QCOMPARE(password, shown);
        QCOMPARE(QByteArray(CurrentSearchRecord.Template.Rec.Description), box);
        QCOMPARE(QByteArray(CurrentSearchRecord.Template.Rec.Password), box);
    }

    void vanishedAreaBecomesAny()
    {
        CurrentSearchRecord.AreaCriterion = 9;
        CurrentSearchRecord.Template.Rec.Area = 9;
        FilterDefined = true;
        QString shown;
        RunForm([&](TMatchForm* f) {
            shown = Combo(f, "cb_FileArea")->currentText();
            Click(f, "bs_Ok");
        });
        QCOMPARE(shown, QStringLiteral("   0: Any FileArea"));
        QCOMPARE(CurrentSearchRecord.AreaCriterion, 0);
        QCOMPARE(CurrentSearchRecord.Template.Rec.Area, 0);
    }

    // Save commits first: the criteria change even when the window is cancelled.
    void saveThenCancel()
    {
        FileDialogScript files;
        const QString chosen = m_dir.filePath(QStringLiteral("crit"));
        files.paths << chosen;
        QString status;
        const int result = RunForm([&](TMatchForm* f) {
            Edit(f, "f_FileName")->setText(QStringLiteral("FOO"));
            Click(f, "bs_Save");
            status = f->StatusText();
            Click(f, "bs_Cancel");
        });
        QCOMPARE(result, int(QDialog::Rejected));
        QVERIFY(!FilterDefined);
        QCOMPARE(RecText(CurrentSearchRecord.Template.Rec.Name), QStringLiteral("FOO"));
        QCOMPARE(files.requests.size(), 1);
        QCOMPARE(files.requests[0].kind, FileDialogKind::Save);
        QCOMPARE(files.requests[0].filter, QStringLiteral("vuRU Search Record|*.FMS"));
        QVERIFY(files.requests[0].confirmOverwrite);
        QVERIFY(files.requests[0].mustExist);
        const QString saved = chosen + QStringLiteral(".FMS");
        QCOMPARE(SearchRecordFileName, saved);
        QCOMPARE(status, QStringLiteral("Search Record: crit.FMS"));
        QFile f(saved);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), Bytes(CurrentSearchRecord));
    }

    void saveCancelledInDialog()
    {
        FileDialogScript files;
        files.paths << QString();
        RunForm([](TMatchForm* f) {
            Edit(f, "f_FileName")->setText(QStringLiteral("FOO"));
            Click(f, "bs_Save");
            Click(f, "bs_Cancel");
        });
        QCOMPARE(Bytes(CurrentSearchRecord), Bytes(SearchRecord{}));
        QVERIFY(SearchRecordFileName.isEmpty());
    }

    void saveError()
    {
        FileDialogScript files;
        files.paths << m_dir.filePath(QStringLiteral("missing/crit.fms"));
        DialogScript dialogs;
        QString status;
        RunForm([&](TMatchForm* f) {
            Click(f, "bs_Save");
            status = f->StatusText();
            Click(f, "bs_Cancel");
        });
        QCOMPARE(dialogs.texts(), QStringList({QStringLiteral("Error saving file.")}));
        QVERIFY(status.isEmpty());
        QVERIFY(SearchRecordFileName.isEmpty());
    }

    // Load replaces the criteria at once; Cancel afterwards keeps them.
    void loadThenCancel()
    {
        SearchRecord file{};
        file.AreaCriterion = 2;
        file.Template.Rec.Area = 2;
        file.SizeOp = 2;
        file.Template.Rec.Size = 500;
        file.ExistOnDiskOp = 2;
        file.Template.Rec.FileTime = TestTime(2001, 2, 3, 4, 5);
        SetRecText(file.Template.Rec.Name, QStringLiteral("ABC"));
        SetRecText(file.Template.LongDescription[0], QStringLiteral("from the file"));
        SetRecText(file.UploaderText, QStringLiteral("whoever"));
        const QString path = m_dir.filePath(QStringLiteral("load.FMS"));
        QCOMPARE(WriteSearchRecordFile(path, file), FmsResult::Ok);

        FileDialogScript files;
        files.paths << path;
        QStringList shown;
        QString status;
        RunForm([&](TMatchForm* f) {
            Click(f, "bs_Load");
            shown << Combo(f, "cb_FileArea")->currentText()
                  << Combo(f, "cbs_FileSize")->currentText() << Edit(f, "f_size")->text()
                  << Edit(f, "f_FileName")->text() << Edit(f, "f_FileDate")->displayText()
                  << Edit(f, "f_FileTime")->displayText()
                  << Combo(f, "cbs_ExistOnDisk")->currentText();
            status = f->StatusText();
            Click(f, "bs_Cancel");
        });
        QCOMPARE(files.requests.size(), 1);
        QCOMPARE(files.requests[0].kind, FileDialogKind::Open);
        QCOMPARE(files.requests[0].filter, QStringLiteral("vt FM Search Record|*.FMS"));
        QCOMPARE(shown, QStringList({QStringLiteral("   2: Games"), QStringLiteral("greater than"),
                                     QStringLiteral("500"), QStringLiteral("ABC"),
                                     QStringLiteral("02/03/01"), QStringLiteral("04:05"),
                                     QStringLiteral("No")}));
        QCOMPARE(status, QStringLiteral("Search Record: load.FMS"));
        QCOMPARE(SearchRecordFileName, path);
        QCOMPARE(Bytes(CurrentSearchRecord), Bytes(file));
        QCOMPARE(RecText(EditTemplate.LongDescription[0]), QStringLiteral("from the file"));
        QVERIFY(!FilterDefined);
        // The next opening forgets the file's name.
        RunForm([](TMatchForm* f) { Click(f, "bs_Cancel"); });
        QVERIFY(SearchRecordFileName.isEmpty());
    }

    void loadErrors_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing") << "absent.FMS" << -1 << "File: %1 not found.";
        QTest::newRow("short") << "short.FMS" << 1000 << "Error READING file.";
        QTest::newRow("empty") << "empty.FMS" << 0 << "Error READING file.";
    }
    void loadErrors()
    {
        QFETCH(QString, name);
        QFETCH(int, size);
        QFETCH(QString, message);
        const QString path = m_dir.filePath(name);
        QFile::remove(path);
        if (size >= 0) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(size, 'z'));
        }
        CurrentSearchRecord.SizeOp = 3;
        const SearchRecord before = CurrentSearchRecord;
        FileDialogScript files;
        files.paths << path;
        DialogScript dialogs;
        QString status;
        RunForm([&](TMatchForm* f) {
            Click(f, "bs_Load");
            status = f->StatusText();
            Click(f, "bs_Cancel");
        });
        QCOMPARE(dialogs.texts(),
                 QStringList({message.contains(u'%') ? message.arg(path) : message}));
        QCOMPARE(Bytes(CurrentSearchRecord), Bytes(before));
        QVERIFY(status.isEmpty());
        QVERIFY(SearchRecordFileName.isEmpty());
    }

    // Any 1,924 bytes fill the window and commit without harm.
    void loadGarbage()
    {
        QRandomGenerator gen(4242);
        for (int round = 0; round < 10; ++round) {
            QByteArray bytes(1924, '\0');
            for (char& c : bytes)
                c = char(gen.bounded(256));
            const QString path = m_dir.filePath(QStringLiteral("garbage.FMS"));
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(bytes);
            f.close();
            FileDialogScript files;
            files.paths << path;
            DialogScript dialogs;
            RunForm([](TMatchForm* f) {
                Click(f, "bs_Load");
                Click(f, "bs_Ok");
            });
            QVERIFY(FilterDefined);
            // Every selector value committed is one the window offers.
            const SearchRecord& s = CurrentSearchRecord;
            for (int32_t op : {s.SizeOp, s.FileDateOp, s.AccessDateOp, s.DownloadsOp, s.CostOp})
                QVERIFY(op >= 0 && op <= 4);
            for (int32_t op : {s.NeverDeleteOp, s.ExistOnDiskOp, s.HasLongDescOp, s.HasPasswordOp})
                QVERIFY(op >= 0 && op <= 2);
        }
    }

    void clearButton()
    {
        SetRecText(CurrentSearchRecord.Template.Rec.Name, QStringLiteral("ABC"));
        CurrentSearchRecord.SizeOp = 2;
        CurrentSearchRecord.AreaCriterion = 1;
        FilterDefined = true;
        const SearchRecord before = CurrentSearchRecord;
        QStringList after;
        RunForm([&](TMatchForm* f) {
            Click(f, "bs_Clear");
            after << Edit(f, "f_FileName")->text() << Edit(f, "f_size")->text()
                  << Edit(f, "f_accessDate")->displayText()
                  << Edit(f, "f_accessTime")->displayText()
                  << Combo(f, "cb_FileArea")->currentText()
                  << Combo(f, "cbs_FileSize")->currentText()
                  << Combo(f, "cb_Uploader")->currentText() << f->StatusText();
            Click(f, "bs_Cancel");
        });
        QCOMPARE(after, QStringList({QString(), QStringLiteral("0"), QStringLiteral("01/01/80"),
                                     QStringLiteral("00:00"), QStringLiteral("   0: Any FileArea"),
                                     QStringLiteral("Any"), QString(), QString()}));
        QCOMPARE(Bytes(CurrentSearchRecord), Bytes(before));
        QVERIFY(FilterDefined);
    }
};

VT_TEST_MAIN(TestMatchForm)
#include "test_matchform.moc"
