// The images, the icon and both translation catalogues as the program finds
// them in its resources, plus the catalogue sources they are compiled from.
#include <QFile>
#include <QImage>
#include <QMap>
#include <QSet>
#include <QTranslator>
#include <QVector>
#include <QXmlStreamReader>
#include <QtTest>

#include <cstdint>

namespace {

// Unit symbols spelled by code point: OHM SIGN (U+2126) and MICRO SIGN (U+00B5)
// look the same on screen but would not match the texts the decoders produce.
#define OHM "\u03A9"
#define MICRO "\u03BC"

struct Message
{
    const char *context;
    const char *source;
    const char *english;
};

const Message kCatalogue[] = {
    // the form's texts
    {"MainWindow", "MainWindow", "MainWindow"},
    {"MainWindow", "清除", "clear"},
    {"MainWindow", "清除数据", "Clear data"},
    {"MainWindow", "关闭", "close"},
    {"MainWindow", "断开设备连接", "Disconnect device"},
    {"MainWindow", "中文", "Chinese"},
    {"MainWindow", "中文界面", "Chinese interface"},
    {"MainWindow", "英文", "English"},
    {"MainWindow", "英文界面", "English interface"},
    {"MainWindow", "退出", "exit"},
    {"MainWindow", "退出程序", "Exit program"},
    {"MainWindow", "ms", "ms"},
    {"MainWindow", "语言", "Language"},
    {"MainWindow", "toolBar", "toolBar"},
    // the window's own texts
    {"MainWindow", "Zelmora", "Zelmora"},
    {"MainWindow", "等待连接\u00B7\u00B7\u00B7", "Waiting to connect..."},
    {"MainWindow", "已连接", "Connected"},
    {"MainWindow", "未连接", "Disconnected"},
    {"MainWindow", "未打开设备", "Not open"},
    {"MainWindow", "采样间隔\uFF1A", "Sample interval:"},
    {"MainWindow", "测量模式", "Measurement mode"},
    {"MainWindow", "读取实时数据", "Read real-time data"},
    {"MainWindow", "读取本地数据", "Read local data"},
    {"MainWindow", "数据总数", "Data total"},
    {"MainWindow", "0", "0"},
    {"MainWindow", "序号", "Number"},
    {"MainWindow", "时间", "Time"},
    {"MainWindow", "模式", "Mode"},
    {"MainWindow", "量程", "Range"},
    {"MainWindow", "电阻值", "Resistance value"},
    {"MainWindow", "接收实时数据", "Receive real-time data"},
    {"MainWindow", "接收本地数据", "Receive local data"},
    {"MainWindow", "停止", "stop"},
    {"MainWindow", "错误", "Error"},
    {"MainWindow", "数据传输失败", "Data transfer failure"},
    {"MainWindow", "数据传输失败\uFF01请重新点击开始按钮\u3002",
     "Data transfer failed! Please click the Start button again."},
    {"MainWindow", "注意", "Note"},
    {"MainWindow", "无数据\uFF01", "No data!"},
    {"MainWindow", "Excel文件(*.xlsx)", "Excel file(*.xlsx)"},
    {"MainWindow", "您想现在打开已保存的文件吗\uFF1F", "Do you want to open the saved file now?"},
    {"MainWindow", "打开文件", "Open file"},
    {"MainWindow", "是", "Yes"},
    {"MainWindow", "否", "No"},
    {"MainWindow", "文件保存失败\uFF1A%1", "The file could not be saved: %1"},
    {"MainWindow", "该文件正被其他程序使用\uFF0C请关闭它后再保存\u3002",
     "The file is in use by another program: close it and save again."},
    {"MainWindow", "正在保存\u2026", "Saving\u2026"},
    {"MainWindow", "取消", "Cancel"},
    {"MainWindow", "保存文件", "Save file"},
    {"MainWindow", "正在取消\u2026", "Cancelling\u2026"},
    // the live decoder's texts
    {"ParseRealTimeData", "自动", "Auto"},
    {"ParseRealTimeData", "手动", "Manual"},
    {"ParseRealTimeData", "100k" OHM, "100k" OHM},
    {"ParseRealTimeData", "10k" OHM, "10k" OHM},
    {"ParseRealTimeData", "1k" OHM, "1k" OHM},
    {"ParseRealTimeData", "100" OHM, "100" OHM},
    {"ParseRealTimeData", "10" OHM, "10" OHM},
    {"ParseRealTimeData", "1" OHM, "1" OHM},
    {"ParseRealTimeData", "100m" OHM, "100m" OHM},
    {"ParseRealTimeData", "10m" OHM, "10m" OHM},
    {"ParseRealTimeData", "1m" OHM, "1m" OHM},
    {"ParseRealTimeData", "100" MICRO OHM, "100" MICRO OHM},
    {"ParseRealTimeData", "OL", "OL"},
    {"ParseRealTimeData", "k" OHM, "k" OHM},
    {"ParseRealTimeData", OHM, OHM},
    {"ParseRealTimeData", "m" OHM, "m" OHM},
    {"ParseRealTimeData", MICRO OHM, MICRO OHM},
    // the stored-record decoder's texts
    {"ParseReadBackData", "OL", "OL"},
    {"ParseReadBackData", "k" OHM, "k" OHM},
    {"ParseReadBackData", OHM, OHM},
    {"ParseReadBackData", "m" OHM, "m" OHM},
    {"ParseReadBackData", MICRO OHM, MICRO OHM},
};

// The one text that deliberately keeps its Chinese in the English interface.
const char kUntranslatedContext[] = "MainWindow";
const char kUntranslatedSource[] = "保存Excel文件";

struct TsMessage
{
    QString context;
    QString source;
    QString translation;
    QString translationType; // "unfinished", "vanished", ... or empty when finished
    bool hasComment = false;
    bool isPlural = false;
};

QVector<TsMessage> readTsFile(const QString &path)
{
    QVector<TsMessage> messages;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return messages;
    QXmlStreamReader xml(&file);
    QString context;
    TsMessage current;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const auto name = xml.name();
        if (name == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (name == QLatin1String("message")) {
            current = TsMessage();
            current.context = context;
            current.isPlural = xml.attributes().hasAttribute(QStringLiteral("numerus"));
        } else if (name == QLatin1String("source")) {
            current.source = xml.readElementText();
        } else if (name == QLatin1String("comment") || name == QLatin1String("extracomment")) {
            current.hasComment = true;
        } else if (name == QLatin1String("translation")) {
            current.translationType = xml.attributes().value(QStringLiteral("type")).toString();
            current.translation = xml.readElementText(QXmlStreamReader::IncludeChildElements);
            messages.append(current);
        }
    }
    if (xml.hasError())
        qWarning("%s: %s", qPrintable(path), qPrintable(xml.errorString()));
    return messages;
}

QString tsPath(const char *fileName)
{
    return QStringLiteral(ZELMORA_SOURCE_DIR "/resources/") + QLatin1String(fileName);
}

quint32 readLittleEndian(const QByteArray &bytes, int offset, int size)
{
    quint32 value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | static_cast<std::uint8_t>(bytes.at(offset + i));
    return value;
}

} // namespace

class TestResources : public QObject
{
    Q_OBJECT

private slots:
    void toolbarImageIsGreyOutlineSymbol_data();
    void toolbarImageIsGreyOutlineSymbol();
    void applicationIconIsRedLogotypeInSixteenColours();

    void englishCatalogueTranslates_data();
    void englishCatalogueTranslates();
    void saveDialogCaptionStaysChineseInEnglish();
    void chineseCatalogueKeepsSourceTexts_data();
    void chineseCatalogueKeepsSourceTexts();

    void catalogueSourceHoldsEveryMessageOnce_data();
    void catalogueSourceHoldsEveryMessageOnce();
    void bothCatalogueSourcesHoldTheSameMessages();
};

void TestResources::toolbarImageIsGreyOutlineSymbol_data()
{
    // The pictures are black, dark grey or grey; the band is the grey level of
    // their fully opaque strokes.
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("darkest");
    QTest::addColumn<int>("lightest");
    const int black[] = {0, 30};
    const int darkGrey[] = {40, 90};
    const int grey[] = {95, 170};
    const struct { const char *path; const int *band; } images[] = {
        {":/start.png", grey},
        {":/stop.png", grey},
        {":/save.png", darkGrey},
        {":/clear.png", grey},
        {":/open device.png", black},
        {":/Chinese.png", black},
        {":/lang_zh.png", black},
        {":/exit.png", darkGrey},
        {":/update.png", black},
    };
    for (const auto &image : images)
        QTest::newRow(image.path) << QString::fromUtf8(image.path) << image.band[0] << image.band[1];
}

void TestResources::toolbarImageIsGreyOutlineSymbol()
{
    QFETCH(QString, path);
    QFETCH(int, darkest);
    QFETCH(int, lightest);

    QFile file(path);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path + " is not in the resources"));
    const QByteArray png = file.readAll();
    // IHDR: bit depth 8 and colour type 6 (RGBA), not grey+alpha, a palette or 16 bits.
    QVERIFY(png.startsWith("\x89PNG\r\n\x1a\n"));
    QCOMPARE(png.mid(12, 4), QByteArray("IHDR"));
    QCOMPARE(int(static_cast<std::uint8_t>(png.at(24))), 8);
    QCOMPARE(int(static_cast<std::uint8_t>(png.at(25))), 6);

    QImage image;
    QVERIFY(image.loadFromData(png, "PNG"));
    QCOMPARE(image.size(), QSize(200, 200));
    QVERIFY(image.hasAlphaChannel());
    image = image.convertToFormat(QImage::Format_ARGB32);

    for (const QPoint corner : {QPoint(0, 0), QPoint(199, 0), QPoint(0, 199), QPoint(199, 199)})
        QCOMPARE(qAlpha(image.pixel(corner)), 0);

    int painted = 0;
    int opaque = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (qAlpha(pixel) > 0)
                ++painted;
            if (qAlpha(pixel) < 255)
                continue;
            ++opaque;
            const int r = qRed(pixel), g = qGreen(pixel), b = qBlue(pixel);
            QVERIFY2(qAbs(r - g) <= 8 && qAbs(g - b) <= 8,
                     qPrintable(QStringLiteral("colour at %1,%2").arg(x).arg(y)));
            QVERIFY2(g >= darkest && g <= lightest,
                     qPrintable(QStringLiteral("grey level %1 at %2,%3").arg(g).arg(x).arg(y)));
        }
    }
    // Strokes, not a blank canvas and not a filled shape.
    const double coverage = painted / double(image.width() * image.height());
    QVERIFY2(coverage > 0.05 && coverage < 0.45, qPrintable(QString::number(coverage)));
    QVERIFY(opaque > 0);
}

void TestResources::applicationIconIsRedLogotypeInSixteenColours()
{
    QFile file(QStringLiteral(":/app2.ico"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray ico = file.readAll();
    QVERIFY(ico.size() > 22 + 40);
    QCOMPARE(readLittleEndian(ico, 2, 2), 1u);  // an icon, not a cursor
    QCOMPARE(readLittleEndian(ico, 4, 2), 1u);  // one image
    QCOMPARE(readLittleEndian(ico, 6, 1), 32u); // width
    QCOMPARE(readLittleEndian(ico, 7, 1), 32u); // height
    QCOMPARE(readLittleEndian(ico, 8, 1), 16u); // palette entries
    QCOMPARE(readLittleEndian(ico, 12, 2), 4u); // bits per pixel in the directory
    const int dib = int(readLittleEndian(ico, 18, 4));
    QCOMPARE(readLittleEndian(ico, dib + 14, 2), 4u); // ... and in the bitmap itself

    QImage image;
    QVERIFY(image.loadFromData(ico, "ICO"));
    QCOMPARE(image.size(), QSize(32, 32));
    image = image.convertToFormat(QImage::Format_ARGB32);

    int red = 0;
    int white = 0;
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (qAlpha(pixel) == 0)
                continue;
            // Every shade lies between the white ground and the red letters.
            QVERIFY2(qGreen(pixel) == qBlue(pixel) && qRed(pixel) >= qGreen(pixel),
                     qPrintable(QStringLiteral("colour at %1,%2").arg(x).arg(y)));
            if (qRed(pixel) > 180 && qGreen(pixel) < 40)
                ++red;
            if (qGreen(pixel) > 240 && qRed(pixel) > 240)
                ++white;
        }
    }
    QVERIFY2(red > 60, qPrintable(QString::number(red)));
    QVERIFY2(white > red, qPrintable(QString::number(white)));
}

void TestResources::englishCatalogueTranslates_data()
{
    QTest::addColumn<QString>("context");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("english");
    for (const Message &m : kCatalogue)
        QTest::addRow("%s %s", m.context, m.source)
            << QString::fromUtf8(m.context) << QString::fromUtf8(m.source) << QString::fromUtf8(m.english);
}

void TestResources::englishCatalogueTranslates()
{
    QFETCH(QString, context);
    QFETCH(QString, source);
    QFETCH(QString, english);

    QTranslator translator;
    QVERIFY(translator.load(QStringLiteral(":/lang_en.qm"), QString(), QString(), QString()));
    QCOMPARE(translator.translate(context.toUtf8().constData(), source.toUtf8().constData()), english);
}

void TestResources::saveDialogCaptionStaysChineseInEnglish()
{
    QTranslator translator;
    QVERIFY(translator.load(QStringLiteral(":/lang_en.qm"), QString(), QString(), QString()));
    QVERIFY(translator.translate(kUntranslatedContext, kUntranslatedSource).isNull());

    // What the user then sees: the lookup falls back to the source text.
    QVERIFY(QCoreApplication::installTranslator(&translator));
    const QString shown = QCoreApplication::translate(kUntranslatedContext, kUntranslatedSource);
    QCoreApplication::removeTranslator(&translator);
    QCOMPARE(shown, QString::fromUtf8(kUntranslatedSource));
}

void TestResources::chineseCatalogueKeepsSourceTexts_data()
{
    QTest::addColumn<QString>("context");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("chinese");
    // The three texts that read differently...
    QTest::newRow("window title") << "MainWindow" << "MainWindow" << QString::fromUtf8("主窗口");
    QTest::newRow("spin box suffix") << "MainWindow" << "ms" << QString::fromUtf8("毫秒");
    QTest::newRow("tool bar title") << "MainWindow" << "toolBar" << QString::fromUtf8("工具栏");
    // ...and a sample of those that keep their source.
    const char *const same[][2] = {
        {"MainWindow", "清除"},
        {"MainWindow", "等待连接\u00B7\u00B7\u00B7"},
        {"MainWindow", "Zelmora"},
        {"MainWindow", "保存Excel文件"},
        {"MainWindow", "文件保存失败\uFF1A%1"},
        {"ParseRealTimeData", "自动"},
        {"ParseRealTimeData", "100" MICRO OHM},
        {"ParseReadBackData", "OL"},
        {"ParseReadBackData", "k" OHM},
    };
    for (const auto &message : same)
        QTest::addRow("%s %s", message[0], message[1])
            << QString::fromUtf8(message[0]) << QString::fromUtf8(message[1]) << QString::fromUtf8(message[1]);
}

void TestResources::chineseCatalogueKeepsSourceTexts()
{
    QFETCH(QString, context);
    QFETCH(QString, source);
    QFETCH(QString, chinese);

    QTranslator translator;
    QVERIFY(translator.load(QStringLiteral(":/lang_zh.qm"), QString(), QString(), QString()));
    QCOMPARE(translator.translate(context.toUtf8().constData(), source.toUtf8().constData()), chinese);
}

void TestResources::catalogueSourceHoldsEveryMessageOnce_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("unfinishedSource"); // the one message left without a translation, if any
    QTest::newRow("English") << tsPath("lang_en.ts") << QString::fromUtf8(kUntranslatedSource);
    QTest::newRow("Chinese") << tsPath("lang_zh.ts") << QString();
}

void TestResources::catalogueSourceHoldsEveryMessageOnce()
{
    QFETCH(QString, fileName);
    QFETCH(QString, unfinishedSource);

    const QVector<TsMessage> messages = readTsFile(fileName);
    QMap<QString, int> perContext;
    QSet<QPair<QString, QString>> seen;
    for (const TsMessage &m : messages) {
        const QString where = m.context + QLatin1Char(' ') + m.source;
        ++perContext[m.context];
        QVERIFY2(!seen.contains(qMakePair(m.context, m.source)), qPrintable("twice: " + where));
        seen.insert(qMakePair(m.context, m.source));
        QVERIFY2(!m.hasComment, qPrintable("disambiguation: " + where));
        QVERIFY2(!m.isPlural, qPrintable("plural: " + where));
        // lrelease drops unfinished and empty translations: only the intended one may be.
        if (m.context == QLatin1String(kUntranslatedContext) && m.source == unfinishedSource) {
            QCOMPARE(m.translationType, QStringLiteral("unfinished"));
            QVERIFY(m.translation.isEmpty());
        } else {
            QVERIFY2(m.translationType.isEmpty(), qPrintable(m.translationType + ": " + where));
            QVERIFY2(!m.translation.isEmpty(), qPrintable("empty: " + where));
        }
    }
    QCOMPARE(perContext.value(QStringLiteral("MainWindow")), 50);
    QCOMPARE(perContext.value(QStringLiteral("ParseRealTimeData")), 17);
    QCOMPARE(perContext.value(QStringLiteral("ParseReadBackData")), 5);
    QCOMPARE(perContext.size(), 3);
}

void TestResources::bothCatalogueSourcesHoldTheSameMessages()
{
    const auto keys = [](const QVector<TsMessage> &messages) {
        QSet<QString> result;
        for (const TsMessage &m : messages)
            result.insert(m.context + QLatin1Char('\n') + m.source);
        return result;
    };
    const QSet<QString> english = keys(readTsFile(tsPath("lang_en.ts")));
    const QSet<QString> chinese = keys(readTsFile(tsPath("lang_zh.ts")));
    QVERIFY(!english.isEmpty());
    QCOMPARE(english, chinese);

    QSet<QString> expected;
    for (const Message &m : kCatalogue)
        expected.insert(QString::fromUtf8(m.context) + QLatin1Char('\n') + QString::fromUtf8(m.source));
    expected.insert(QString::fromUtf8(kUntranslatedContext) + QLatin1Char('\n') + QString::fromUtf8(kUntranslatedSource));
    QCOMPARE(english, expected);
}

QTEST_GUILESS_MAIN(TestResources)
#include "test_resources.moc"
