// Code page 437, the DOS PC's character set of the United States: the
// CodePage::Cp437 table of common/CodePage.h.
#pragma once

#include "common/CodePage.h"

inline QChar Cp437Char(unsigned char byte)
{
    return CodePageChar(CodePage::Cp437, byte);
}

inline int Cp437Byte(QChar ch)
{
    return CodePageByte(CodePage::Cp437, ch);
}

inline QString Cp437ToString(const QByteArray& bytes)
{
    return CodePageToString(CodePage::Cp437, bytes);
}

inline QByteArray Cp437FromString(const QString& text, int* unmapped = nullptr)
{
    return CodePageFromString(CodePage::Cp437, text, unmapped);
}
