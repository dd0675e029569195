// "Setup": edits the settings kept in vuru.cfg (sysop name, the BBS's home
// folder, the zip viewer program, the code page record texts are shown in).
#pragma once

#include "common/TicSettings.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QWidget;

class TSetupDlg : public QDialog
{
    Q_OBJECT
public:
    explicit TSetupDlg(QWidget* parent = nullptr);

    // The configuration file: ProgramFolder + "vuru.cfg".
    static QString ConfigPath();

    QTabWidget* PageControl1 = nullptr;
    QWidget* General = nullptr;
    QWidget* ToolsMenu = nullptr;
    QLineEdit* e_SysopName = nullptr;
    QLineEdit* e_wcHomeDir = nullptr;
    // The code page record texts are shown in: one item per code page, in
    // the order of AllCodePages.
    QComboBox* cb_CodePage = nullptr;
    QCheckBox* cb_AllowLinks = nullptr;
    QLineEdit* e_Tools_Prg1 = nullptr;
    QPushButton* b_Tools_Browse1 = nullptr;
    // "File Echoes": the TIC intake's settings (config/Settings.h); the
    // echoes as "TAG=AREA" lines, the uplinks' passwords as
    // "ADDRESS=PASSWORD" lines.
    QWidget* FileEchoes = nullptr;
    QLineEdit* e_TicInbound = nullptr;
    QLineEdit* e_TicBadFolder = nullptr;
    QLineEdit* e_TicUploader = nullptr;
    QCheckBox* cb_TicReplaceSameName = nullptr;
    QPlainTextEdit* m_TicAreas = nullptr;
    QPlainTextEdit* m_TicPasswords = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;

public slots:
    void FormShow();
    void b_Tools_Browse1Click();
    void BitBtn1Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    // The File Echoes tab's settings; false (the line named in `problem`)
    // when a line of the echoes or passwords can't be read.
    bool TicSettingsShown(TicSettings& settings, QString& problem) const;

    bool m_shown = false;
    TicSettings m_ticRead; // as FormShow read them: written again only when changed
};
