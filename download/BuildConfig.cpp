#include "BuildConfig.h"

namespace build_config {
QString servidorArquivos() {
    return QStringLiteral(VANTRA_SERVER);
}
QString arquivoCa() {
    return QStringLiteral(VANTRA_CA_FILE);
}
} // namespace build_config
