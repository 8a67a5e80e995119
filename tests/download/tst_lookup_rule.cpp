// The lookup rule of the Remote settings document, quirks included: stored
// documents rely on every one of them.

#include "SettingsLookup.h"

#include <QTest>

class TestLookupRule : public QObject {
    Q_OBJECT

private slots:
    void valueOfKey_data();
    void valueOfKey();
};

void TestLookupRule::valueOfKey_data() {
    QTest::addColumn<QString>("document");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    const QString k = QStringLiteral("executavelvantra");
    QTest::newRow("only the entry")
        << "executavelvantra=https://h/Vantra.zip#" << k << "https://h/Vantra.zip";
    QTest::newRow("key in capitals, value as written")
        << "EXECUTAVELVANTRA=https://H/Vantra.ZIP#" << k << "https://H/Vantra.ZIP";
    QTest::newRow("mixed-case key asked") << "executavelvantra=v#"
                                          << "ExecutavelVantra"
                                          << "v";
    QTest::newRow("key absent") << "outra=https://h/x.zip#" << k << "";
    QTest::newRow("empty document") << "" << k << "";
    QTest::newRow("empty key") << "a=b#"
                               << ""
                               << "";
    QTest::newRow("among other entries")
        << "servidor=h#\r\nexecutavelvantra=https://h/p.zip#\r\nversao=2#" << k
        << "https://h/p.zip";
    QTest::newRow("first occurrence inside a longer word")
        << "xexecutavelvantraz=primeiro#executavelvantra=segundo#" << k << "primeiro";
    QTest::newRow("first occurrence inside another entry's value")
        << "outra=executavelvantra#executavelvantra=real#" << k << "";
    QTest::newRow("spaces kept") << "executavelvantra = https://h/p.zip #" << k
                                 << " https://h/p.zip ";
    QTest::newRow("tab and line break kept")
        << "executavelvantra=\thttps://h/p.zip\r\n#" << k << "\thttps://h/p.zip\r\n";
    QTest::newRow("no # runs to the end")
        << "executavelvantra=https://h/p.zip\r\noutra=x" << k << "https://h/p.zip\r\noutra=x";
    QTest::newRow("no = but a #, key included")
        << "executavelvantra https://h/p.zip#" << k << "executavelvantra https://h/p.zip";
    QTest::newRow("neither = nor #") << "abc executavelvantra xyz" << k << "executavelvantra xyz";
    QTest::newRow("# between key and =") << "executavelvantra#x=y#" << k << "";
    QTest::newRow("= and # on a later line")
        << "executavelvantra\r\nlinha=valor#fim" << k << "valor";
    QTest::newRow("= inside the value")
        << "executavelvantra=https://h/p?a=b&c=d#" << k << "https://h/p?a=b&c=d";
    QTest::newRow("empty value") << "executavelvantra=#" << k << "";
    QTest::newRow("only ASCII letters fold")
        << QStringLiteral("AÇÃO=primeiro#ação=segundo#") << QStringLiteral("ação") << "segundo";
    QTest::newRow("Kelvin sign is not k") << QStringLiteral("\u212Aey=a#key=b#") << "key"
                                          << "b";
    QTest::newRow("positions in UTF-16 code units")
        << QStringLiteral("\U0001F600executavelvantra=v\U0001F600#") << k
        << QStringLiteral("v\U0001F600");
    QTest::newRow("non-ASCII value kept") << QStringLiteral("executavelvantra=https://h/café.zip#")
                                          << k << QStringLiteral("https://h/café.zip");
}

void TestLookupRule::valueOfKey() {
    QFETCH(QString, document);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QCOMPARE(valorDaChave(document, key), value);
}

QTEST_GUILESS_MAIN(TestLookupRule)
#include "tst_lookup_rule.moc"
