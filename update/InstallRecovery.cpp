#include "InstallRecovery.h"

#include "ArquivosProduto.h"
#include "ExceptionQt.h"
#include "InstallJournal.h"
#include "InstallTransaction.h"
#include "UAtualizador.h"

#include <QStringList>

#include <filesystem>
#include <optional>
#include <system_error>

namespace {

platform::Path toPath(const QString& text) {
    return platform::Path(text.toStdU16String());
}

QString shown(const platform::Path& path) {
    return u'"' + QString::fromStdU16String(path.u16string()) + u'"';
}

bool present(const platform::Path& path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

void discard(const platform::Path& path, QStringList& left) {
    if (present(path) && !platform::discardFile(path))
        left << shown(path) + QStringLiteral(" could not be deleted");
}

// Back to the tree before the attempt, last move first; or, once every target
// was in place, forward to the new tree: only its backups are left to delete.
QStringList putBack(const InstallJournal::Record& record) {
    QStringList left;
    if (record.installed) {
        for (const InstallJournal::Move& move : record.moves)
            if (!move.backup.empty())
                discard(move.backup, left);
    } else {
        for (auto it = record.moves.rbegin(); it != record.moves.rend(); ++it) {
            if (!it->backup.empty() && present(it->backup)) {
                // Moved aside: whatever took the target's place is this attempt's.
                if (present(it->target) && !platform::discardFile(it->target)) {
                    left << shown(it->target) + QStringLiteral(" could not be deleted");
                    continue;
                }
                try {
                    platform::moveAside(it->backup, it->target);
                } catch (const std::exception& e) {
                    left << shown(it->backup) + QStringLiteral(" could not be moved back to ") +
                                shown(it->target) + QStringLiteral(". ") + mensagem(e);
                }
            } else if (it->backup.empty() && !present(it->staged)) {
                discard(it->target, left); // a new file that was moved in
            }
        }
    }
    for (const platform::Path& temporary : record.temporaries)
        discard(temporary, left);
    if (!record.installed)
        for (auto it = record.directories.rbegin(); it != record.directories.rend(); ++it) {
            std::error_code ec; // one that is not empty holds what is not ours
            std::filesystem::remove(*it, ec);
        }
    return left;
}

} // namespace

void RecuperarAtualizacao(const QString& caminhoAtualizar, const QString& ownExecutable) {
    try {
        const platform::Path base = toPath(caminhoAtualizar);
        const platform::Path journalPath = InstallJournal::pathIn(base);
        bool held = false;
        std::optional<platform::File> journal = platform::File::openLocked(journalPath, held);
        // A live updater's journal, or its package during the download: the
        // directory is that updater's to change.
        if (held || (!journal && platform::lockedByAnother(
                                     produto::caminho(caminhoAtualizar, produto::Pacote))))
            return;
        if (journal) {
            QStringList left = putBack(InstallJournal::parse(journal->readToEnd(), base));
            if (!left.isEmpty())
                throw erro(left.join(QStringLiteral("\r\n")));
            journal->deleteAndClose(journalPath);
        }
        // Also mends an attempt killed during the download.
        RestaurarExecutavel(caminhoAtualizar);
        const platform::Path ownBackup = backupOfRunningExecutable(toPath(ownExecutable));
        if (platform::fileExists(ownBackup))
            platform::discardFile(ownBackup); // still running: the next start tries again
    } catch (const std::exception& e) {
        throw wrapped(u"Não foi possível recuperar a atualização interrompida!", e);
    }
}
