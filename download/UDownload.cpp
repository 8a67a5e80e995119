#include "UDownload.h"

TDownload::TDownload(HttpClient& aIdHTTP, const QString& aCaminhoAtualizar)
    : FIdHTTP(aIdHTTP),
      FExecutavelZip(platform::File::createExclusive(
          (aCaminhoAtualizar + QStringLiteral("/Vantra.zip")).toStdU16String())),
      FCaminhoAtualizar(aCaminhoAtualizar) {}

TDownload::~TDownload() = default;

void TDownload::RealizarDownload() {}

QString TDownload::ObterValorConfiguracao(const QString&) { return {}; }
