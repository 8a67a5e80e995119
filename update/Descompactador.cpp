#include "Descompactador.h"

#include "ArquivosProduto.h"
#include "ExceptionQt.h"
#include "StagedExtraction.h"
#include "ZipPackage.h"

namespace {

platform::Path toPath(const QString& text) {
    return platform::Path(text.toStdU16String());
}

// Built afresh for each use, as the download step wrote it.
platform::Path caminhoPacote(const QString& caminhoAtualizar) {
    return produto::caminho(caminhoAtualizar, produto::Pacote);
}

} // namespace

void DescompactarPacote(const QString& caminhoAtualizar,
                        const std::function<void()>& processarMensagens) {
    try {
        {
            ZipPackage pacote(caminhoPacote(caminhoAtualizar), toPath(caminhoAtualizar));
            StagingOptions options;
            options.keepAlive = processarMensagens;
            extractStaged(pacote, toPath(caminhoAtualizar), options);
        } // the package is closed before it is deleted
        if (platform::fileExists(caminhoPacote(caminhoAtualizar)))
            platform::deleteFile(caminhoPacote(caminhoAtualizar));
    } catch (const std::exception& e) {
        throw wrapped(u"Não foi possível descompactar o arquivo!", e);
    }
}
