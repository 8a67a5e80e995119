#pragma once

#include <QString>

// Unpacks <Product directory>/Vantra.zip over the Product directory: every
// entry is staged and verified before any product file is replaced. Deletes
// the package on success. Throws the wrapped error
// "Não foi possível descompactar o arquivo!" + CRLF CRLF + the cause.
void DescompactarPacote(const QString& caminhoAtualizar);
