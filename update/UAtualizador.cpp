#include "UAtualizador.h"

#include "ArquivosProduto.h"
#include "Descompactador.h"
#include "Exception.h"
#include "Platform.h"
#include "UDownload.h"

#include <optional>

TAtualizador::TAtualizador(IEtapaAtualizador& aEtapaAtualizador, HttpClient& aIdHTTP,
                           QString aCaminhoAtualizar)
    : FIdHTTP(aIdHTTP), FEtapaAtualizador(aEtapaAtualizador),
      FCaminhoAtualizar(std::move(aCaminhoAtualizar)) {}

void TAtualizador::Atualizar() {
    bool backupFeito = false;
    try {
        Etapa(QStringLiteral("1 - Download do executável."));
        {
            std::optional<TDownload> download;
            download.emplace(FIdHTTP, FCaminhoAtualizar);
            // Read before the download object and its package file are gone,
            // on the failure path too.
            try {
                download->RealizarDownload();
            } catch (...) {
                backupFeito = download->BackupFeito();
                throw;
            }
            backupFeito = download->BackupFeito();
        }
        Etapa(QStringLiteral("2 - Descompactando o executável."));
        Descompactar();
        Etapa(QStringLiteral("3 - Executável atualizado com sucesso."));
    } catch (const std::exception& erro) {
        // Without this the product could no longer be started at all.
        if (backupFeito)
            RestaurarExecutavel(FCaminhoAtualizar);
        throw wrapped(u"Não foi possível atualizar o aplicativo!", erro);
    }
}

void TAtualizador::Descompactar() {
    // The window stays responsive while the entries are decoded.
    DescompactarPacote(FCaminhoAtualizar, [this] { FEtapaAtualizador.ProcessarMensagens(); });
}

void TAtualizador::Etapa(const QString& linha) {
    FEtapaAtualizador.AdicionarLinha(linha);
    FEtapaAtualizador.ProcessarMensagens();
}

bool RestaurarExecutavel(const QString& caminhoAtualizar) {
    const platform::Path executavel = produto::caminho(caminhoAtualizar, produto::Executavel);
    if (platform::fileExists(executavel))
        return false;
    return platform::moveFile(produto::caminho(caminhoAtualizar, produto::Backup), executavel);
}
