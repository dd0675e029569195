// A private-profile (INI) file kept as its list of lines: "[Section]",
// "key=value", values raw (a backslash stays one backslash). Sections and
// keys match without regard to case; reading trims surrounding blanks and
// removes one pair of surrounding double quotes; a write replaces the one
// line (or appends the key to its section, or the section to the file) and
// leaves every other line byte for byte, line ends included. A line break
// inside a value never reaches the file: see SetString.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <utility>

class IniFile
{
public:
    // Reads the file when it exists; a missing or unreadable file is empty.
    explicit IniFile(const QString& path);

    const QString& path() const { return m_path; }
    // At most 1,023 characters of a value are seen.
    QString ReadString(const QString& section, const QString& key, const QString& def) const;
    // Every "key=value" line of the section (of each section of that name,
    // in file order), read as ReadString reads a value: the lines of a
    // section whose keys are data rather than names ("TAG=AREA").
    QList<std::pair<QString, QString>> ReadSection(const QString& section) const;
    // Changes the section in memory to hold exactly `entries`: its key lines
    // go, the new ones take the place of the first of them (or follow the
    // section's header; a missing section is appended when there are
    // entries). Comments and blank lines stay. Line breaks become blanks as
    // in SetString; an entry whose key is empty, starts with '[' or ';' or
    // holds '=' could not be read back as that key and is left out.
    void SetSection(const QString& section, const QList<std::pair<QString, QString>>& entries);
    // Changes the line in memory only; Save writes it. Each run of CR and LF
    // characters in the value (or in the key or section name) is written as
    // one blank, so the key stays one line and cannot start another key or
    // section, and the words either side of the break stay apart.
    void SetString(const QString& section, const QString& key, const QString& value);
    // Writes all lines in one go to a new file that then replaces the old
    // one: a write that fails part-way leaves the old file as it was. A file
    // that cannot be written throws WriteError "Unable to write to <path>".
    void Save() const;
    // SetString and Save; when the save fails the kept lines stay as they were.
    void WriteString(const QString& section, const QString& key, const QString& value);

private:
    QString m_path;
    QList<QByteArray> m_lines; // each with its own line end as read
};
