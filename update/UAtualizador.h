#pragma once

#include "EtapaAtualizador.h"
#include "HttpClient.h"

#include <QString>

// Runs the three update steps, reporting each in the Step list.
class TAtualizador {
public:
    TAtualizador(IEtapaAtualizador& aEtapaAtualizador, HttpClient& aIdHTTP,
                 QString aCaminhoAtualizar);

    // Returns only when every step succeeded; otherwise throws
    // "Não foi possível atualizar o aplicativo!" + CRLF CRLF + the cause.
    void Atualizar();

private:
    void Descompactar();

    HttpClient& FIdHTTP;
    IEtapaAtualizador& FEtapaAtualizador;
    QString FCaminhoAtualizar;
};
