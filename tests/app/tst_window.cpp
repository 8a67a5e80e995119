// The window as the user sees it: layout, fonts, colours, keyboard order, the
// Step list's drawing and the progress bar's handlers.
#include "BoxAnswerer.h"
#include "InstallLabel.h"
#include "ProgressBar.h"
#include "ScriptedProcessTable.h"
#include "SystemColors.h"
#include "UFormAtualizador.h"
#include "UpdaterTestMain.h"

#include <QFrame>
#include <QImageReader>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include <memory>

namespace {

// A window whose procedure runs nothing outside it.
std::unique_ptr<TfrmPrincipal> idleWindow(QStringList& log, ScriptedProcessTable& table) {
    UpdateSystem s;
    s.processes = &table;
    s.pause = [&log](unsigned ms) { log << QStringLiteral("pause %1").arg(ms); };
    s.runSteps = [&log](TAtualizador&) { log << QStringLiteral("steps"); };
    s.launch = [&log](const QString&, void*) { log << QStringLiteral("launch"); };
    s.quit = [&log] { log << QStringLiteral("quit"); };
    return std::make_unique<TfrmPrincipal>(s);
}

QWidget* named(QWidget& window, const QString& name) {
    return name == window.objectName() ? &window : window.findChild<QWidget*>(name);
}

} // namespace

class WindowTest : public QObject {
    Q_OBJECT

    QStringList log;
    ScriptedProcessTable table{{false}, log};
    BoxAnswerer declines; // the update that the first activation starts
    std::unique_ptr<TfrmPrincipal> form;

    // Shown, so that the Step list has its size; showing empties it.
    bool shown() {
        form->show();
        return QTest::qWaitForWindowExposed(form.get());
    }

    QImage rendered(InstallLabel& label, QColor behind) {
        QImage image(label.size(), QImage::Format_ARGB32);
        image.fill(behind);
        label.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
        return image;
    }

private slots:
    void init() { form = idleWindow(log, table); }
    void cleanup() { form.reset(); }

    void layout_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QRect>("geometry");
        // Positions inside the parent's client area; the Step list's frame is
        // two pixels wide.
        QTest::newRow("Panel2") << "Panel2"
                                << "frmPrincipal" << QRect(0, 0, 137, 174);
        QTest::newRow("imgVantra") << "imgVantra"
                                   << "Panel2" << QRect(1, 1, 135, 172);
        QTest::newRow("Panel1") << "Panel1"
                                << "frmPrincipal" << QRect(137, 0, 345, 174);
        QTest::newRow("lblTitulo") << "lblTitulo"
                                   << "Panel1" << QRect(5, 7, 333, 20);
        QTest::newRow("imgTitulo") << "imgTitulo"
                                   << "Panel1" << QRect(5, 1, 32, 32);
        QTest::newRow("sbEtapa") << "sbEtapa"
                                 << "Panel1" << QRect(5, 43, 254, 73);
        QTest::newRow("lblEtapa") << "lblEtapa"
                                  << "sbEtapa" << QRect(2, 2, 250, 69);
        QTest::newRow("btnAtualizar") << "btnAtualizar"
                                      << "Panel1" << QRect(263, 57, 75, 38);
        QTest::newRow("pbProgresso") << "pbProgresso"
                                     << "Panel1" << QRect(5, 138, 333, 17);
    }
    void layout() {
        QFETCH(QString, name);
        QFETCH(QString, parent);
        QFETCH(QRect, geometry);
        QVERIFY(shown());
        QWidget* w = named(*form, name);
        QVERIFY(w);
        QCOMPARE(w->parentWidget()->objectName(), parent);
        QCOMPARE(w->geometry(), geometry);
        QVERIFY(w->isVisible());
    }

    void windowFrame() {
        QCOMPARE(form->objectName(), QStringLiteral("frmPrincipal"));
        QCOMPARE(form->windowTitle(), QStringLiteral("Atualizador"));
        QCOMPARE(form->minimumSize(), QSize(482, 174));
        QCOMPARE(form->maximumSize(), QSize(482, 174));
        const Qt::WindowFlags flags = form->windowFlags();
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        QVERIFY(flags & Qt::WindowMinimizeButtonHint);
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(flags & Qt::WindowSystemMenuHint);
        QCOMPARE(form->windowIcon().availableSizes().value(0), QSize(32, 32));
        QVERIFY(shown());
        const QRect work = form->screen()->availableGeometry();
        QVERIFY((form->geometry().center() - work.center()).manhattanLength() <= 2);
    }

    void texts() {
        QCOMPARE(form->lblTitulo->text(),
                 QStringLiteral("           :: Etapas de Atualização do Executável ::"));
        QCOMPARE(form->lblTitulo->textFormat(), Qt::PlainText);
        QCOMPARE(form->lblTitulo->alignment(), Qt::AlignLeft | Qt::AlignVCenter);
        QCOMPARE(form->btnAtualizar->text(), QStringLiteral("Atualizar"));
        QCOMPARE(form->btnAtualizar->iconSize(), QSize(16, 16));
        QVERIFY(!form->btnAtualizar->icon().isNull());
        QCOMPARE(form->pbProgresso->minimum(), 0);
        QCOMPARE(form->pbProgresso->maximum(), 500);
        QCOMPARE(form->pbProgresso->value(), 0);
        QCOMPARE(form->pbProgresso->orientation(), Qt::Horizontal);
    }

    void fonts_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("family");
        QTest::addColumn<bool>("bold");
        QTest::newRow("window") << "frmPrincipal"
                                << "Tahoma" << false;
        QTest::newRow("button inherits") << "btnAtualizar"
                                         << "Tahoma" << false;
        QTest::newRow("progress inherits") << "pbProgresso"
                                           << "Tahoma" << false;
        QTest::newRow("title band") << "lblTitulo"
                                    << "MS Sans Serif" << true;
        QTest::newRow("Step list") << "lblEtapa"
                                   << "MS Sans Serif" << true;
    }
    void fonts() {
        QFETCH(QString, name);
        QFETCH(QString, family);
        QFETCH(bool, bold);
        const QFont f = named(*form, name)->font();
        QCOMPARE(f.family(), family);
        QCOMPARE(f.pixelSize(), 11);
        QCOMPARE(f.bold(), bold);
    }

    void colours() {
        QCOMPARE(form->backgroundRole(), QPalette::Button);
        QVERIFY(form->autoFillBackground());
        QVERIFY(form->lblTitulo->autoFillBackground());
        QCOMPARE(form->lblTitulo->palette().color(QPalette::Window), applicationWorkspaceColor());
        QCOMPARE(form->lblTitulo->palette().color(QPalette::WindowText), QColor(Qt::white));
        QCOMPARE(form->lblEtapa->palette().color(QPalette::WindowText), desktopColor());
        QVERIFY(!form->lblEtapa->autoFillBackground());
#ifndef _WIN32
        QCOMPARE(applicationWorkspaceColor(), QColor(171, 171, 171));
        QCOMPARE(desktopColor(), QColor(0, 0, 0));
#endif
    }

    void titleBandIsOpaque() {
        QVERIFY(shown());
        const QImage band = form->lblTitulo->grab().toImage();
        QCOMPARE(band.pixelColor(band.width() - 2, 2), applicationWorkspaceColor());
        bool white = false;
        for (int x = 0; x < band.width(); ++x)
            white |= band.pixelColor(x, band.height() / 2) == QColor(Qt::white);
        QVERIFY(white);
    }

    void titleIconLiesOverTheBand() {
        QCOMPARE(form->Panel1->childAt(QPoint(20, 15)), form->imgTitulo);
        QCOMPARE(form->Panel1->childAt(QPoint(100, 15)), form->lblTitulo);
    }

    void keyboard() {
        const QList<QWidget*> all = form->findChildren<QWidget*>();
        for (QWidget* w : all)
            QCOMPARE(w->focusPolicy() != Qt::NoFocus, w == form->btnAtualizar);
        QList<QWidget*> chain;
        for (QWidget* w = form->nextInFocusChain(); w != form.get(); w = w->nextInFocusChain())
            chain << w;
        const QList<QWidget*> order{form->Panel1, form->sbEtapa, form->pbProgresso,
                                    form->btnAtualizar, form->Panel2};
        for (int i = 1; i < order.size(); ++i)
            QVERIFY2(chain.indexOf(order[i - 1]) < chain.indexOf(order[i]),
                     qPrintable(order[i]->objectName()));
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        QTRY_COMPARE(QApplication::focusWidget(), form->btnAtualizar);
    }

    // The anchors keep each distance when a parent grows.
    void anchors_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("geometry");
        QTest::newRow("Panel2 keeps its width") << "Panel2" << QRect(0, 0, 137, 194);
        QTest::newRow("Panel1 fills the rest") << "Panel1" << QRect(137, 0, 385, 194);
        QTest::newRow("title band stretches") << "lblTitulo" << QRect(5, 7, 373, 20);
        QTest::newRow("title icon stays") << "imgTitulo" << QRect(5, 1, 32, 32);
        QTest::newRow("frame stretches both ways") << "sbEtapa" << QRect(5, 43, 294, 93);
        QTest::newRow("Step list fills the frame") << "lblEtapa" << QRect(2, 2, 290, 89);
        QTest::newRow("button moves") << "btnAtualizar" << QRect(303, 77, 75, 38);
        QTest::newRow("bar stretches and moves") << "pbProgresso" << QRect(5, 158, 373, 17);
    }
    void anchors() {
        QFETCH(QString, name);
        QFETCH(QRect, geometry);
        QVERIFY(shown());
        form->setFixedSize(522, 194);
        QTRY_COMPARE(named(*form, name)->geometry(), geometry);
    }

    void pictures() {
        QCOMPARE(form->imgVantra->pixmap().size(), QSize(128, 166));
        QCOMPARE(form->imgVantra->alignment(), Qt::AlignLeft | Qt::AlignTop);
        QVERIFY(!form->imgVantra->hasScaledContents());
        QCOMPARE(form->imgTitulo->pixmap().size(), QSize(32, 32));
    }

    // --- the Step list -----------------------------------------------------

    void stepLinePositions_data() {
        QTest::addColumn<int>("index");
        QTest::newRow("first") << 0;
        QTest::newRow("second") << 1;
        QTest::newRow("third") << 2;
        QTest::newRow("fourth, past the bottom") << 3;
    }
    void stepLinePositions() {
        QFETCH(int, index);
        InstallLabel& list = *form->lblEtapa;
        for (int i = 0; i <= index; ++i)
            list.AdicionarLinha(QStringLiteral("%1 - linha").arg(i + 1));
        const QFontMetrics m(list.font());
        const int h = m.ascent() + m.descent();
        const QRect r = list.lineRect(index);
        QCOMPARE(r.left(), 24);
        QCOMPARE(r.top(), 7 + index * (h + 7));
        QCOMPARE(r.height(), h);
        QCOMPARE(r.width(), m.horizontalAdvance(list.lines()[index]));
        if (h == 13) // "MS Sans Serif" bold at 11 pixels
            QCOMPARE(r.top(), QList<int>({7, 27, 47, 67})[index]);
    }

    // Ink falls only inside the lines' rectangles; nothing is painted behind it.
    void stepListDrawing() {
        QVERIFY(shown());
        InstallLabel& list = *form->lblEtapa;
        const QStringList lines{QStringLiteral("1 - Download do executável."), QStringLiteral("&"),
                                QStringLiteral("A&&B")};
        for (const QString& l : lines)
            list.AdicionarLinha(l);
        const QColor behind(255, 0, 255);
        const QImage image = rendered(list, behind);
        QList<int> inkPerLine(lines.size(), 0);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                if (image.pixelColor(x, y) == behind)
                    continue;
                int line = -1;
                for (int i = 0; i < lines.size(); ++i)
                    if (y >= list.lineRect(i).top() && y <= list.lineRect(i).bottom())
                        line = i;
                QVERIFY2(line >= 0 && x >= 24,
                         qPrintable(QStringLiteral("ink at %1,%2").arg(x).arg(y)));
                ++inkPerLine[line];
            }
        for (int i = 0; i < lines.size(); ++i)
            QVERIFY2(inkPerLine[i] > 0, qPrintable(lines[i])); // "&" is drawn, not a mnemonic
        QCOMPARE(list.lineRect(2).width(), QFontMetrics(list.font()).horizontalAdvance("A&&B"));
    }

    void stepListNeverWraps() {
        QVERIFY(shown());
        InstallLabel& list = *form->lblEtapa;
        list.AdicionarLinha(QString(60, u'W'));
        const QImage image = rendered(list, Qt::white);
        const QRect first = list.lineRect(0);
        bool inkAtEdge = false, inkBelow = false;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (image.pixelColor(x, y) != QColor(Qt::white)) {
                    inkAtEdge |= x >= image.width() - 12;
                    inkBelow |= y > first.bottom();
                }
        QVERIFY(inkAtEdge);
        QVERIFY(!inkBelow);
    }

    void stepListClears() {
        form->lblEtapa->AdicionarLinha(QStringLiteral("x"));
        QVERIFY(shown());
        QVERIFY(form->lblEtapa->lines().isEmpty()); // showing the window empties it
        QCOMPARE(CaminhoAtualizador, QCoreApplication::applicationDirPath() + u'/');
    }

    // --- the progress handlers ---------------------------------------------

    void progress_data() {
        QTest::addColumn<int>("startMaximum");
        QTest::addColumn<int>("startPosition");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<QList<qint64>>("counts");
        QTest::addColumn<bool>("ended");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<int>("position");
        using L = QList<qint64>;
        QTest::newRow("two blocks of 500")
            << 500 << 0 << 1000LL << L{500, 1000} << true << 1000 << 1000;
        QTest::newRow("whatever the bar showed") << 20 << 17 << 1000LL << L{} << false << 1000 << 0;
        QTest::newRow("during the download")
            << 500 << 0 << 1000LL << L{300} << false << 1000 << 300;
        QTest::newRow("unknown total") << 500 << 250 << 0LL << L{500, 900} << false << 0 << 0;
        QTest::newRow("unknown total ended") << 500 << 250 << 0LL << L{500} << true << 0 << 0;
        QTest::newRow("count past the total") << 500 << 0 << 100LL << L{150} << false << 100 << 100;
        QTest::newRow("low 32 bits")
            << 500 << 0 << 0x1000003E8LL << L{0x1000001F4LL} << false << 1000 << 500;
        QTest::newRow("negative low bits") << 500 << 0 << 0xFFFFFFFFLL << L{5} << false << 0 << 0;
        QTest::newRow("end without work") << 500 << 0 << 700LL << L{} << true << 700 << 700;
    }
    void progress() {
        QFETCH(int, startMaximum);
        QFETCH(int, startPosition);
        QFETCH(qint64, total);
        QFETCH(QList<qint64>, counts);
        QFETCH(bool, ended);
        QFETCH(int, maximum);
        QFETCH(int, position);
        ProgressBar& bar = *form->pbProgresso;
        bar.setRange(0, startMaximum);
        bar.setValue(startPosition);
        // Through the client's callbacks: the handlers are bound to them.
        form->IdHTTP1.OnWorkBegin(TWorkMode::wmRead, total);
        for (qint64 c : counts)
            form->IdHTTP1.OnWork(TWorkMode::wmRead, c);
        if (ended)
            form->IdHTTP1.OnWorkEnd(TWorkMode::wmRead);
        QCOMPARE(bar.minimum(), 0);
        QCOMPARE(bar.maximum(), maximum);
        QCOMPARE(bar.value(), position);
    }

    void workLetsTheWindowRepaint() {
        bool handled = false;
        QMetaObject::invokeMethod(
            this, [&] { handled = true; }, Qt::QueuedConnection);
        form->IdHTTP1.OnWorkBegin(TWorkMode::wmRead, 10);
        QVERIFY(!handled);
        form->IdHTTP1.OnWork(TWorkMode::wmRead, 5);
        QVERIFY(handled);
    }
};

UPDATER_TEST_MAIN(WindowTest)
#include "tst_window.moc"
