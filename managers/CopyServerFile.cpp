#include "managers/CopyServerFile.h"

#include "common/Dialogs.h"
#include "managers/TProgressForm.h"
#include "server/ServerFileCopy.h"

#include <QProgressBar>

#include <optional>

namespace
{

// The copy's modeless progress window: shown once both files are open,
// only updated (the copy neither reads its Cancel button nor processes other
// window messages), closed at the end.
class ProgressWindowObserver : public CopyObserver
{
public:
    void Begin(const QString& caption, int maximum) override
    {
        m_form.emplace();
        m_form->show();
        m_form->setWindowTitle(caption);
        m_form->Bar->setValue(0);
        m_form->Bar->setMaximum(maximum);
    }
    void Progress(int chunks) override
    {
        if (m_form)
            m_form->Bar->setValue(chunks);
    }
    void End() override
    {
        if (m_form)
            m_form->close();
    }
    void Warn(const QString& text) override { ShowWarning(text); }

private:
    std::optional<TProgressForm> m_form;
};

} // namespace

bool CopyServerFile(const QString& source, const QString& destination, const QString& caption)
{
    ProgressWindowObserver observer;
    return CopyServerFileWith(source, destination, caption, observer);
}

FileMove MoveServerFile(const QString& source, const QString& destination, const QString& caption)
{
    ProgressWindowObserver observer;
    return MoveServerFileWith(source, destination, caption, observer);
}
