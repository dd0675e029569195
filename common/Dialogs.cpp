#include "common/Dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace
{

MessageHook& messageHook()
{
    static MessageHook hook;
    return hook;
}

FileDialogHook& fileHook()
{
    static FileDialogHook hook;
    return hook;
}

const QString kOk = QStringLiteral("OK");
const QString kYes = QStringLiteral("&Yes");
const QString kNo = QStringLiteral("&No");
const QString kAll = QStringLiteral("&All");

MessageBoxHook& boxHook()
{
    static MessageBoxHook hook;
    return hook;
}

using ButtonAnswers = QList<QPair<QAbstractButton*, DialogAnswer>>;

// The box of one message, ready to show; `answers` gets what each button means.
void buildBox(QMessageBox& box, MessageKind kind, const QString& text, const QStringList& buttons,
              ButtonAnswers& answers, DialogAnswer defaultAnswer)
{
    switch (kind) {
    case MessageKind::Warning:
        box.setWindowTitle(QStringLiteral("Warning"));
        box.setIcon(QMessageBox::Warning);
        break;
    case MessageKind::Information:
        box.setWindowTitle(QStringLiteral("Information"));
        box.setIcon(QMessageBox::Information);
        break;
    case MessageKind::Confirmation:
        box.setWindowTitle(QStringLiteral("Confirm"));
        box.setIcon(QMessageBox::Question);
        break;
    case MessageKind::Error:
        box.setWindowTitle(QStringLiteral("Error"));
        box.setIcon(QMessageBox::Critical);
        break;
    }
    // Texts carry file and area names: "<B>X.ZIP" is a name, not markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    for (const QString& caption : buttons) {
        QMessageBox::ButtonRole role = QMessageBox::AcceptRole;
        DialogAnswer answer = DialogAnswer::Ok;
        if (caption == kYes) {
            role = QMessageBox::YesRole;
            answer = DialogAnswer::Yes;
        } else if (caption == kNo) {
            role = QMessageBox::NoRole;
            answer = DialogAnswer::No;
        } else if (caption == kAll) {
            role = QMessageBox::YesRole;
            answer = DialogAnswer::All;
        }
        answers.append({box.addButton(caption, role), answer});
    }
    // Without a default named here the box picks Yes (or the only button).
    if (defaultAnswer == DialogAnswer::No)
        for (const auto& [button, answer] : std::as_const(answers))
            if (answer == DialogAnswer::No)
                box.setDefaultButton(qobject_cast<QPushButton*>(button));
    // The close box counts as no button pressed.
    if (buttons.size() == 1)
        box.setEscapeButton(answers.first().first);
}

DialogAnswer showBox(MessageKind kind, const QString& text, const QStringList& buttons,
                     DialogAnswer defaultAnswer = DialogAnswer::Yes)
{
    // The box is built only when it is shown or a test looks at it.
    if (messageHook() && !boxHook())
        return messageHook()(kind, text, buttons);

    QMessageBox box(QApplication::activeWindow());
    ButtonAnswers answers;
    buildBox(box, kind, text, buttons, answers, defaultAnswer);
    if (boxHook())
        boxHook()(box);
    if (messageHook())
        return messageHook()(kind, text, buttons);
    box.exec();
    for (const auto& [button, answer] : answers)
        if (box.clickedButton() == button)
            return answer;
    return DialogAnswer::Closed;
}

// "Text files|*.txt;*.doc|All Files|*.*" -> "Text files (*.txt *.doc);;All Files (*.*)"
QString qtFilter(const QString& filter)
{
    const QStringList parts = filter.split(u'|');
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(u';', u' ');
        out << QStringLiteral("%1 (%2)").arg(parts[i], patterns.simplified());
    }
    return out.join(QStringLiteral(";;"));
}

} // namespace

MessageHook SetMessageHook(MessageHook hook)
{
    MessageHook old = std::move(messageHook());
    messageHook() = std::move(hook);
    return old;
}

void ShowWarning(const QString& text)
{
    showBox(MessageKind::Warning, text, {kOk});
}

void ShowInformation(const QString& text)
{
    showBox(MessageKind::Information, text, {kOk});
}

bool ConfirmYesNo(const QString& text, DialogAnswer defaultAnswer)
{
    return showBox(MessageKind::Confirmation, text, {kYes, kNo}, defaultAnswer) ==
           DialogAnswer::Yes;
}

int ConfirmYesNoAll(const QString& text)
{
    switch (showBox(MessageKind::Confirmation, text, {kYes, kNo, kAll})) {
    case DialogAnswer::Yes:
        return 1;
    case DialogAnswer::All:
        return -1;
    default:
        return 0;
    }
}

QString ServerErrorName(unsigned code)
{
    static const char* const names[] = {
        "WC_UNSUPPORTED_VERSION",
        "WC_CONTEXT_NOT_INITIALIZED",
        "WC_INVALID_NODE_NUMBER",
        "WC_USER_NOT_FOUND",
        "WC_INCORRECT_PASSWORD",
        "WC_USER_NOT_LOGGED_IN",
        "WC_INVALID_INDEX",
        "WC_INVALID_OBJECT_ID",
        "WC_GROUP_ALREADY_EXISTS",
        "WC_GROUP_NOT_FOUND",
        nullptr,
        "WC_OBJECTID_ALREADY_EXISTS",
        "WC_NAME_NOT_FOUND",
        "WC_NAME_ALREADY_EXISTS",
        "WC_ALREADY_LOGGED_IN",
        "WC_ITEM_NOT_FOUND",
        "WC_ITEM_REQUIRES_NAME",
        "WC_ITEM_ALREADY_EXISTS",
        "WC_ITEM_NAME_DIFFERENT",
        "WC_RECORD_NOT_FOUND",
        "WC_ACCESS_DENIED",
        "WC_NODE_ALREADY_IN_USE",
        "WC_USER_ALREADY_LOGGED_IN",
        "WC_INVALID_CONNECTION_ID",
        "WC_INVALID_CONFERENCE",
        "WC_INVALID_CONFERENCEGROUP",
        "WC_INVALID_FILEAREA",
        "WC_INVALID_FILEGROUP",
        "WC_DUPLICATE_RECORD",
        "WC_NO_ACTION_TAKEN",
        "WC_ACCOUNT_LOCKED_OUT",
        "WC_FILE_SEARCH_SYNTAX",
        "WC_REQUEST_NOT_ADDED",
        "WC_CONTEXT_MULTI_REFS",
        "WC_CONTEXT_ALREADY_INITIALIZED",
    };
    static_assert(sizeof(names) / sizeof(names[0]) == 0x23);
    if (code >= 0x20000001u && code <= 0x20000023u && names[code - 0x20000001u])
        return QString::fromLatin1(names[code - 0x20000001u]);
    return QStringLiteral("Unrecoginzed error.");
}

void ShowServerError(unsigned code)
{
    ShowWarning(ServerErrorName(code));
}

void ShowErrorBox(const QString& text)
{
    showBox(MessageKind::Error, text, {kOk});
}

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook)
{
    MessageBoxHook old = std::move(boxHook());
    boxHook() = std::move(hook);
    return old;
}

FileDialogHook SetFileDialogHook(FileDialogHook hook)
{
    FileDialogHook old = std::move(fileHook());
    fileHook() = std::move(hook);
    return old;
}

QString ChooseFile(QWidget* parent, const FileDialogRequest& request)
{
    if (fileHook())
        return fileHook()(request);
    QFileDialog dialog(parent, request.title, QString(), qtFilter(request.filter));
    if (request.kind == FileDialogKind::Save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        if (!request.confirmOverwrite)
            dialog.setOption(QFileDialog::DontConfirmOverwrite);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(request.mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().first();
}
