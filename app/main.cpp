#include "UFormAtualizador.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    TfrmPrincipal frmPrincipal;
    frmPrincipal.show();
    return app.exec();
}
