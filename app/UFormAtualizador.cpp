#include "UFormAtualizador.h"

#include "Anchors.h"
#include "ApplicationPaths.h"
#include "ArquivosProduto.h"
#include "InstallLabel.h"
#include "MessageBoxes.h"
#include "ProcessControl.h"
#include "ProgressBar.h"
#include "SystemColors.h"
#include "UAtualizador.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

#include <optional>

static void initAssets() {
    Q_INIT_RESOURCE(assets);
}

QString CaminhoAtualizador;
TfrmPrincipal* frmPrincipal = nullptr;

namespace {

const QString NomeExecutavel = QString::fromUtf16(produto::Executavel);

// Carries one of the window's handlers through the application's event delivery.
class HandlerEvent : public QEvent {
public:
    using Handler = void (TfrmPrincipal::*)();
    explicit HandlerEvent(Handler handler) : QEvent(kind()), handler(handler) {}
    static Type kind() {
        static const Type type = static_cast<Type>(registerEventType());
        return type;
    }
    const Handler handler;
};

// A font asked for by name; where it is not installed the system's closest
// sans-serif stands in.
QFont fonte(const QString& family, bool bold) {
    QFont font(family);
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    font.setBold(bold);
    return font;
}

QFrame* painel(QWidget* parent, const QString& name, const QRect& geometry) {
    auto* panel = new QFrame(parent);
    panel->setObjectName(name);
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setLineWidth(1);
    panel->setGeometry(geometry);
    return panel;
}

QLabel* imagem(QWidget* parent, const QString& name, const QRect& geometry, const QString& file) {
    auto* image = new QLabel(parent);
    image->setObjectName(name);
    image->setGeometry(geometry);
    image->setPixmap(QPixmap(file));
    image->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return image;
}

} // namespace

TfrmPrincipal::TfrmPrincipal(UpdateSystem system, QWidget* parent)
    : QWidget(parent), FSistema(std::move(system)) {
    initAssets();
    buildLayout();

    IdHTTP1.OnWorkBegin = [this](TWorkMode mode, std::int64_t max) { IdHTTP1WorkBegin(mode, max); };
    IdHTTP1.OnWork = [this](TWorkMode mode, std::int64_t count) { IdHTTP1Work(mode, count); };
    IdHTTP1.OnWorkEnd = [this](TWorkMode mode) { IdHTTP1WorkEnd(mode); };
    connect(btnAtualizar, &QPushButton::clicked, this,
            [this] { dispatch(&TfrmPrincipal::btnAtualizarClick); });
}

TfrmPrincipal::~TfrmPrincipal() = default;

void TfrmPrincipal::buildLayout() {
    setObjectName(QStringLiteral("frmPrincipal"));
    setWindowTitle(QStringLiteral("Atualizador"));
    setWindowIcon(QIcon(QStringLiteral(":/AtualizadorVantra.png")));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(482, 174);
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);
    setFont(fonte(QStringLiteral("Tahoma"), false));
    const QFont negrito = fonte(QStringLiteral("MS Sans Serif"), true);

    // Panel1 first: it comes first in the keyboard order.
    Panel1 = painel(this, QStringLiteral("Panel1"), QRect(137, 0, 345, 174));

    sbEtapa = new QFrame(Panel1);
    sbEtapa->setObjectName(QStringLiteral("sbEtapa"));
    sbEtapa->setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
    sbEtapa->setGeometry(5, 43, 254, 73);
    auto* conteudo = new QVBoxLayout(sbEtapa);
    conteudo->setContentsMargins(0, 0, 0, 0);

    lblEtapa = new InstallLabel(sbEtapa);
    lblEtapa->setObjectName(QStringLiteral("lblEtapa"));
    lblEtapa->setFont(negrito);
    QPalette etapa = lblEtapa->palette();
    etapa.setColor(QPalette::WindowText, desktopColor());
    lblEtapa->setPalette(etapa);
    conteudo->addWidget(lblEtapa);

    pbProgresso = new ProgressBar(Panel1);
    pbProgresso->setObjectName(QStringLiteral("pbProgresso"));
    pbProgresso->setOrientation(Qt::Horizontal);
    pbProgresso->setRange(0, 500);
    pbProgresso->setValue(0);
    pbProgresso->setGeometry(5, 138, 333, 17);

    imgTitulo = imagem(Panel1, QStringLiteral("imgTitulo"), QRect(5, 1, 32, 32),
                       QStringLiteral(":/titulo.png"));

    lblTitulo = new QLabel(Panel1);
    lblTitulo->setObjectName(QStringLiteral("lblTitulo"));
    lblTitulo->setGeometry(5, 7, 333, 20);
    lblTitulo->setTextFormat(Qt::PlainText);
    lblTitulo->setText(QString(11, u' ') +
                       QStringLiteral(":: Etapas de Atualização do Executável ::"));
    lblTitulo->setFont(negrito);
    lblTitulo->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // Its own roles: a child otherwise takes the window's button-face role.
    lblTitulo->setBackgroundRole(QPalette::Window);
    lblTitulo->setForegroundRole(QPalette::WindowText);
    lblTitulo->setAutoFillBackground(true);
    QPalette titulo = lblTitulo->palette();
    titulo.setColor(QPalette::Window, applicationWorkspaceColor());
    titulo.setColor(QPalette::WindowText, Qt::white);
    lblTitulo->setPalette(titulo);

    btnAtualizar = new QPushButton(Panel1);
    btnAtualizar->setObjectName(QStringLiteral("btnAtualizar"));
    btnAtualizar->setGeometry(263, 57, 75, 38);
    btnAtualizar->setText(QStringLiteral("Atualizar"));
    btnAtualizar->setIcon(QIcon(QStringLiteral(":/atualizar.png")));
    btnAtualizar->setIconSize(QSize(16, 16));
    btnAtualizar->setFocusPolicy(Qt::StrongFocus);
    btnAtualizar->setFocus();

    // The icon lies over the left end of the title band.
    imgTitulo->raise();

    Panel2 = painel(this, QStringLiteral("Panel2"), QRect(0, 0, 137, 174));
    imgVantra = imagem(Panel2, QStringLiteral("imgVantra"), QRect(1, 1, 135, 172),
                       QStringLiteral(":/vantra.gif"));

    Anchors::set(Panel2, Qt::LeftEdge | Qt::TopEdge | Qt::BottomEdge);
    Anchors::set(Panel1, Qt::LeftEdge | Qt::TopEdge | Qt::RightEdge | Qt::BottomEdge);
    Anchors::set(lblTitulo, Qt::LeftEdge | Qt::TopEdge | Qt::RightEdge);
    Anchors::set(sbEtapa, Qt::LeftEdge | Qt::TopEdge | Qt::RightEdge | Qt::BottomEdge);
    Anchors::set(btnAtualizar, Qt::RightEdge | Qt::BottomEdge);
    Anchors::set(pbProgresso, Qt::LeftEdge | Qt::RightEdge | Qt::BottomEdge);
}

// --- handlers ----------------------------------------------------------------

void TfrmPrincipal::IdHTTP1Work(TWorkMode, std::int64_t aWorkCount) {
    pbProgresso->setPosition(ProgressBar::low32(aWorkCount));
    QCoreApplication::processEvents();
}

void TfrmPrincipal::IdHTTP1WorkBegin(TWorkMode, std::int64_t aWorkCountMax) {
    pbProgresso->setPosition(0);
    pbProgresso->setMaximumHeld(ProgressBar::low32(aWorkCountMax));
}

void TfrmPrincipal::IdHTTP1WorkEnd(TWorkMode) {
    pbProgresso->setPosition(pbProgresso->maximum());
}

void TfrmPrincipal::FormShow() {
    PrepararEtapas();
}

void TfrmPrincipal::FormActivate() {
    ExecutarAtualizacao();
}

void TfrmPrincipal::btnAtualizarClick() {
    ExecutarAtualizacao();
}

// --- events ------------------------------------------------------------------

void TfrmPrincipal::dispatch(void (TfrmPrincipal::*handler)()) {
    HandlerEvent event(handler);
    QCoreApplication::sendEvent(this, &event);
}

bool TfrmPrincipal::event(QEvent* event) {
    if (event->type() == HandlerEvent::kind()) {
        (this->*static_cast<HandlerEvent*>(event)->handler)();
        return true;
    }
    // Only the first activation starts the update; it runs once the
    // activation itself is complete.
    if (event->type() == QEvent::WindowActivate && !FAtivado) {
        FAtivado = true;
        QCoreApplication::postEvent(this, new HandlerEvent(&TfrmPrincipal::FormActivate));
    }
    return QWidget::event(event);
}

void TfrmPrincipal::showEvent(QShowEvent* event) {
    // Restoring a minimized window shows it again without a new start.
    if (!event->spontaneous() && !FMostrado) {
        FMostrado = true;
        dispatch(&TfrmPrincipal::FormShow);
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(),
                                        screen()->availableGeometry()));
    }
    QWidget::showEvent(event);
}

void TfrmPrincipal::closeEvent(QCloseEvent* event) {
    if (FExecutando)
        event->ignore();
    else
        event->accept();
}

// --- the update --------------------------------------------------------------

void TfrmPrincipal::PrepararEtapas() {
    lblEtapa->clear();
    CaminhoAtualizador = directoryOf(QCoreApplication::applicationFilePath());
}

bool TfrmPrincipal::ConfirmarAtualizacao() {
    const QList<QMessageBox::StandardButton> simNao{QMessageBox::Yes, QMessageBox::No};
    if (ProcessoEmExecucao(NomeExecutavel)) {
        if (showMessageBox(this, QStringLiteral("Atualização"),
                           QStringLiteral("O Vantra será finalizado após o download do "
                                          "atualizador.\r\n\r\nDeseja realmente atualizar o "
                                          "executável?"),
                           QMessageBox::Question, simNao, QMessageBox::Yes) != QMessageBox::Yes)
            return false;
        FinalizarProcesso(NomeExecutavel);
        for (int tentativa = 0; tentativa < TentativasFinalizacao; ++tentativa) {
            if (!ProcessoEmExecucao(NomeExecutavel))
                break;
            FSistema.pause(1000);
        }
    } else if (showMessageBox(this, QStringLiteral("Atualização"),
                              QStringLiteral("Deseja realmente atualizar o executável?"),
                              QMessageBox::Question, simNao,
                              QMessageBox::Yes) != QMessageBox::Yes) {
        return false;
    }
    if (ProcessoEmExecucao(NomeExecutavel)) {
        showMessageBox(this, QStringLiteral("Atenção"),
                       QStringLiteral("O Vantra está aberto.\r\n\r\nFeche-o e tente atualizar "
                                      "novamente!"),
                       QMessageBox::Warning, {QMessageBox::Ok}, QMessageBox::Ok);
        return false;
    }
    return true;
}

void TfrmPrincipal::ExecutarAtualizacao() {
    if (FExecutando || !ConfirmarAtualizacao())
        return;
    std::optional<TAtualizador> atualizador;
    atualizador.emplace(*lblEtapa, IdHTTP1, CaminhoAtualizador);
    const auto fim = qScopeGuard([&] {
        atualizador.reset();
        FExecutando = false;
        setEnabled(true);
        btnAtualizar->setFocus();
    });
    PrepararEtapas();
    FExecutando = true;
    setEnabled(false);
    FSistema.runSteps(*atualizador);
    FExecutando = false;
    setEnabled(true);
    FSistema.pause(3000);
    FSistema.launch(CaminhoAtualizador + NomeExecutavel, reinterpret_cast<void*>(winId()));
    FSistema.quit();
}

bool TfrmPrincipal::ProcessoEmExecucao(const QString& nome) {
    return platform::processRunning(*FSistema.processes, nome.toStdU16String());
}

void TfrmPrincipal::FinalizarProcesso(const QString& nome) {
    platform::terminateProcesses(*FSistema.processes, nome.toStdU16String());
}
