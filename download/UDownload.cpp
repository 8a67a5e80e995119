#include "UDownload.h"

#include "BuildConfig.h"
#include "Exception.h"

#include <QDir>

const QString TDownload::userAgent =
    QStringLiteral("Mozilla/5.0 (Windows NT 6.1; WOW64; rv:12.0) Gecko/20100101 Firefox/12.0");

namespace {

// The Product directory already ends in a separator; one more is added, as
// the file system reads two in a row as one.
platform::Path caminhoNoDiretorio(const QString& diretorio, const QString& nomeArquivo) {
    return platform::Path((diretorio + QDir::separator() + nomeArquivo).toStdU16String());
}

HttpClient& comAgente(HttpClient& cliente) {
    cliente.UserAgent = TDownload::userAgent;
    return cliente;
}

} // namespace

TDownload::TDownload(HttpClient& aIdHTTP, const QString& aCaminhoAtualizar)
    : FIdHTTP(comAgente(aIdHTTP)),
      FExecutavelZip(platform::File::createExclusive(
          caminhoNoDiretorio(aCaminhoAtualizar, QStringLiteral("Vantra.zip")))),
      FCaminhoAtualizar(aCaminhoAtualizar) {}

TDownload::~TDownload() = default;

platform::Path TDownload::caminho(const QString& nomeArquivo) const {
    return caminhoNoDiretorio(FCaminhoAtualizar, nomeArquivo);
}

void TDownload::RealizarDownload() {
    try {
        // Never replaces an existing backup; a failed move is not an error.
        FBackupFeito = platform::moveFile(caminho(QStringLiteral("Vantra.exe")),
                                          caminho(QStringLiteral("Vantra_old.exe")));
        FIdHTTP.setCaFile(build_config::arquivoCa());
        FIdHTTP.PrepararTls();
        const QString endereco = ObterValorConfiguracao(QStringLiteral("executavelvantra"));
        FIdHTTP.Get(endereco, FExecutavelZip);
    } catch (const std::exception& e) {
        throw wrapped(u"Não foi possível realizar o download do aplicativo!", e);
    }
}
