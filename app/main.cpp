#include "ApplicationPaths.h"
#include "InstallRecovery.h"
#include "Translations.h"
#include "UFormAtualizador.h"
#include "UpdaterApplication.h"

int main(int argc, char** argv) {
    UpdaterApplication application(argc, argv);
    installQtTranslations(application, QLocale::system());
    // Before anything else looks at the Product directory; a recovery that
    // cannot finish is shown, and the start goes on.
    try {
        const QString executable = QCoreApplication::applicationFilePath();
        RecuperarAtualizacao(directoryOf(executable), executable);
    } catch (const std::exception& error) {
        application.showError(error);
    }
    TfrmPrincipal window;
    frmPrincipal = &window;
    window.show();
    return application.exec();
}
