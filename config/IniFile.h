// A private-profile (INI) file kept as its list of lines: "[Section]",
// "key=value", values raw (a backslash stays one backslash). Sections and
// keys match without regard to case; reading trims surrounding blanks and
// removes one pair of surrounding double quotes; a write replaces the one
// line (or appends the key to its section, or the section to the file) and
// leaves every other line byte for byte, line ends included.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

class IniFile
{
public:
    // Reads the file when it exists; a missing or unreadable file is empty.
    explicit IniFile(const QString& path);

    const QString& path() const { return m_path; }
    // At most 1,023 characters of a value are seen.
    QString ReadString(const QString& section, const QString& key, const QString& def) const;
    // Changes the line and writes the whole file back at once. A file that
    // cannot be written throws WriteError "Unable to write to <path>".
    void WriteString(const QString& section, const QString& key, const QString& value);

private:
    QString m_path;
    QList<QByteArray> m_lines; // each with its own line end as read
};
