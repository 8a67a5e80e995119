#pragma once

#include <QString>

// What the update sequence needs of the window's Step list.
class IEtapaAtualizador {
public:
    virtual ~IEtapaAtualizador() = default;
    // Appends one line at the end of the list.
    virtual void AdicionarLinha(const QString& linha) = 0;
    // Lets the window handle what is pending, so the new line is painted.
    virtual void ProcessarMensagens() = 0;
};
