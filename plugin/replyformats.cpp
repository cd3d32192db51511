#include "replyformats.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QJsonArray bodyTextArray(const QByteArray &baBody, bool &bArray)
{
    const QJsonDocument document = QJsonDocument::fromJson(ReplyFormats::bodyText(baBody).toUtf8());
    bArray = document.isArray();
    return document.array();
}

bool isTimeMember(const QString &sKey)
{
    const QString sLower = sKey.toLower();
    return sLower == QLatin1String("datetime") || sLower == QLatin1String("timestamp");
}

} // namespace

QString ReplyFormats::bodyText(const QByteArray &baBody)
{
    const int iEnd = baBody.indexOf('\0');
    return QString::fromUtf8(iEnd < 0 ? baBody : baBody.left(iEnd));
}

QVariantMap ReplyFormats::deviceInfo(const QByteArray &baBody)
{
    const QJsonObject info = QJsonDocument::fromJson(baBody).object();
    return {{QStringLiteral("API_FW"), info.value(QLatin1String("swver")).toString()},
            {QStringLiteral("API_MAC"), info.value(QLatin1String("mac")).toString()}};
}

QString ReplyFormats::exportLocation(const QByteArray &baBody)
{
    return QJsonDocument::fromJson(baBody).object().value(QLatin1String("url")).toString();
}

ReplyFormats::CounterValues ReplyFormats::counterValues(const QByteArray &baBody, const QString &sCounter)
{
    CounterValues values;
    const QJsonArray lRows = bodyTextArray(baBody, values.bArray);
    const QJsonArray lValues =
        lRows.isEmpty() ? QJsonArray() : lRows.first().toObject().value(sCounter).toArray();
    for (const QJsonValue &value : lValues)
        values.lValues.append(QString::number(value.toInt(0)));
    return values;
}

QStringList ReplyFormats::counterNames(const QByteArray &baBody)
{
    bool bArray = false;
    const QJsonArray lRows = bodyTextArray(baBody, bArray);
    QStringList lNames;
    if (lRows.isEmpty())
        return lNames;
    const QStringList lKeys = lRows.first().toObject().keys();
    for (const QString &sKey : lKeys) {
        if (!isTimeMember(sKey))
            lNames.append(sKey);
    }
    return lNames;
}

bool ReplyFormats::isJpeg(const QByteArray &baBody)
{
    return baBody.startsWith(QByteArrayLiteral("\xFF\xD8\xFF"));
}
