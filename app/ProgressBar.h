#pragma once

#include <QProgressBar>

#include <cstdint>

// A progress bar whose minimum stays 0 and whose position is held inside the
// range, driven by 64-bit byte counts of which only the low 32 bits count.
class ProgressBar : public QProgressBar {
    Q_OBJECT
public:
    explicit ProgressBar(QWidget* parent = nullptr);

    // The low 32 bits of a count, read as signed.
    static int low32(std::int64_t count) {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(count));
    }

    // Held at the nearest end of the range, where Qt would ignore the value.
    void setPosition(int position);
    // A negative maximum is held at the minimum, 0.
    void setMaximumHeld(int maximum);

protected:
    // An empty range (an unknown total) is drawn as an empty bar rather than
    // as Qt's busy indicator: nothing is running once the download has ended.
    void initStyleOption(QStyleOptionProgressBar* option) const override;
};
