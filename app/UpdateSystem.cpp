#include "UpdateSystem.h"

#include "UAtualizador.h"

#include <QCoreApplication>

UpdateSystem UpdateSystem::real() {
    UpdateSystem s;
    s.processes = &platform::systemProcessTable();
    s.pause = platform::sleepMilliseconds;
    s.runSteps = [](TAtualizador& atualizador) { atualizador.Atualizar(); };
    s.launch = [](const QString& file, void* ownerWindow) {
        platform::shellOpen(platform::Path(file.toStdU16String()), ownerWindow);
    };
    s.quit = [] { QCoreApplication::quit(); };
    return s;
}
