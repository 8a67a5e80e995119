#pragma once

// The messages of failed exchanges, in the words users of the updater read:
// Windows Sockets numbers and texts, and the TLS library's own descriptions.

#include <QString>

#include <curl/curl.h>

// "Socket Error # <number>" CRLF <text> for a socket error as the system
// reports it (errno, or WSAGetLastError on Windows).
QString socketErrorMessage(int osError);

// The message for a transfer libcurl ended with `code`; `osError` is its
// CURLINFO_OS_ERRNO and `detail` its error buffer.
QString transferFailureMessage(CURLcode code, long osError, const char* detail);
