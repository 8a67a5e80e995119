#include "SettingsLookup.h"

#include "BuildConfig.h"
#include "HttpClient.h"
#include "UDownload.h"

namespace {

// Only A to Z, so that lengths and positions stay those of the original text.
QString asciiLower(const QString& text) {
    QString lower = text;
    for (QChar& c : lower)
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() - u'A' + u'a');
    return lower;
}

} // namespace

QString valorDaChave(const QString& texto, const QString& chave) {
    if (chave.isEmpty())
        return {};
    qsizetype p = asciiLower(texto).indexOf(asciiLower(chave));
    if (p < 0)
        return {};
    const QString r = texto.mid(p);
    // 1-based positions, 0 when absent, as the document format was defined.
    qsizetype e = r.indexOf(u'=') + 1;
    qsizetype h = r.indexOf(u'#') + 1;
    qsizetype n = h == 0 ? r.size() : h - e - 1;
    if (n <= 0)
        return {};
    return r.mid(e, n);
}

QString enderecoDadosConexao() {
    return QStringLiteral("https://") + build_config::servidorArquivos() +
           QStringLiteral("/Vantra/DADOSCONEXAO.txt");
}

QString TDownload::ObterValorConfiguracao(const QString& chave) {
    // A client of its own for each lookup: nothing of it outlives the lookup.
    HttpClient cliente(FIdHTTP.readTimeout());
    cliente.UserAgent = userAgent;
    cliente.setCaFile(build_config::arquivoCa());
    cliente.PrepararTls();
    return valorDaChave(cliente.Get(enderecoDadosConexao(), tamanhoMaximoDadosConexao), chave);
}
