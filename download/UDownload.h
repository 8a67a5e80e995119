#pragma once

#include "HttpClient.h"
#include "Platform.h"

#include <QString>

// Brings the Package into the Product directory.
class TDownload {
public:
    // Opens the package file exclusively, creating or emptying it.
    TDownload(HttpClient& aIdHTTP, const QString& aCaminhoAtualizar);
    ~TDownload();

    // Backup of the executable, the address lookup and the download; any
    // failure leaves as "Não foi possível realizar o download do aplicativo!"
    // followed by the inner message.
    void RealizarDownload();

    // Whether this attempt moved Vantra.exe to Vantra_old.exe.
    bool BackupFeito() const { return FBackupFeito; }

    // Sent by both requests.
    static const QString userAgent;

private:
    QString ObterValorConfiguracao(const QString& chave);

    HttpClient& FIdHTTP;
    platform::File FExecutavelZip;
    QString FCaminhoAtualizar;
    bool FBackupFeito = false;
};
