#pragma once

#include "Platform.h"

#include <QString>

#include <functional>

class TAtualizador;

// What the update procedure does to the world outside the window: the process
// table, the pauses, the steps, the launch and the end of the program. The
// system's own by default; tests replace the parts whose timing or effect they
// must control.
struct UpdateSystem {
    platform::ProcessTable* processes = nullptr;
    std::function<void(unsigned milliseconds)> pause;
    std::function<void(TAtualizador&)> runSteps;
    std::function<void(const QString& file, void* ownerWindow)> launch;
    std::function<void()> quit;

    static UpdateSystem real();
};
