// The settings of the file echo intake ("TIC", "TicAreas" and
// "TicPasswords" in vuru.cfg) as plain data: the configuration reads and
// writes them (config/Settings.h), the intake's check and placement use
// them. No widgets, no file access.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// One "TAG=AREA" line of "TicAreas": the file echo's tag and the number of
// the file area its files go to.
struct TicAreaLink {
    QString tag;
    int area = 0;
    bool operator==(const TicAreaLink&) const = default;
};

// One "ADDRESS=PASSWORD" line of "TicPasswords": an uplink's FidoNet address
// ("21:1/100") and the password its TIC files carry in Pw.
struct TicPassword {
    QString address;
    QString password;
    bool operator==(const TicPassword&) const = default;
};

struct TicSettings {
    QString inbound;   // the folder the mailer puts files and their TICs into
    QString badFolder; // as set; empty means "bad" inside the inbound (BadFolderPath)
    QString uploader;  // the user name intake records get
    bool replaceSameName = true;
    QList<TicAreaLink> areas;
    QList<TicPassword> passwords;

    bool operator==(const TicSettings&) const = default;

    // The folder refused TICs go to: BadFolder when absolute, else BadFolder
    // (or "bad" when it is empty) inside the inbound.
    QString BadFolderPath() const;
    // The area of an echo tag, compared without regard to case (the first
    // line wins when two spell the same tag); 0 when the tag has no line.
    int AreaOfTag(const QString& tag) const;
    // The password set for an address (TicAddressKey compares them); false
    // when the address has no line, so no password is checked.
    bool PasswordOf(const QString& address, QString& password) const;
};

// An address in the form addresses are compared in: blanks trimmed, a
// "@domain" and a point ".0" (the node itself) left off, letters in lower
// case. "21:1/100.0@fsxnet" and "21:1/100" are the same uplink.
QString TicAddressKey(const QString& address);
