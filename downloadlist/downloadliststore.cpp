#include "downloadlist/downloadliststore.h"

#include "engine/outputformat.h"
#include "res/stringtable.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

#include <climits>
#include <filesystem>
#include <system_error>

namespace {

// Set-aside names tried in one second before giving up: -2, -3, ... after the first.
constexpr int kMaxAsideNames = 1000;

QString Key(const char* key)
{
    return QString::fromLatin1(key);
}

// A quint64 as a decimal string; anything else (a sign, spaces, a number, an overflow) fails.
std::optional<quint64> ReadCount(const QJsonValue& value)
{
    if (!value.isString())
        return std::nullopt;
    const QString text = value.toString();
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
    }
    bool ok = false;
    const quint64 count = text.toULongLong(&ok);
    return ok && !text.isEmpty() ? std::optional(count) : std::nullopt;
}

// A whole JSON number in [low, high].
std::optional<qint64> ReadWhole(const QJsonValue& value, qint64 low, qint64 high)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (!(number >= double(low) && number <= double(high)) || number != double(qint64(number)))
        return std::nullopt;
    return qint64(number);
}

// The row as a record, or the reason it is refused.
std::optional<CDownloadRecord> ReadRow(const QJsonValue& value, QString& why)
{
    if (!value.isObject()) {
        why = QStringLiteral("not an object");
        return std::nullopt;
    }
    const QJsonObject row = value.toObject();
    CDownloadRecord record;
    for (auto [key, field] : {std::pair{"name", &record.name}, std::pair{"path", &record.path},
                              std::pair{"url", &record.url}}) {
        const QJsonValue text = row.value(Key(key));
        if (!text.isString()) {
            why = QStringLiteral("\"%1\" is missing or not text").arg(Key(key));
            return std::nullopt;
        }
        *field = text.toString();
    }
    const auto format = ReadWhole(row.value(Key("format")), 0, INT_MAX);
    const auto status = ReadWhole(row.value(Key("status")), 0, INT_MAX);
    if (!format || !status) {
        why = QStringLiteral("\"format\" or \"status\" is missing or not a whole number");
        return std::nullopt;
    }
    record.format = int(*format);
    record.status = int(*status);
    if (row.contains(Key("percent"))) {
        record.percent = ReadWhole(row.value(Key("percent")), 0, CDownloadListStore::kMaxPercent);
        if (!record.percent) {
            why = QStringLiteral("\"percent\" is not a whole number from 0 to 2^53");
            return std::nullopt;
        }
    }
    for (auto [key, field] :
         {std::pair{"total", &record.total}, std::pair{"received", &record.received}}) {
        if (row.contains(Key(key))) {
            *field = ReadCount(row.value(Key(key)));
            if (!*field) {
                why = QStringLiteral("\"%1\" is not a decimal byte count").arg(Key(key));
                return std::nullopt;
            }
        }
    }
    if (row.contains(Key("reason"))) {
        if (!row.value(Key("reason")).isString()) {
            why = QStringLiteral("\"reason\" is not text");
            return std::nullopt;
        }
        record.reason = row.value(Key("reason")).toString();
    }
    why = CDownloadListStore::RecordProblem(record);
    return why.isEmpty() ? std::optional(record) : std::nullopt;
}

// The rows of a whole file, or the reason it is refused.
std::optional<QList<CDownloadRecord>> ReadList(const QByteArray& bytes, QString& why)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        why = QStringLiteral("is not JSON (%1 at byte %2)")
                  .arg(parseError.errorString())
                  .arg(parseError.offset);
        return std::nullopt;
    }
    const QJsonObject top = document.object();
    if (!document.isObject() || top.value(Key("format")) != Key(CDownloadListStore::kFormat)) {
        why = QStringLiteral("is not a Quillmoor download list");
        return std::nullopt;
    }
    // A later version may mean rows this one would misread: kept aside like a damaged file.
    const qint64 version = CDownloadListStore::kVersion;
    if (ReadWhole(top.value(Key("version")), version, version) != version) {
        why = QStringLiteral("is not of version %1").arg(version);
        return std::nullopt;
    }
    if (!top.value(Key("rows")).isArray()) {
        why = QStringLiteral("has no list of rows");
        return std::nullopt;
    }
    const QJsonArray rows = top.value(Key("rows")).toArray();
    QList<CDownloadRecord> records;
    records.reserve(rows.size());
    for (qsizetype i = 0; i < rows.size(); ++i) {
        QString rowWhy;
        auto record = ReadRow(rows.at(i), rowWhy);
        if (!record) {
            why = QStringLiteral("has a bad row %1: %2").arg(i + 1).arg(rowWhy);
            return std::nullopt;
        }
        records << std::move(*record);
    }
    return records;
}

QJsonObject WriteRow(const CDownloadRecord& record)
{
    QJsonObject row{{Key("name"), record.name},
                    {Key("path"), record.path},
                    {Key("url"), record.url},
                    {Key("format"), record.format},
                    {Key("status"), record.status}};
    if (record.percent)
        row.insert(Key("percent"), *record.percent);
    if (record.total)
        row.insert(Key("total"), QString::number(*record.total));
    if (record.received)
        row.insert(Key("received"), QString::number(*record.received));
    if (!record.reason.isEmpty())
        row.insert(Key("reason"), record.reason);
    return row;
}

} // namespace

QString CDownloadListStore::DefaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/downloads.json");
}

CDownloadListStore::CDownloadListStore(QString path) : m_path(std::move(path)) {}

QString CDownloadListStore::RecordProblem(const CDownloadRecord& record)
{
    if (record.name.isEmpty() || record.path.isEmpty())
        return QStringLiteral("no name or no path");
    if (record.format < int(OutputFormat::Flv) || record.format > int(OutputFormat::Mp3))
        return QStringLiteral("format %1 is not one of 0 to 7").arg(record.format);
    // A paused row has ended too: it comes back to be resumed.
    if (record.status != IDS_COMPLETED && record.status != IDS_CONVERSION_COMPLETED &&
        record.status != IDS_FAILED && record.status != IDS_PAUSED)
        return QStringLiteral("status %1 is not a finished one").arg(record.status);
    if (record.percent && (*record.percent < 0 || *record.percent > kMaxPercent))
        return QStringLiteral("percent %1 is out of range").arg(*record.percent);
    return {};
}

QList<CDownloadRecord> CDownloadListStore::Load(QString* problem)
{
    const auto refuse = [this, problem](const QString& why) {
        const QString told = SetAside(why);
        if (problem)
            *problem = told;
        return QList<CDownloadRecord>();
    };
    if (problem)
        problem->clear();
    QFile file(m_path);
    if (!file.exists())
        return {};
    if (!file.open(QIODevice::ReadOnly))
        return refuse(QStringLiteral("cannot be read: %1").arg(file.errorString()));
    if (file.size() > kMaxFileSize)
        return refuse(QStringLiteral("is larger than %1 bytes").arg(kMaxFileSize));
    // One byte past the limit, so that a file grown since the size check is refused too.
    const QByteArray bytes = file.read(kMaxFileSize + 1);
    if (bytes.size() > kMaxFileSize)
        return refuse(QStringLiteral("is larger than %1 bytes").arg(kMaxFileSize));
    if (file.error() != QFileDevice::NoError)
        return refuse(QStringLiteral("cannot be read: %1").arg(file.errorString()));
    file.close();
    QString why;
    auto records = ReadList(bytes, why);
    if (!records)
        return refuse(why);
    m_damagedInPlace = false;
    return *records;
}

QString CDownloadListStore::SetAside(const QString& why)
{
    const QString stem = m_path + QStringLiteral(".damaged-") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = stem;
    for (int n = 2; n <= kMaxAsideNames + 1; ++n) {
        // QFile::rename never replaces an existing file.
        QFile file(m_path);
        if (file.rename(aside)) {
            m_damagedInPlace = false;
            return QStringLiteral("%1 %2; kept as %3").arg(m_path, why, aside);
        }
        if (!QFileInfo::exists(aside)) {
            m_damagedInPlace = true;
            return QStringLiteral("%1 %2; it could not be renamed to %3: %4")
                .arg(m_path, why, aside, file.errorString());
        }
        aside = stem + u'-' + QString::number(n);
    }
    m_damagedInPlace = true;
    return QStringLiteral("%1 %2; every name for keeping it aside is taken").arg(m_path, why);
}

bool CDownloadListStore::Save(const QList<CDownloadRecord>& records, QString* error)
{
    const auto fail = [this, error](const QString& why) {
        if (error)
            *error = QStringLiteral("Cannot save the download list to %1: %2").arg(m_path, why);
        return false;
    };
    if (m_damagedInPlace) {
        const QString told = SetAside(QStringLiteral("is damaged"));
        if (m_damagedInPlace)
            return fail(told);
    }
    QJsonArray rows;
    for (qsizetype i = 0; i < records.size(); ++i) {
        const QString problem = RecordProblem(records.at(i));
        if (!problem.isEmpty())
            return fail(
                QStringLiteral("row %1 (%2): %3").arg(i + 1).arg(records.at(i).name, problem));
        rows.append(WriteRow(records.at(i)));
    }
    const QJsonObject top{
        {Key("format"), Key(kFormat)}, {Key("version"), kVersion}, {Key("rows"), rows}};
    std::error_code folderError;
    std::filesystem::create_directories(
        QFile::encodeName(QFileInfo(m_path).absolutePath()).toStdString(), folderError);
    if (folderError)
        return fail(QStringLiteral("cannot create its folder: %1")
                        .arg(QString::fromStdString(folderError.message())));
    QSaveFile file(m_path);
    // Unbuffered: Qt 6.4's QSaveFile commits a file whose buffered tail could not be written,
    // so every write is checked here, and a short one is tried again for the system's reason.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return fail(file.errorString());
    const QByteArray bytes = QJsonDocument(top).toJson(QJsonDocument::Indented);
    for (qint64 done = 0; done < bytes.size();) {
        const qint64 written = file.write(bytes.constData() + done, bytes.size() - done);
        if (written <= 0) {
            const QString why = file.errorString();
            file.cancelWriting();
            return fail(why);
        }
        done += written;
    }
    if (!file.commit())
        return fail(file.errorString());
    return true;
}
