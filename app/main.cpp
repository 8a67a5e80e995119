#include "Translations.h"
#include "UFormAtualizador.h"
#include "UpdaterApplication.h"

int main(int argc, char** argv) {
    UpdaterApplication application(argc, argv);
    installQtTranslations(application, QLocale::system());
    TfrmPrincipal window;
    frmPrincipal = &window;
    window.show();
    return application.exec();
}
