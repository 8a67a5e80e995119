#pragma once

#include "Platform.h"

#include <QByteArray>
#include <QString>

// An entry's stored name as text: UTF-8 when the entry says so (general
// purpose bit 11) or when the bytes are valid UTF-8; otherwise through the
// OEM code page for names written on MS-DOS hosts and the ANSI code page for
// the others. A code page without a table here is read as 437 (OEM) or
// 1252 (ANSI).
QString decodeEntryName(const QByteArray& stored, bool utf8Flag, bool msDosHost,
                        const platform::NameCodePages& codePages);
