#pragma once

#include "Platform.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

// What one update attempt creates and moves in the Product directory, written
// ahead of each change, so that a start after a kill or a power loss can put
// the directory back. The attempt holds it open and locked: a start that
// finds it locked leaves it to the live updater.
class InstallJournal {
public:
    // No package entry may take this name.
    static constexpr char16_t fileName[] = u"AtualizadorVantra.journal";

    // One planned replacement. `backup` is empty when no file was at the
    // target when its turn came.
    struct Move {
        platform::Path target;
        platform::Path staged;
        platform::Path backup;
    };

    // What a journal left on disk says, its paths made absolute.
    struct Record {
        std::vector<platform::Path> temporaries;
        std::vector<platform::Path> directories; // in creation order
        std::vector<Move> moves;                 // in install order
        bool movesBegun = false;                 // the plan is complete and moves may have happened
        bool installed = false;                  // every target in place: only backups are left
    };

    static platform::Path pathIn(const platform::Path& productDirectory);

    // Creates the journal; throws when one is already there (a live updater, or
    // a recovery that could not finish).
    explicit InstallJournal(const platform::Path& productDirectory);

    // Each before the thing itself is created: a kill right after must still
    // find it. Safe to call from several threads.
    void temporary(const platform::Path& path);
    void directory(const platform::Path& path);

    // The whole plan, then a mark that moves begin; on the disk when it returns.
    // The moves are asked for one by one, so that the plan is never held twice.
    void beginMoves(std::size_t count, const std::function<Move(std::size_t)>& move);
    void beginMoves(const std::vector<Move>& moves);
    // Every target is in place; on the disk when it returns.
    void installed();

    // The last step of an attempt, failed cleanly or successful.
    void remove();
    // An attempt that could not undo its changes leaves the journal in place.
    void leaveForNextStart() { leave_ = true; }
    bool leftForNextStart() const { return leave_; }
    // The directories recorded so far, in creation order.
    const std::vector<platform::Path>& createdDirectories() const { return directories_; }

    // Reads a journal's text; lines after a damaged one are ignored.
    static Record parse(const std::string& text, const platform::Path& productDirectory);

private:
    void append(const std::string& lines, bool flush);
    std::string relative(const platform::Path& path) const;

    platform::Path directory_;
    platform::Path path_;
    platform::File file_;
    std::mutex mutex_;
    std::vector<platform::Path> directories_;
    bool leave_ = false;
};
