#pragma once

#include "EtapaAtualizador.h"

#include <QStringList>
#include <QWidget>

// A list of text lines drawn one below the other after an empty image column,
// as an installer shows its steps. Lines never wrap and the list never scrolls:
// what does not fit is cut off at the edge.
class InstallLabel : public QWidget, public IEtapaAtualizador {
    Q_OBJECT
public:
    static constexpr int TextOffset = 24;
    static constexpr int LineSpacing = 7;

    explicit InstallLabel(QWidget* parent = nullptr);

    const QStringList& lines() const { return lines_; }
    void clear();

    // Where line `index` is drawn: x = 24, y = 7 + index * (h + 7), h the
    // font's ascent plus descent, as wide as the line's text.
    QRect lineRect(int index) const;

    void AdicionarLinha(const QString& linha) override;
    void ProcessarMensagens() override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QStringList lines_;
};
