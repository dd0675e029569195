// The 8-bit character sets record texts are written in: Latin-1 and the DOS
// PC's code pages 437 (United States), 850 (Western Europe), 852 (Central
// Europe) and 866 (Cyrillic). Each is one table of 256 characters, one for
// every byte value and no two alike, so bytes shown as text and stored
// again stay the same.
#pragma once

#include <QByteArray>
#include <QChar>
#include <QString>

enum class CodePage { Latin1, Cp437, Cp850, Cp852, Cp866 };

// Every code page, in the order the setup window offers them.
inline constexpr CodePage AllCodePages[] = {CodePage::Latin1, CodePage::Cp437, CodePage::Cp850,
                                            CodePage::Cp852, CodePage::Cp866};

// The page's name in the CodePage setting and the command line's
// --codepage: "Latin1", "437", "850", "852", "866".
QString CodePageName(CodePage page);
// The page a name means (letter case and surrounding blanks ignored); false
// for any other text.
bool CodePageOfName(const QString& name, CodePage& page);

// The character a byte stands for. Latin-1 maps each byte to the character
// of the same number. In the DOS pages 0x00 stays U+0000 (it ends a record
// text), 0x01-0x1F and 0x7F are the screen font's graphic characters
// (smileys, arrows, the house) and 0x80-0xFF the page's own letters, box
// drawing and signs; where a page holds one of those graphic characters in
// its upper half (850: the pilcrow and the section sign), the low byte
// stands for its control character instead, so the table stays one to one.
QChar CodePageChar(CodePage page, unsigned char byte);

// The byte of a character, or -1 when the page has none. Besides the 256
// characters of the table, the control characters U+0001-U+001F and U+007F
// give their own byte, so a tab or line break typed or read elsewhere is
// stored as that byte.
int CodePageByte(CodePage page, QChar ch);

QString CodePageToString(CodePage page, const QByteArray& bytes);
// Characters without a byte become '?'; `unmapped` (when given) gets their
// number.
QByteArray CodePageFromString(CodePage page, const QString& text, int* unmapped = nullptr);
