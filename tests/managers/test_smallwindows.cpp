// The area chooser, the progress window and the splitter drag.
#include "ManagerTestSupport.h"

#include "common/Text.h"
#include "filter/TMatchForm.h"
#include "managers/TChooseFileAreaForm.h"
#include "managers/TDelMgr.h"
#include "managers/TDescListForm.h"
#include "managers/TDupMgr.h"
#include "managers/TFileListMgrForm.h"
#include "managers/TMoveMgr.h"
#include "managers/TProgressForm.h"
#include "managers/TSplitControl.h"
#include "tests/support/TestSupport.h"

#include <QComboBox>

#include <QListWidget>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QRubberBand>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(CodePage)

class TestSmallWindows : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestBbs> m_bbs;
    std::unique_ptr<ServerLogin> m_login;

    static void sendMouse(QWidget* target, QEvent::Type type, QPoint pos,
                          Qt::MouseButton button = Qt::LeftButton,
                          Qt::MouseButtons buttons = Qt::LeftButton,
                          Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QMouseEvent event(type, QPointF(pos), target->mapToGlobal(QPointF(pos)), button, buttons,
                          modifiers);
        QApplication::sendEvent(target, &event);
    }

private slots:
    void init()
    {
        m_bbs = std::make_unique<TestBbs>();
        QVERIFY(m_bbs->ok());
        m_bbs->addArea(1, QStringLiteral("General"));
        m_bbs->addArea(2, QStringLiteral("Uploads"));
        m_bbs->addArea(12, QStringLiteral("Utilities"));
        m_login = std::make_unique<ServerLogin>();
        QVERIFY(m_login->ok());
    }

    void cleanup()
    {
        m_login.reset();
        m_bbs.reset();
    }

    // Every window's list of areas shows the names through the code page of
    // record texts, as the main window's area selector does.
    void areaListsThroughCodePage_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<CodePage>("page");
        for (const char* window : {"chooser", "deletion manager", "move manager from",
                                   "move manager to", "file list manager", "duplicate manager",
                                   "match window", "import descriptions", "export descriptions"}) {
            QTest::addRow("%s, 437", window) << QString::fromLatin1(window) << CodePage::Cp437;
            QTest::addRow("%s, 866", window) << QString::fromLatin1(window) << CodePage::Cp866;
        }
        QTest::newRow("chooser, Latin-1") << QStringLiteral("chooser") << CodePage::Latin1;
    }
    void areaListsThroughCodePage()
    {
        QFETCH(QString, window);
        QFETCH(CodePage, page);
        const QByteArray name("\xC9\xCD\xBB Caf\x82 \xE0\xEF");
        // The admin tool takes names as text: each byte its Latin-1 character.
        m_bbs->addArea(5, QString::fromLatin1(name));
        SetRecordCodePage(page);
        const QString expected = QStringLiteral("   5: ") + CodePageToString(page, name);
        QStringList lines;
        auto listed = [&lines](const QListWidget* list) {
            for (int i = 0; i < list->count(); ++i)
                lines << list->item(i)->text();
        };
        if (window == QLatin1String("chooser")) {
            TChooseFileAreaForm form;
            form.show();
            listed(form.AreaListBox);
        } else if (window == QLatin1String("deletion manager")) {
            TDelMgr form;
            form.show();
            listed(form.AreaList);
        } else if (window.startsWith(QLatin1String("move manager"))) {
            TMoveMgr form;
            form.show();
            listed(window.endsWith(QLatin1String("from")) ? form.AreaList1 : form.AreaList2);
        } else if (window == QLatin1String("file list manager")) {
            TFileListMgrForm form;
            form.show();
            listed(form.AreaListBox);
        } else if (window == QLatin1String("duplicate manager")) {
            TDupMgr form;
            form.show();
            listed(form.AreaList);
        } else if (window == QLatin1String("match window")) {
            TMatchForm form;
            form.show();
            const auto* box = form.findChild<QComboBox*>(QStringLiteral("cb_FileArea"));
            QVERIFY(box);
            for (int i = 0; i < box->count(); ++i)
                lines << box->itemText(i);
        } else if (window == QLatin1String("import descriptions")) {
            TDescImportForm form;
            form.show();
            for (int i = 0; i < form.AreaBox->count(); ++i)
                lines << form.AreaBox->itemText(i);
        } else {
            TDescExportForm form;
            form.show();
            listed(form.AreaList);
        }
        SetRecordCodePage(CodePage::Latin1);
        QVERIFY2(lines.contains(expected), qPrintable(lines.join(u'|')));
        QVERIFY(lines.contains(QStringLiteral("   1: General")));
    }

    void chooserLayoutAndCaptions()
    {
        TChooseFileAreaForm form;
        form.show();
        QCOMPARE(form.windowTitle(), QStringLiteral("Choose a File Area"));
        QCOMPARE(form.size(), QSize(264, 346));
        QCOMPARE(form.Result(), -1);
        QCOMPARE(form.AreaListBox->objectName(), QStringLiteral("AreaListBox"));
        QCOMPARE(form.AreaListBox->height(), 305);
        QCOMPARE(form.b_OK->text(), QStringLiteral("&OK"));
        QCOMPARE(form.b_Cancel->text(), QStringLiteral("&Cancel"));
        QStringList lines;
        for (int i = 0; i < form.AreaListBox->count(); ++i)
            lines << form.AreaListBox->item(i)->text();
        QCOMPARE(lines,
                 (QStringList{QStringLiteral("   1: General"), QStringLiteral("   2: Uploads"),
                              QStringLiteral("  12: Utilities")}));
        form.close();
    }

    void chooserResult_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("selectArea"); // 0: no line selected first
        QTest::addColumn<int>("expected");
        QTest::newRow("OK") << "ok" << 12 << 12;
        QTest::newRow("double click") << "dblclick" << 2 << 2;
        QTest::newRow("Cancel") << "cancel" << 2 << -1;
        QTest::newRow("close box with a selection") << "closebox" << 12 << -1;
        QTest::newRow("Esc") << "esc" << 1 << -1;
        QTest::newRow("OK without selection, then Cancel") << "ok-none" << 0 << -1;
    }

    void chooserResult()
    {
        QFETCH(QString, how);
        QFETCH(int, selectArea);
        QFETCH(int, expected);
        TChooseFileAreaForm form;
        bool stayedOpen = false;
        OnNextModal([&](QWidget* w) {
            auto* f = qobject_cast<TChooseFileAreaForm*>(w);
            QVERIFY(f);
            if (selectArea)
                LineOfArea(f->AreaListBox, selectArea)->setSelected(true);
            if (how == QLatin1String("ok")) {
                f->b_OK->click();
            } else if (how == QLatin1String("dblclick")) {
                QListWidgetItem* item = LineOfArea(f->AreaListBox, selectArea);
                const QPoint at = f->AreaListBox->visualItemRect(item).center();
                QWidget* viewport = f->AreaListBox->viewport();
                for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                                          QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease})
                    sendMouse(viewport, type, at, Qt::LeftButton,
                              type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton);
            } else if (how == QLatin1String("cancel")) {
                f->b_Cancel->click();
            } else if (how == QLatin1String("closebox")) {
                f->close();
            } else if (how == QLatin1String("esc")) {
                QTest::keyClick(f, Qt::Key_Escape);
            } else {
                f->b_OK->click();
                stayedOpen = f->isVisible() && f->Result() == -1;
                f->b_Cancel->click();
            }
            // A window the action failed to close ends the test, not the run.
            QTimer::singleShot(2000, f, [f] { f->done(-99); });
        });
        const int result = form.exec();
        QCOMPARE(result, expected);
        QCOMPARE(form.Result(), expected);
        if (how == QLatin1String("ok-none"))
            QVERIFY(stayedOpen);
    }

    void chooserLeavesOutAreasNotFetched()
    {
        // Area numbers 3..11 do not exist: the list holds only real areas.
        TChooseFileAreaForm form;
        form.show();
        QCOMPARE(form.AreaListBox->count(), 3);
        form.close();
    }

    void progressWindow()
    {
        TProgressForm form;
        QCOMPARE(form.windowTitle(), QStringLiteral("Progress"));
        QCOMPARE(form.size(), QSize(270, 74));
        QCOMPARE(form.Bar->objectName(), QStringLiteral("Bar"));
        QCOMPARE(form.Bar->width(), 246);
        QCOMPARE(form.Bar->minimum(), 0);
        QCOMPARE(form.Bar->maximum(), 100);
        QCOMPARE(form.b_Cancel->text(), QStringLiteral("&Cancel"));
        form.show();
        QVERIFY(!form.isModal());
        QVERIFY(!form.CancelRequested());
        form.b_Cancel->click();
        QVERIFY(form.CancelRequested());
        QVERIFY(form.isVisible()); // Cancel only records the request
        form.hide();
        form.show();
        QVERIFY(!form.CancelRequested()); // cleared when shown
    }

    void splitterDrag_data()
    {
        QTest::addColumn<int>("moveTo"); // x in the bar's coordinates; 0: no move
        QTest::addColumn<int>("expectedWidth");
        QTest::newRow("narrower") << -50 << 186;
        QTest::newRow("wider") << 40 << 276;
        QTest::newRow("press and release only") << 0 << 236;
        QTest::newRow("beyond the left edge") << -400 << 0;
    }

    void splitterDrag()
    {
        QFETCH(int, moveTo);
        QFETCH(int, expectedWidth);
        TDelMgr form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.AreaList->width(), 236);
        QCOMPARE(form.Splitter->width(), 3);
        QCOMPARE(form.Splitter->cursor().shape(), Qt::SplitHCursor);
        TSplitControl* split = form.SplitControl();
        QVERIFY(split);
        QVERIFY(!split->IsSplitting());
        sendMouse(form.Splitter, QEvent::MouseButtonPress, QPoint(1, 20));
        QVERIFY(split->IsSplitting());
        QVERIFY(split->Line() && split->Line()->isVisible());
        // The line is drawn the bar's length, where the bar is.
        QCOMPARE(split->Line()->geometry().x(), form.Splitter->mapTo(&form, QPoint(0, 0)).x());
        QCOMPARE(split->Line()->geometry().height(), form.Splitter->height());
        if (moveTo) {
            sendMouse(form.Splitter, QEvent::MouseMove, QPoint(moveTo, 25), Qt::NoButton);
            QCOMPARE(split->Line()->geometry().x(),
                     form.Splitter->mapTo(&form, QPoint(0, 0)).x() + moveTo);
        }
        sendMouse(form.Splitter, QEvent::MouseButtonRelease, QPoint(moveTo, 25), Qt::LeftButton,
                  Qt::NoButton);
        QVERIFY(!split->IsSplitting());
        QVERIFY(!split->Line()->isVisible());
        QCOMPARE(form.AreaList->width(), expectedWidth);
        QCoreApplication::processEvents();
        // The list and the bar stay side by side.
        QCOMPARE(form.Splitter->x(), form.AreaList->x() + form.AreaList->width());
        form.close();
    }

    void splitterIgnoresOtherPresses_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("shift") << 0;
        QTest::newRow("right button") << 1;
        QTest::newRow("double click") << 2;
        QTest::newRow("two buttons") << 3;
    }

    void splitterIgnoresOtherPresses()
    {
        QFETCH(int, kind);
        TDelMgr form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        switch (kind) {
        case 0:
            sendMouse(form.Splitter, QEvent::MouseButtonPress, QPoint(1, 20), Qt::LeftButton,
                      Qt::LeftButton, Qt::ShiftModifier);
            break;
        case 1:
            sendMouse(form.Splitter, QEvent::MouseButtonPress, QPoint(1, 20), Qt::RightButton,
                      Qt::RightButton);
            break;
        case 2:
            sendMouse(form.Splitter, QEvent::MouseButtonDblClick, QPoint(1, 20));
            break;
        case 3:
            sendMouse(form.Splitter, QEvent::MouseButtonPress, QPoint(1, 20), Qt::LeftButton,
                      Qt::LeftButton | Qt::RightButton);
            break;
        }
        QVERIFY(!form.SplitControl()->IsSplitting());
        sendMouse(form.Splitter, QEvent::MouseMove, QPoint(-60, 20), Qt::NoButton);
        sendMouse(form.Splitter, QEvent::MouseButtonRelease, QPoint(-60, 20), Qt::LeftButton,
                  Qt::NoButton);
        QCOMPARE(form.AreaList->width(), 236);
        form.close();
    }
};

VT_TEST_MAIN(TestSmallWindows)
#include "test_smallwindows.moc"
