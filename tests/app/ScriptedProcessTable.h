#pragma once

#include "Platform.h"

#include <QStringList>

#include <vector>

// A process table whose snapshots follow a script: snapshot i lists the
// product when script[i] is true (the last entry repeats), beside processes
// whose names only resemble it. Every look and termination goes to `log`.
class ScriptedProcessTable : public platform::ProcessTable {
public:
    static constexpr std::uint32_t ProductId = 4242;

    ScriptedProcessTable(std::vector<bool> script, QStringList& log)
        : script_(std::move(script)), log_(log) {}

    void forEachProcess(const std::function<void(const platform::ProcessEntry&)>& visit) override {
        const bool running =
            script_.empty() ? false : script_[std::min(looks_, script_.size() - 1)];
        ++looks_;
        log_ << (running ? QStringLiteral("look: running") : QStringLiteral("look: gone"));
        visit({1, u"systemd"});
        visit({7, u"Vantra_old.exe"});
        if (running)
            visit({ProductId, u"C:\\Programas\\Vantra\\VANTRA.EXE"});
        visit({9, u"Vantra.exe.bak"});
    }

    void terminate(std::uint32_t processId) override {
        log_ << QStringLiteral("terminate %1").arg(processId);
    }

private:
    std::vector<bool> script_;
    std::size_t looks_ = 0;
    QStringList& log_;
};
