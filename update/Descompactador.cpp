#include "Descompactador.h"

#include "ExceptionQt.h"

void DescompactarPacote(const QString&) { throw erro(QStringLiteral("not yet")); }
