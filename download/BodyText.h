#pragma once

#include <QByteArray>
#include <QString>

// A response body as text: decoded by the charset parameter of `contentType`;
// without one, or with one this machine does not know, each byte becomes the
// character of the same code (ISO-8859-1).
QString decodeBody(const QByteArray& body, const QString& contentType);

// The charset parameter of a Content-Type value, empty when there is none.
QString charsetOf(const QString& contentType);
