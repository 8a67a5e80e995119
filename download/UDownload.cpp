#include "UDownload.h"

#include "ArquivosProduto.h"
#include "BuildConfig.h"
#include "Exception.h"

const QString TDownload::userAgent =
    QStringLiteral("Mozilla/5.0 (Windows NT 6.1; WOW64; rv:12.0) Gecko/20100101 Firefox/12.0");

namespace {

HttpClient& comAgente(HttpClient& cliente) {
    cliente.UserAgent = TDownload::userAgent;
    return cliente;
}

} // namespace

TDownload::TDownload(HttpClient& aIdHTTP, const QString& aCaminhoAtualizar)
    : FIdHTTP(comAgente(aIdHTTP)), FExecutavelZip(platform::File::createExclusive(
                                       produto::caminho(aCaminhoAtualizar, produto::Pacote))),
      FCaminhoAtualizar(aCaminhoAtualizar) {}

TDownload::~TDownload() = default;

void TDownload::RealizarDownload() {
    try {
        // Never replaces an existing backup; a failed move is not an error.
        FBackupFeito = platform::moveFile(produto::caminho(FCaminhoAtualizar, produto::Executavel),
                                          produto::caminho(FCaminhoAtualizar, produto::Backup));
        FIdHTTP.setCaFile(build_config::arquivoCa());
        FIdHTTP.PrepararTls();
        const QString endereco = ObterValorConfiguracao(QStringLiteral("executavelvantra"));
        FIdHTTP.Get(endereco, FExecutavelZip);
    } catch (const std::exception& e) {
        throw wrapped(u"Não foi possível realizar o download do aplicativo!", e);
    }
}
