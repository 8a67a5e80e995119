#pragma once

#include <QString>

// Fixed when the updater is built: the maker's file server and the trusted roots.
namespace build_config {
QString servidorArquivos(); // host, optionally host:port
QString arquivoCa();        // PEM bundle, or empty for the system's store
} // namespace build_config
