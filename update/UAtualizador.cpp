#include "UAtualizador.h"

TAtualizador::TAtualizador(IEtapaAtualizador& aEtapaAtualizador, HttpClient& aIdHTTP,
                           QString aCaminhoAtualizar)
    : FIdHTTP(aIdHTTP), FEtapaAtualizador(aEtapaAtualizador),
      FCaminhoAtualizar(std::move(aCaminhoAtualizar)) {}

void TAtualizador::Atualizar() {}

void TAtualizador::Descompactar() {}
