// The configuration file is outside input (edited by hand, copied from
// elsewhere): reading any bytes finds values without failing, and writing
// one key keeps every other line byte for byte, in order.
#include "FuzzSupport.h"

#include "common/AppError.h"
#include "config/IniFile.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace
{

// The file's lines, each with its own line end ("\r\n", "\n" or a lone "\r").
QList<QByteArray> SplitKeepingEnds(const QByteArray& data)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < data.size(); ++i) {
        if (data.at(i) == '\n' ||
            (data.at(i) == '\r' && (i + 1 >= data.size() || data.at(i + 1) != '\n'))) {
            lines.append(data.mid(start, i + 1 - start));
            start = i + 1;
        }
    }
    if (start < data.size())
        lines.append(data.mid(start));
    return lines;
}

bool HasLineEnd(const QByteArray& line)
{
    return line.endsWith('\n') || line.endsWith('\r');
}

// A name as a user could type it in a setup field: letters, digits and a
// few marks, at least one character, no surrounding blanks.
QString NameFrom(const QByteArray& raw, const char* fallback)
{
    QByteArray out;
    for (char c : raw) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                        (c >= '0' && c <= '9') || c == '_' || c == '.' || c == '-' || c == ' ';
        if (ok)
            out += c;
    }
    out = out.trimmed();
    return QString::fromLatin1(out.isEmpty() ? QByteArray(fallback) : out.left(40));
}

// What the reader makes of a written value: blanks trimmed, one pair of
// surrounding quotes removed, at most 1,023 characters.
QString AsRead(const QByteArray& value)
{
    qsizetype b = 0, e = value.size();
    while (b < e && (value.at(b) == ' ' || value.at(b) == '\t'))
        ++b;
    while (e > b && (value.at(e - 1) == ' ' || value.at(e - 1) == '\t'))
        --e;
    QByteArray v = value.mid(b, e - b);
    if (v.size() >= 2 && v.startsWith('"') && v.endsWith('"'))
        v = v.mid(1, v.size() - 2);
    return QString::fromLatin1(v.left(1023));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = fuzz::ScratchFolder() + "/vuru.cfg";
    fuzz::WriteBytes(path, data, size);
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QList<QByteArray> original = SplitKeepingEnds(bytes);

    // Section and key names: the program's own, and ones taken from the input
    // (the text between the first '[' and ']', the text before the first '=').
    const qsizetype open = bytes.indexOf('['), close = bytes.indexOf(']', open + 1);
    const QString inputSection =
        NameFrom(open >= 0 && close > open ? bytes.mid(open + 1, close - open - 1) : QByteArray(),
                 "General");
    const qsizetype eq = bytes.indexOf('=');
    const qsizetype keyStart = eq < 0 ? 0 : bytes.lastIndexOf('\n', eq) + 1;
    const QString inputKey =
        NameFrom(eq < 0 ? QByteArray() : bytes.mid(keyStart, eq - keyStart), "SysopName");

    IniFile ini(QString::fromLocal8Bit(path.c_str()));
    const QString sections[] = {QStringLiteral("General"), QStringLiteral("Tools"), inputSection};
    const QString keys[] = {QStringLiteral("SysopName"), QStringLiteral("ZipViewer_Prg1"),
                            inputKey};
    for (const QString& s : sections)
        for (const QString& k : keys)
            FUZZ_CHECK(ini.ReadString(s, k, QString()).size() <= 1023);

    // Write one key: the value is the input's last line without its breaks.
    QByteArray rawValue = original.isEmpty() ? QByteArray() : original.last();
    rawValue.replace('\r', "").replace('\n', "");
    rawValue = rawValue.left(300);
    const QString section = (size & 1) ? inputSection : sections[size % 2];
    const QString key = (size & 2) ? inputKey : keys[(size >> 2) % 2];
    try {
        ini.WriteString(section, key, QString::fromLatin1(rawValue));
    } catch (const WriteError&) {
        FUZZ_CHECK(false);
    }
    QFile file(QString::fromLocal8Bit(path.c_str()));
    FUZZ_CHECK(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> written = SplitKeepingEnds(file.readAll());
    file.close();

    // Every original line is there in order, apart from one stretch in the
    // middle: at most one original line (the replaced key line, or a last
    // line without a line end that gained one) and at most three written
    // lines (the new key line, or a new section and its key).
    qsizetype prefix = 0;
    while (prefix < original.size() && prefix < written.size() &&
           original.at(prefix) == written.at(prefix))
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < original.size() - prefix && suffix < written.size() - prefix &&
           original.at(original.size() - 1 - suffix) == written.at(written.size() - 1 - suffix))
        ++suffix;
    const qsizetype origMiddle = original.size() - prefix - suffix;
    const qsizetype newMiddle = written.size() - prefix - suffix;
    FUZZ_CHECK(origMiddle <= 1);
    FUZZ_CHECK(newMiddle >= origMiddle && newMiddle <= 3);
    if (origMiddle == 1 && newMiddle >= 2) {
        // Only the file's last line, when it had no line end, gains one.
        const QByteArray& line = original.at(prefix);
        FUZZ_CHECK(prefix == original.size() - 1 && !HasLineEnd(line));
        const QByteArray& now = written.at(prefix);
        FUZZ_CHECK(now.startsWith(line) && now.size() - line.size() <= 2 &&
                   !HasLineEnd(now.left(line.size())));
    }

    // The value reads back, from this object and from a fresh read of the file.
    const QString expect = AsRead(rawValue);
    FUZZ_CHECK(ini.ReadString(section, key, QStringLiteral("\x01")) == expect);
    IniFile again(QString::fromLocal8Bit(path.c_str()));
    FUZZ_CHECK(again.ReadString(section, key, QStringLiteral("\x01")) == expect);
    return 0;
}
