#include "BuildConfig.h"

namespace build_config {
QString servidorArquivos() {
    return QStringLiteral(VANTRA_SERVER);
}
QString arquivoCa() {
    return QStringLiteral(VANTRA_CA_FILE);
}
QString chavePublica() {
    return QStringLiteral(VANTRA_PUBLIC_KEY);
}
} // namespace build_config
