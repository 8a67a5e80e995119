// From the bytes of a body to its content: chunk framing stripped whatever
// the pieces it arrives in, and text decoded by the charset the server names.

#include "BodyText.h"
#include "ChunkedDecoder.h"

#include <QTest>

#include <string>

class TestBodyDecoding : public QObject {
    Q_OBJECT

private slots:
    void chunkedFraming_data();
    void chunkedFraming();
    void charset_data();
    void charset();
};

void TestBodyDecoding::chunkedFraming_data() {
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("one chunk") << QByteArray("5\r\nhello\r\n0\r\n\r\n") << QByteArray("hello");
    QTest::newRow("several chunks, upper-case hex")
        << QByteArray("3\r\nabc\r\nA\r\n0123456789\r\n1\r\n\n\r\n0\r\n\r\n")
        << QByteArray("abc0123456789\n");
    QTest::newRow("extensions") << QByteArray("4;name=val\r\nwxyz\r\n0;x\r\n\r\n")
                                << QByteArray("wxyz");
    QTest::newRow("trailers") << QByteArray("2\r\nok\r\n0\r\nX-A: 1\r\nX-B: 2\r\n\r\n")
                              << QByteArray("ok");
    QTest::newRow("CRLF inside the data")
        << QByteArray("6\r\n\r\n0\r\n\r\r\n0\r\n\r\n") << QByteArray("\r\n0\r\n\r");
    QTest::newRow("empty body") << QByteArray("0\r\n\r\n") << QByteArray();
}

void TestBodyDecoding::chunkedFraming() {
    QFETCH(QByteArray, raw);
    QFETCH(QByteArray, data);
    // Whole, and split at every position: the framing may straddle any two pieces.
    for (qsizetype split = 0; split <= raw.size(); ++split) {
        ChunkedDecoder decoder;
        QByteArray out;
        auto sink = [&](const char* d, std::size_t n) { out.append(d, static_cast<qsizetype>(n)); };
        decoder.feed(raw.constData(), static_cast<std::size_t>(split), sink);
        decoder.feed(raw.constData() + split, static_cast<std::size_t>(raw.size() - split), sink);
        QCOMPARE(out, data);
        QVERIFY(decoder.finished());
    }
    ChunkedDecoder byteByByte;
    QByteArray out;
    for (char c : raw)
        byteByByte.feed(
            &c, 1, [&](const char* d, std::size_t n) { out.append(d, static_cast<qsizetype>(n)); });
    QCOMPARE(out, data);
}

void TestBodyDecoding::charset_data() {
    QTest::addColumn<QString>("contentType");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("text");
    const QByteArray latin1Value("executavelvantra=caf\xe9#");
    const QString value = QStringLiteral("executavelvantra=café#");
    QTest::newRow("text/plain without charset") << "text/plain" << latin1Value << value;
    QTest::newRow("no Content-Type") << "" << latin1Value << value;
    QTest::newRow("non-text type") << "application/octet-stream" << latin1Value << value;
    QTest::newRow("unknown charset") << "text/plain; charset=x-no-such-set" << latin1Value << value;
    QTest::newRow("explicit ISO-8859-1") << "text/html;Charset=ISO-8859-1" << latin1Value << value;
    QTest::newRow("utf-8") << "text/plain; charset=utf-8"
                           << QByteArray("executavelvantra=caf\xc3\xa9#") << value;
    QTest::newRow("quoted, upper case")
        << "text/plain; charset=\"UTF-8\"" << QByteArray("caf\xc3\xa9") << QStringLiteral("café");
    QTest::newRow("utf-8 byte order mark kept") << "text/plain; charset=utf-8"
                                                << QByteArray("\xef\xbb\xbf"
                                                              "a=b#")
                                                << QStringLiteral("\uFEFFa=b#");
    QTest::newRow("utf-16le") << "text/plain; charset=utf-16le" << QByteArray("a\0=\0b\0", 6)
                              << QStringLiteral("a=b");
    QTest::newRow("windows-1252") << "text/plain; charset=windows-1252"
                                  << QByteArray("\x80 caf\xe9") << QStringLiteral("€ café");
    QTest::newRow("iso-8859-15") << "text/plain; charset=iso-8859-15" << QByteArray("\xa4")
                                 << QStringLiteral("€");
    // The Win32 layer's code page table has the same rows.
    QTest::newRow("koi8-r") << "text/plain; charset=koi8-r" << QByteArray("\xc1")
                            << QStringLiteral("\u0430");
    QTest::newRow("shift_jis") << "text/plain; charset=Shift_JIS" << QByteArray("\x82\xa0")
                               << QStringLiteral("\u3042");
}

void TestBodyDecoding::charset() {
    QFETCH(QString, contentType);
    QFETCH(QByteArray, body);
    QFETCH(QString, text);
    QCOMPARE(decodeBody(body, contentType), text);
}

QTEST_GUILESS_MAIN(TestBodyDecoding)
#include "tst_body_decoding.moc"
