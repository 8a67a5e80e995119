#pragma once

#include "Exception.h"

#include <QString>

inline Exception erro(const QString& message) {
    return Exception(message.toStdU16String());
}

inline QString mensagem(const std::exception& error) {
    return QString::fromStdU16String(messageOf(error));
}
