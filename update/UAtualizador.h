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
    // A failure after this attempt moved Vantra.exe aside puts it back first,
    // unless a Vantra.exe has taken its place.
    void Atualizar();

private:
    void Descompactar();
    void Etapa(const QString& linha);

    HttpClient& FIdHTTP;
    IEtapaAtualizador& FEtapaAtualizador;
    QString FCaminhoAtualizar;
};

// Moves <directory>Vantra_old.exe back to <directory>Vantra.exe when there is
// no Vantra.exe. True when it did.
bool RestaurarExecutavel(const QString& caminhoAtualizar);
