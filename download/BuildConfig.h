#pragma once

#include <QString>

// Fixed when the updater is built: the maker's file server, the trusted roots
// and the key that packages are signed with.
namespace build_config {
QString servidorArquivos(); // host, optionally host:port
QString arquivoCa();        // PEM bundle, or empty for the system's store
QString chavePublica();     // base64 minisign public key, or empty when packages are not signed
} // namespace build_config
