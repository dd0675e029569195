// Code page 437, the DOS PC's character set: one table of 256 characters
// each way, so record bytes shown as text and stored again stay the same.
#pragma once

#include <QByteArray>
#include <QChar>
#include <QString>

// The character a DOS PC showed for each byte. 0x00 stays U+0000 (it ends a
// record text); 0x01-0x1F and 0x7F are the graphic characters of the screen
// font (smileys, arrows, the house); 0x80-0xFF the accented letters, box
// drawing, Greek and mathematical signs.
QChar Cp437Char(unsigned char byte);

// The byte of a character, or -1 when code page 437 has none. Besides the
// 256 characters of the table, the control characters U+0001-U+001F and
// U+007F give their own byte, so a tab or line break typed or read
// elsewhere is stored as that byte.
int Cp437Byte(QChar ch);

QString Cp437ToString(const QByteArray& bytes);
// Characters without a byte become '?'; `unmapped` (when given) gets their
// number.
QByteArray Cp437FromString(const QString& text, int* unmapped = nullptr);
