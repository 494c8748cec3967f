// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
//
// The language-module reader against real resource-only DLLs (built by the MinGW
// binutils at build time), and against truncated, corrupted and hostile copies.

#include "locale/modLocale.h"
#include "locale/peresources.h"
#include "locale/stringblocks.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <optional>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {

QString modulePath(const QString& name)
{
    return QStringLiteral(TOLVANE_LOCALE_MODULES "/") + name;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

struct Probe {
    quint16 lang;
    qint32 id;
};

// Every (language, id) pair the test modules could hold, and some they do not.
const QList<Probe> kProbes = {
    {1033, 0},    {1033, 5},    {1033, 12},   {1033, 15},   {1033, 16},   {1033, 101},
    {1033, 501},  {1033, 1007}, {1033, 1044}, {1036, 0},    {1036, 5},    {1036, 101},
    {1036, 501},  {1036, 5012}, {1041, 0},    {1041, 5},    {1041, 101},  {1041, 501},
    {2052, 0},    {1033, 7000}, {1041, 1007}, {1036, 1007},
};

// Every text of a module, as the probes see it.
QStringList allTexts(const PeStringModule& m)
{
    QStringList texts;
    for (const Probe& p : kProbes) {
        const auto block = m.block(quint16(p.id / 16 + 1), p.lang);
        texts << (block ? StringFromBlock(reinterpret_cast<const unsigned char*>(block->data()), block->size(), p.id % 16)
                        : QString());
    }
    return texts;
}

quint32 u32At(const QByteArray& b, qsizetype at)
{
    return qFromLittleEndian<quint32>(b.constData() + at);
}

void putU32(QByteArray& b, qsizetype at, quint32 v)
{
    qToLittleEndian<quint32>(v, b.data() + at);
}

// File offset of the resource directory of a good image, found the plain way.
qsizetype resourceRoot(const QByteArray& b)
{
    const quint32 pe = u32At(b, 0x3C);
    const quint16 sections = qFromLittleEndian<quint16>(b.constData() + pe + 6);
    const quint16 optSize = qFromLittleEndian<quint16>(b.constData() + pe + 20);
    const qsizetype opt = pe + 24;
    const quint16 magic = qFromLittleEndian<quint16>(b.constData() + opt);
    const qsizetype dirs = opt + (magic == 0x20B ? 112 : 96);
    const quint32 rva = u32At(b, dirs + 2 * 8);
    for (int i = 0; i < sections; ++i) {
        const qsizetype s = opt + optSize + i * 40;
        const quint32 va = u32At(b, s + 12), raw = u32At(b, s + 16), ptr = u32At(b, s + 20);
        if (rva >= va && rva < va + raw)
            return ptr + (rva - va);
    }
    return -1;
}

// Directory offsets (relative to the root) and the file offsets of the entries that
// point at subdirectories, walking the good tree.
struct Tree {
    QList<quint32> directories;
    QList<qsizetype> subdirEntries;
};

Tree walkTree(const QByteArray& b, qsizetype root)
{
    Tree t;
    QList<quint32> todo{0};
    while (!todo.isEmpty()) {
        const quint32 dir = todo.takeFirst();
        t.directories << dir;
        const qsizetype at = root + dir;
        const int count = qFromLittleEndian<quint16>(b.constData() + at + 12)
                          + qFromLittleEndian<quint16>(b.constData() + at + 14);
        for (int i = 0; i < count; ++i) {
            const qsizetype entry = at + 16 + i * 8;
            const quint32 target = u32At(b, entry + 4);
            if (target & 0x80000000u) {
                t.subdirEntries << entry + 4;
                todo << (target & 0x7FFFFFFFu);
            }
        }
    }
    return t;
}

} // namespace

class tst_LocalePe : public QObject
{
    Q_OBJECT

private slots:
    void init() { FreeLangRes(); }
    void cleanupTestCase() { FreeLangRes(); }

    void lookups_data();
    void lookups();
    void pe32MatchesPe32Plus();
    void handle();
    void notModules_data();
    void notModules();
    void tooLarge();
    void notRegularFiles_data();
    void notRegularFiles();
    void moduleWithoutStrings();
    void truncated_data();
    void truncated();
    void flippedBytes_data();
    void flippedBytes();
    void hugeValues();
    void directoryLoops();
    void shortBlocks();
};

void tst_LocalePe::lookups_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("lang");
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("expected");

    for (const QString& file : {QStringLiteral("langres.dll"), QStringLiteral("langres32.dll")}) {
        const QByteArray f = file.toUtf8();
        QTest::addRow("%s probe en", f.constData()) << file << 1033 << 0 << "#RES_NULL#";
        QTest::addRow("%s probe fr", f.constData()) << file << 1036 << 0 << "#RES_NULL#";
        QTest::addRow("%s probe ja", f.constData()) << file << 1041 << 0 << "#RES_NULL#";
        QTest::addRow("%s en", f.constData()) << file << 1033 << 101 << "&Next (module)";
        QTest::addRow("%s fr", f.constData()) << file << 1036 << 101 << "&Suivant";
        QTest::addRow("%s ja", f.constData()) << file << 1041 << 101 << QString::fromUtf8("次へ(&N)【モジュール】");
        QTest::addRow("%s fr accents", f.constData()) << file << 1036 << 5012 << QString::fromUtf8("Paramètres avancés…");
        QTest::addRow("%s trailing blank", f.constData()) << file << 1033 << 1007 << "Step three: ";
        QTest::addRow("%s last of block", f.constData()) << file << 1033 << 15 << "last of block 1";
        QTest::addRow("%s first of next block", f.constData()) << file << 1033 << 16 << "first of block 2";
        QTest::addRow("%s empty position", f.constData()) << file << 1033 << 12 << "";
        QTest::addRow("%s no block", f.constData()) << file << 1033 << 7000 << "";
        QTest::addRow("%s exact language only", f.constData()) << file << 2057 << 0 << "";
        QTest::addRow("%s own table not consulted", f.constData()) << file << 1041 << 1007 << "";
        QTest::addRow("%s negative id", f.constData()) << file << 1033 << -16 << "";
    }
}

void tst_LocalePe::lookups()
{
    QFETCH(QString, file);
    QFETCH(int, lang);
    QFETCH(int, id);
    QFETCH(QString, expected);
    QVERIFY(LoadLangRes(modulePath(file)) != 0);
    QCOMPARE(LoadResStr(quint16(lang), id), expected);
}

void tst_LocalePe::pe32MatchesPe32Plus()
{
    const QByteArray plus = readAll(modulePath(QStringLiteral("langres.dll")));
    const QByteArray pe32 = readAll(modulePath(QStringLiteral("langres32.dll")));
    // The two really are the two kinds of image.
    const quint32 peAt = u32At(plus, 0x3C);
    QCOMPARE(qFromLittleEndian<quint16>(plus.constData() + peAt + 24), quint16(0x20B));
    const quint32 peAt32 = u32At(pe32, 0x3C);
    QCOMPARE(qFromLittleEndian<quint16>(pe32.constData() + peAt32 + 24), quint16(0x10B));

    const auto a = PeStringModule::fromImage(plus);
    const auto b = PeStringModule::fromImage(pe32);
    QVERIFY(a && b);
    QCOMPARE(a->blockCount(), 13);  // 6 English, 4 French, 3 Japanese
    QCOMPARE(b->blockCount(), a->blockCount());
    QCOMPARE(allTexts(*b), allTexts(*a));
}

void tst_LocalePe::handle()
{
    const quintptr h = LoadLangRes(modulePath(QStringLiteral("langres.dll")));
    QVERIFY(h != 0);
    QCOMPARE(LoadResStr(1036, 101), QStringLiteral("&Suivant"));
    FreeLangRes();
    // Without a module the program's own table answers again.
    QCOMPARE(LoadResStr(1036, 101), QString());
    QCOMPARE(LoadResStr(1033, 101), QStringLiteral("&Next"));
    QCOMPARE(LoadLangRes(modulePath(QStringLiteral("missing.dll"))), quintptr(0));
    QCOMPARE(LoadResStr(1033, 101), QStringLiteral("&Next"));
}

void tst_LocalePe::notModules_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty file") << QByteArray();
    QTest::newRow("text") << QByteArray("this is not a module\n");
    QTest::newRow("MZ only") << QByteArray("MZ");
    QByteArray dos(64, '\0');
    dos[0] = 'M';
    dos[1] = 'Z';
    QTest::newRow("DOS header, no PE") << dos;
    QByteArray farPe = dos;
    putU32(farPe, 0x3C, 0xFFFFFFF0u);
    QTest::newRow("PE offset far outside") << farPe;
    QByteArray badMagic = readAll(modulePath(QStringLiteral("langres.dll")));
    const quint32 pe = u32At(badMagic, 0x3C);
    badMagic[pe + 24] = 0x07;
    badMagic[pe + 25] = 0x01;
    QTest::newRow("unknown optional header") << badMagic;
    QByteArray manySections = readAll(modulePath(QStringLiteral("langres.dll")));
    manySections[pe + 6] = char(0xFF);
    manySections[pe + 7] = char(0xFF);
    QTest::newRow("65535 sections") << manySections;
}

void tst_LocalePe::notModules()
{
    QFETCH(QByteArray, bytes);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("LangRes.dll"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    f.close();
    QCOMPARE(LoadLangRes(path), quintptr(0));
    // The own table answers.
    QCOMPARE(LoadResStr(1033, 0), QStringLiteral("#RES_NULL#"));
}

void tst_LocalePe::tooLarge()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("LangRes.dll"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(readAll(modulePath(QStringLiteral("langres.dll"))));
    QVERIFY(f.resize(PeStringModule::kMaxFileSize + 1));  // sparse, so cheap
    f.close();
    QCOMPARE(LoadLangRes(path), quintptr(0));
}

void tst_LocalePe::notRegularFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("named pipe") << QStringLiteral("fifo");
    QTest::newRow("folder") << QStringLiteral("folder");
    QTest::newRow("device") << QStringLiteral("device");
}

void tst_LocalePe::notRegularFiles()
{
    // Something in the module's place that is no file: no module, and no wait (a pipe
    // opened for reading would wait for a writer for ever).
    QFETCH(QString, kind);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString path = dir.filePath(QStringLiteral("LangRes.dll"));
    if (kind == QLatin1String("folder")) {
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("LangRes.dll")));
    } else {
#ifdef Q_OS_UNIX
        if (kind == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else
            path = QStringLiteral("/dev/zero");
#else
        QSKIP("pipes and devices as files are a Unix matter");
#endif
    }
    QCOMPARE(LoadLangRes(path), quintptr(0));
    QCOMPARE(LoadResStr(1033, 0), QStringLiteral("#RES_NULL#"));
}

void tst_LocalePe::moduleWithoutStrings()
{
    // A valid module: it loads, and finds nothing.
    QVERIFY(LoadLangRes(modulePath(QStringLiteral("langres_nostrings.dll"))) != 0);
    QCOMPARE(LoadResStr(1033, 0), QString());
    const auto m = PeStringModule::fromImage(readAll(modulePath(QStringLiteral("langres_nostrings.dll"))));
    QVERIFY(m);
    QCOMPARE(m->blockCount(), 0);
}

void tst_LocalePe::truncated_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("PE32+") << QStringLiteral("langres.dll");
    QTest::newRow("PE32") << QStringLiteral("langres32.dll");
}

void tst_LocalePe::truncated()
{
    QFETCH(QString, file);
    const QByteArray good = readAll(modulePath(file));
    QVERIFY(good.size() > 2200);
    QVERIFY(PeStringModule::fromImage(good));
    // Every length short of the whole image: the system would not load such a module,
    // so it is no module at all (and the program's own texts serve), never a module
    // without strings that would leave every caption of the window empty.
    for (qsizetype len = 0; len < good.size(); ++len) {
        if (PeStringModule::fromImage(good.left(len)))
            QFAIL(qPrintable(QStringLiteral("a copy cut to %1 of %2 bytes loaded").arg(len).arg(good.size())));
    }
    // The same through the file, as the program starts: 2,200 bytes of a valid module.
    QTemporaryDir dir;
    const QString cut = dir.filePath(QStringLiteral("LangRes.dll"));
    QFile f(cut);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(good.left(2200));
    f.close();
    QCOMPARE(LoadLangRes(cut), 0);
}

void tst_LocalePe::flippedBytes_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("mask");
    QTest::newRow("PE32+ inverted") << QStringLiteral("langres.dll") << 0xFF;
    QTest::newRow("PE32+ top bit") << QStringLiteral("langres.dll") << 0x80;
    QTest::newRow("PE32 inverted") << QStringLiteral("langres32.dll") << 0xFF;
    QTest::newRow("PE32 low bit") << QStringLiteral("langres32.dll") << 0x01;
}

void tst_LocalePe::flippedBytes()
{
    QFETCH(QString, file);
    QFETCH(int, mask);
    const QByteArray good = readAll(modulePath(file));
    int loaded = 0;
    for (qsizetype at = 0; at < good.size(); ++at) {
        QByteArray bad = good;
        bad[at] = char(bad[at] ^ mask);
        const auto m = PeStringModule::fromImage(bad);
        if (!m)
            continue;
        ++loaded;
        allTexts(*m);  // must stay inside the image
        // A damaged count can turn any bytes into entries, but never without bound.
        QVERIFY(m->blockCount() <= 65536);
    }
    QVERIFY(loaded > 0);
}

void tst_LocalePe::hugeValues()
{
    const QByteArray good = readAll(modulePath(QStringLiteral("langres.dll")));
    const qsizetype root = resourceRoot(good);
    QVERIFY(root > 0);
    // Every 32-bit field of the headers and the resource tree set to hostile values.
    const quint32 values[] = {0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u, 0x8000FFF8u, 0x00010000u, 0xFFFFu};
    int loaded = 0;
    for (qsizetype at = 0; at + 4 <= good.size(); at += 2) {
        for (quint32 v : values) {
            QByteArray bad = good;
            putU32(bad, at, v);
            const auto m = PeStringModule::fromImage(bad);
            if (!m)
                continue;
            ++loaded;
            allTexts(*m);
        }
    }
    // Most fields do not matter to the reader: those copies still load.
    QVERIFY(loaded > 0);
}

void tst_LocalePe::directoryLoops()
{
    const QByteArray good = readAll(modulePath(QStringLiteral("langres.dll")));
    const qsizetype root = resourceRoot(good);
    QVERIFY(root > 0);
    const Tree tree = walkTree(good, root);
    // Root, the string-table type, 7 block directories.
    QCOMPARE(tree.directories.size(), 9);
    int cases = 0;
    for (qsizetype entry : tree.subdirEntries) {
        for (quint32 dir : tree.directories) {
            QByteArray bad = good;
            putU32(bad, entry, 0x80000000u | dir);
            const auto m = PeStringModule::fromImage(bad);
            QVERIFY(m);  // the headers are fine; only the tree is bent
            QVERIFY(m->blockCount() <= 13);
            allTexts(*m);
            ++cases;
        }
    }
    QVERIFY(cases > 0);
    // The type entry pointing back at the root: a loop, and no strings at all.
    QByteArray loop = good;
    putU32(loop, tree.subdirEntries.first(), 0x80000000u);
    const auto m = PeStringModule::fromImage(loop);
    QVERIFY(m);
    QCOMPARE(m->blockCount(), 0);
}

void tst_LocalePe::shortBlocks()
{
    // Lengths that run past the block end give the empty text, not a read beyond it.
    const unsigned char claimsTooMuch[] = {0xFF, 0xFF, 'a', 0};
    QCOMPARE(StringFromBlock(claimsTooMuch, sizeof claimsTooMuch, 0), QString());
    QCOMPARE(StringFromBlock(claimsTooMuch, sizeof claimsTooMuch, 1), QString());
    const unsigned char one[] = {1, 0, 'A', 0, 2, 0, 'B'};
    QCOMPARE(StringFromBlock(one, sizeof one, 0), QStringLiteral("A"));
    QCOMPARE(StringFromBlock(one, sizeof one, 1), QString());  // second text cut off
    QCOMPARE(StringFromBlock(one, sizeof one, 15), QString());
    QCOMPARE(StringFromBlock(one, sizeof one, 16), QString());
    QCOMPARE(StringFromBlock(one, sizeof one, -1), QString());
    QCOMPARE(StringFromBlock(nullptr, 10, 0), QString());
    const unsigned char odd[] = {1, 0, 'A'};
    QCOMPARE(StringFromBlock(odd, sizeof odd, 0), QString());
}

QTEST_GUILESS_MAIN(tst_LocalePe)
#include "tst_localepe.moc"
