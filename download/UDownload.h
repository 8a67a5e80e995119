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

    // Backup of the executable, the address lookup, the download and, when the
    // updater was built with a public key, the check of the package's
    // signature; any failure leaves as "Não foi possível realizar o download
    // do aplicativo!" followed by the inner message.
    void RealizarDownload();

    // Whether this attempt moved Vantra.exe to Vantra_old.exe.
    bool BackupFeito() const { return FBackupFeito; }

    // Sent by every request.
    static const QString userAgent;

private:
    QString ObterValorConfiguracao(const QString& chave);
    void VerificarAssinatura(const QString& enderecoPacote, const QString& chavePublica);

    HttpClient& FIdHTTP;
    platform::File FExecutavelZip;
    QString FCaminhoAtualizar;
    bool FBackupFeito = false;
};
