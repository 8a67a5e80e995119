#include "UDownload.h"

#include "ArquivosProduto.h"
#include "BuildConfig.h"
#include "Exception.h"
#include "ExceptionQt.h"
#include "PackageSignature.h"

const QString TDownload::userAgent =
    QStringLiteral("Mozilla/5.0 (Windows NT 6.1; WOW64; rv:12.0) Gecko/20100101 Firefox/12.0");

namespace {

HttpClient& comAgente(HttpClient& cliente) {
    cliente.UserAgent = TDownload::userAgent;
    return cliente;
}

// Whether the client would fetch the address in plaintext: its scheme, read as
// the client reads it (a backslash before the query stands for "/").
bool semCifra(QString endereco) {
    const qsizetype query = endereco.indexOf(u'?');
    for (qsizetype i = 0; i < endereco.size() && (query < 0 || i < query); ++i)
        if (endereco[i] == u'\\')
            endereco[i] = u'/';
    const qsizetype separador = endereco.indexOf(QStringLiteral("://"));
    return separador >= 0 &&
           endereco.left(separador).compare(QStringLiteral("http"), Qt::CaseInsensitive) == 0;
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
        const QString chavePublica = build_config::chavePublica();
        // Without a signature only TLS vouches for the package.
        if (chavePublica.isEmpty() && semCifra(endereco))
            throw erro(QStringLiteral("The package address \"%1\" is not secure: https is "
                                      "required.")
                           .arg(endereco));
        FIdHTTP.Get(endereco, FExecutavelZip);
        if (!chavePublica.isEmpty())
            VerificarAssinatura(endereco, chavePublica);
    } catch (const std::exception& e) {
        throw wrapped(u"Não foi possível realizar o download do aplicativo!", e);
    }
}

void TDownload::VerificarAssinatura(const QString& enderecoPacote, const QString& chavePublica) {
    try {
        const QByteArray assinatura =
            FIdHTTP.GetBytes(enderecoAssinatura(enderecoPacote), tamanhoMaximoAssinatura);
        verificarAssinaturaPacote(FExecutavelZip, assinatura, chavePublica);
    } catch (...) {
        // What no signature vouches for must not be left where extraction looks.
        try {
            FExecutavelZip.truncate(0);
        } catch (...) {
        }
        throw;
    }
}
