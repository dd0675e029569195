// Every message box and file chooser of the program goes through these
// functions. A test installs a hook to read each text and give each answer;
// without a hook the real modal box is shown.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QMessageBox;
class QWidget;

enum class MessageKind { Warning, Information, Confirmation, Error };
enum class DialogAnswer { Ok, Yes, No, All, Closed };

// Message hook: gets the kind, the exact text and the buttons offered
// ("OK", "&Yes", "&No", "&All"), returns the button pressed.
using MessageHook = std::function<DialogAnswer(MessageKind, const QString&, const QStringList&)>;
// Installs a hook (empty: real boxes again); returns the previous one.
MessageHook SetMessageHook(MessageHook hook);
// Box hook: sees each message box as it is about to be shown (caption, text,
// text format, buttons), before the message hook answers it, if one is set.
using MessageBoxHook = std::function<void(const QMessageBox&)>;
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);

void ShowWarning(const QString& text);
void ShowInformation(const QString& text);
// `defaultAnswer` No makes No the button that Enter presses.
bool ConfirmYesNo(const QString& text, DialogAnswer defaultAnswer = DialogAnswer::Yes);
// 1 for Yes, -1 for All, 0 for No or a box closed without a button.
int ConfirmYesNoAll(const QString& text);
void ShowServerError(unsigned code);
// The symbolic name ShowServerError shows for a code.
QString ServerErrorName(unsigned code);
// The general error box: a command ended by an error (conversion, write).
void ShowErrorBox(const QString& text);

enum class FileDialogKind { Open, Save };
struct FileDialogRequest {
    FileDialogKind kind = FileDialogKind::Open;
    QString title;
    QString filter; // "Description|*.a;*.b|All Files|*.*"
    bool confirmOverwrite = false;
    bool mustExist = false;
};
// File hook: returns the chosen full path, or an empty text for Cancel.
using FileDialogHook = std::function<QString(const FileDialogRequest&)>;
FileDialogHook SetFileDialogHook(FileDialogHook hook);
QString ChooseFile(QWidget* parent, const FileDialogRequest& request);
