#include "UFormAtualizador.h"

TfrmPrincipal::TfrmPrincipal(QWidget* parent) : QWidget(parent) {
    setWindowTitle(QStringLiteral("Atualizador"));
}
