#pragma once

#include <QString>

#include <functional>

// Unpacks <Product directory>/Vantra.zip over the Product directory: every
// entry is staged and verified before any product file is replaced. Deletes
// the package on success. Throws the wrapped error
// "Não foi possível descompactar o arquivo!" + CRLF CRLF + the cause.
// `processarMensagens` is called on this thread, again and again, while the
// entries are decoded on others.
void DescompactarPacote(const QString& caminhoAtualizar,
                        const std::function<void()>& processarMensagens = {});
