#ifndef ZELMORA_TEST_EXPORT_READBACK_H
#define ZELMORA_TEST_EXPORT_READBACK_H

// Reading a saved workbook back through openpyxl (test_export_readback.py)
// and comparing it with the table it was made from.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QThread>
#include <QVector>

struct ExpectedSheet
{
    QStringList header;
    QVector<QStringList> rows;
    QStringList wideColumns; // column letters expected at width 20, in order
};

#ifdef Q_OS_WIN
// Under Wine a Windows program cannot read a Linux program's output, so the
// request goes through the spool folder that the test runner's read-back
// service (readback_service.py) watches.
inline bool runReader(const QString &path, const QStringList &options, QByteArray *out, QByteArray *err)
{
    const QString spool = qEnvironmentVariable("ZELMORA_READBACK_SPOOL");
    if (spool.isEmpty()) {
        *err = "ZELMORA_READBACK_SPOOL is not set: run the test through the build's wine-run";
        return false;
    }
    static int requests = 0;
    const QString stem = QDir(spool).filePath(
        QStringLiteral("%1-%2").arg(QCoreApplication::applicationPid()).arg(++requests));
    {
        QFile request(stem + QStringLiteral(".request.part"));
        if (!request.open(QIODevice::WriteOnly))
            return false;
        // The path on the first line, the reader's options on the lines after it.
        const QString windowsPath = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
        request.write((QStringList(windowsPath) + options).join('\n').toUtf8());
    }
    QFile::rename(stem + QStringLiteral(".request.part"), stem + QStringLiteral(".request"));
    QElapsedTimer waited;
    waited.start();
    while (!QFile::exists(stem + QStringLiteral(".status"))) {
        if (waited.elapsed() > 60000) {
            *err = "the read-back service did not answer";
            return false;
        }
        QThread::msleep(20);
    }
    auto contents = [&](const char *suffix) {
        QFile file(stem + QLatin1String(suffix));
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    };
    *out = contents(".out");
    *err = contents(".err");
    return contents(".status").trimmed() == "0";
}
#else
inline bool runReader(const QString &path, const QStringList &options, QByteArray *out, QByteArray *err)
{
    QProcess reader;
    reader.start(QStringLiteral(ZELMORA_OPENPYXL_PYTHON),
                 QStringList(QStringLiteral(ZELMORA_READBACK_SCRIPT)) + options + QStringList(path));
    const bool finished = reader.waitForFinished(60000);
    *out = reader.readAllStandardOutput();
    *err = reader.readAllStandardError();
    return finished && reader.exitStatus() == QProcess::NormalExit && reader.exitCode() == 0;
}
#endif

// Empty when the reader failed; the reason goes to `error`. With the option
// "--summary", only what test_export_readback.py says of it, for long sheets.
inline QJsonObject readWorkbook(const QString &path, QString *error, const QStringList &options = {})
{
    QByteArray out;
    QByteArray err;
    if (!runReader(path, options, &out, &err)) {
        *error = QStringLiteral("reader failed: ") + QString::fromUtf8(err);
        return {};
    }
    QJsonParseError parse;
    const QJsonDocument document = QJsonDocument::fromJson(out, &parse);
    if (parse.error != QJsonParseError::NoError) {
        *error = QStringLiteral("reader printed no JSON: ") + parse.errorString();
        return {};
    }
    return document.object();
}

// The first difference between the workbook and the table, or an empty text.
inline QString differenceFromTable(const QJsonObject &book, const ExpectedSheet &expected)
{
    if (book.value("sheets").toArray() != QJsonArray{QStringLiteral("Sheet1")})
        return QStringLiteral("sheets are not just Sheet1");
    // Written row by row, every cell is an inline string: never a number, a
    // boolean or a formula.
    if (book.value("rawCellTypes").toArray() != QJsonArray{QStringLiteral("inlineStr")})
        return QStringLiteral("cells are not all inline strings: ")
            + QString::fromUtf8(QJsonDocument(book.value("rawCellTypes").toArray()).toJson(QJsonDocument::Compact));

    QVector<QStringList> table{expected.header};
    table += expected.rows;
    const QJsonArray rows = book.value("rows").toArray();
    if (rows.size() != table.size())
        return QStringLiteral("%1 sheet rows, expected %2").arg(rows.size()).arg(table.size());
    for (int r = 0; r < table.size(); ++r) {
        const QJsonArray cells = rows.at(r).toArray();
        if (cells.size() != table.at(r).size())
            return QStringLiteral("row %1 has %2 cells, expected %3").arg(r + 1).arg(cells.size()).arg(table.at(r).size());
        for (int c = 0; c < cells.size(); ++c) {
            const QJsonObject cell = cells.at(c).toObject();
            const QString where = QStringLiteral("row %1 column %2: ").arg(r + 1).arg(c + 1);
            if (cell.value("type").toString() != QLatin1String("s"))
                return where + QStringLiteral("type ") + cell.value("type").toString();
            if (cell.value("value").toString() != table.at(r).at(c))
                return where + QStringLiteral("\"%1\", expected \"%2\"").arg(cell.value("value").toString(), table.at(r).at(c));
            if (cell.value("horizontal").toString() != QLatin1String("center")
                || cell.value("vertical").toString() != QLatin1String("center"))
                return where + QStringLiteral("not centred both ways");
        }
    }

    QStringList wide = book.value("columns").toObject().keys();
    if (wide != expected.wideColumns)
        return QStringLiteral("widened columns %1, expected %2").arg(wide.join(','), expected.wideColumns.join(','));
    for (const QString &letter : wide) {
        if (book.value("columns").toObject().value(letter).toDouble() != 20.0)
            return QStringLiteral("column %1 is not of width 20").arg(letter);
    }
    // What the file itself says, as Excel will read it.
    const QJsonArray raw = book.value("rawColumns").toArray();
    if (raw.size() != expected.wideColumns.size())
        return QStringLiteral("%1 <col> elements, expected %2").arg(raw.size()).arg(expected.wideColumns.size());
    for (int i = 0; i < raw.size(); ++i) {
        const QJsonObject col = raw.at(i).toObject();
        const QString number = QString::number(expected.wideColumns.at(i).at(0).unicode() - 'A' + 1);
        if (col.value("min").toString() != number || col.value("max").toString() != number)
            return QStringLiteral("<col> %1 spans %2 to %3").arg(i).arg(col.value("min").toString(), col.value("max").toString());
        if (col.value("width").toString() != QLatin1String("20"))
            return QStringLiteral("<col> width=\"%1\"").arg(col.value("width").toString());
    }
    return QString();
}

#endif
