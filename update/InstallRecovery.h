#pragma once

#include <QString>

// Run at every start, before the window is shown. Puts the Product directory
// back as it was before an update that did not finish (its journal says
// what it changed), unless a live updater still holds that journal; gives a
// missing Vantra.exe back from Vantra_old.exe; deletes the backup that an
// update left of `ownExecutable` once it can be deleted.
//
// Throws "Não foi possível recuperar a atualização interrompida!" + CRLF CRLF
// + what is left when the directory cannot be put back; the journal then
// stays for the next start.
void RecuperarAtualizacao(const QString& caminhoAtualizar, const QString& ownExecutable);
