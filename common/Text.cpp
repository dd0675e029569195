#include "common/Text.h"

#include "common/AppError.h"

#include <atomic>
#include <cstring>

namespace
{
std::atomic<RecordCodePage> g_codePage{RecordCodePage::Latin1};

std::size_t FieldLength(const char* field, std::size_t size)
{
    const void* nul = std::memchr(field, 0, size);
    return nul ? std::size_t(static_cast<const char*>(nul) - field) : size;
}

void CopyBounded(char* field, std::size_t size, const QByteArray& bytes)
{
    if (size == 0)
        return;
    const std::size_t len = std::min<std::size_t>(std::size_t(bytes.size()), size - 1);
    std::memcpy(field, bytes.constData(), len);
    field[len] = '\0';
}
} // namespace

QString RecText(const char* field, std::size_t size)
{
    return QString::fromLatin1(field, qsizetype(FieldLength(field, size)));
}

void SetRecText(char* field, std::size_t size, const QString& text)
{
    CopyBounded(field, size, ToBytes(text));
}

void SetRecordCodePage(RecordCodePage page)
{
    g_codePage.store(page);
}

RecordCodePage CurrentRecordCodePage()
{
    return g_codePage.load();
}

QString ShownText(const QByteArray& bytes)
{
    return CodePageToString(CurrentRecordCodePage(), bytes);
}

QByteArray StoredBytes(const QString& text)
{
    const RecordCodePage page = CurrentRecordCodePage();
    return page == RecordCodePage::Latin1 ? ToBytes(text) : CodePageFromString(page, text);
}

QString ShownRecText(const char* field, std::size_t size)
{
    return ShownText(QByteArray(field, qsizetype(FieldLength(field, size))));
}

void SetShownRecText(char* field, std::size_t size, const QString& text)
{
    CopyBounded(field, size, StoredBytes(text));
}

QByteArray ToBytes(const QString& text)
{
    return text.toLatin1();
}

QString FromBytes(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes);
}

QString TrimControls(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= 32)
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= 32)
        --end;
    return text.mid(begin, end - begin);
}

bool TryStrToInt(const QString& text, int& value)
{
    const QString t = text.trimmed();
    qsizetype i = 0;
    bool negative = false;
    if (i < t.size() && (t.at(i) == u'+' || t.at(i) == u'-')) {
        negative = t.at(i) == u'-';
        ++i;
    }
    if (i >= t.size())
        return false;
    long long v = 0;
    for (; i < t.size(); ++i) {
        const char16_t c = t.at(i).unicode();
        if (c < u'0' || c > u'9')
            return false;
        v = v * 10 + (c - u'0');
        if (v > 2147483648LL)
            return false;
    }
    if (negative)
        v = -v;
    if (v > 2147483647LL || v < -2147483648LL)
        return false;
    value = int(v);
    return true;
}

int StrToInt(const QString& text)
{
    int value = 0;
    if (!TryStrToInt(text, value))
        throw ConversionError(QStringLiteral("'%1' is not a valid integer value").arg(text));
    return value;
}
