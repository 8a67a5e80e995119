#pragma once

#include "HttpClient.h"
#include "UpdateSystem.h"

#include <QWidget>

#include <cstdint>

class QFrame;
class QLabel;
class QPushButton;
class InstallLabel;
class ProgressBar;

// The Product directory, with its trailing separator: set when the window is
// shown and again at the start of every update.
extern QString CaminhoAtualizador;

// The most one-second waits for the product to end once it was told to.
inline constexpr std::uint8_t TentativasFinalizacao = 3;

// The updater's one window: the steps of an update, its progress, and the
// button that starts it again.
class TfrmPrincipal : public QWidget {
    Q_OBJECT
public:
    explicit TfrmPrincipal(UpdateSystem system = UpdateSystem::real(), QWidget* parent = nullptr);
    ~TfrmPrincipal() override;

    QFrame* Panel1;
    QFrame* sbEtapa;
    InstallLabel* lblEtapa;
    ProgressBar* pbProgresso;
    HttpClient IdHTTP1;
    QLabel* imgTitulo;
    QLabel* lblTitulo;
    QPushButton* btnAtualizar;
    QFrame* Panel2;
    QLabel* imgVantra;

    void IdHTTP1Work(TWorkMode aWorkMode, std::int64_t aWorkCount);
    void IdHTTP1WorkBegin(TWorkMode aWorkMode, std::int64_t aWorkCountMax);
    void IdHTTP1WorkEnd(TWorkMode aWorkMode);
    void FormShow();
    void FormActivate();
    void btnAtualizarClick();

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void PrepararEtapas();
    void ExecutarAtualizacao();
    bool ConfirmarAtualizacao();
    bool ProcessoEmExecucao(const QString& nome);
    void FinalizarProcesso(const QString& nome);

    void buildLayout();
    // Runs a handler inside the application's delivery of an event, where an
    // error escaping it is shown to the user.
    void dispatch(void (TfrmPrincipal::*handler)());

    UpdateSystem FSistema;
    bool FMostrado = false;
    bool FAtivado = false;
    bool FExecutando = false;
};

extern TfrmPrincipal* frmPrincipal;
