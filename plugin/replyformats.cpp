#include "replyformats.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QVector>

namespace {

// A JSON string's text from its opening quote on, escapes resolved as a parser does; iAt ends after the
// closing quote.
QString jsonString(const QByteArray &baJson, int &iAt)
{
    QString sText;
    QByteArray baRun; // bytes since the last escape
    for (++iAt; iAt < baJson.size() && baJson.at(iAt) != '"'; ++iAt) {
        if (baJson.at(iAt) != '\\' || iAt + 1 == baJson.size()) {
            baRun += baJson.at(iAt);
            continue;
        }
        sText += QString::fromUtf8(baRun);
        baRun.clear();
        const char cEscape = baJson.at(++iAt);
        if (cEscape == 'u') {
            // UTF-16 code units: an escaped surrogate pair becomes the same text as the character itself.
            sText += QChar(baJson.mid(iAt + 1, 4).toUShort(nullptr, 16));
            iAt += 4;
        } else {
            static const QByteArray baFrom = "bfnrt", baTo = "\b\f\n\r\t";
            const int iIndex = baFrom.indexOf(cEscape);
            sText += QLatin1Char(iIndex < 0 ? cEscape : baTo.at(iIndex));
        }
    }
    ++iAt;
    return sText + QString::fromUtf8(baRun);
}

// Whether an object of the text names a member twice. Qt 5.15's parser keeps the last of such members and
// never frees an object or array it drops, so a device could make the host lose memory with every reply.
bool hasRepeatedMember(const QByteArray &baJson)
{
    struct Level
    {
        bool bObject;
        bool bNameNext;
        QSet<QString> setNames;
    };
    QVector<Level> vLevels;
    for (int i = 0; i < baJson.size();) {
        const char c = baJson.at(i);
        if (c == '"') {
            const QString sText = jsonString(baJson, i);
            if (!vLevels.isEmpty() && vLevels.last().bNameNext) {
                Level &level = vLevels.last();
                if (level.setNames.contains(sText))
                    return true;
                level.setNames.insert(sText);
                level.bNameNext = false;
            }
            continue;
        }
        // Deeper than Qt's parser goes: the text is not read at all.
        if ((c == '{' || c == '[') && vLevels.size() == 1024)
            return false;
        if (c == '{' || c == '[')
            vLevels.append({c == '{', c == '{', {}});
        else if ((c == '}' || c == ']') && !vLevels.isEmpty())
            vLevels.removeLast();
        else if (c == ',' && !vLevels.isEmpty())
            vLevels.last().bNameNext = vLevels.last().bObject;
        ++i;
    }
    return false;
}

// The body as JSON; a body that names a member twice is read as one that is not JSON.
QJsonDocument jsonDocument(const QByteArray &baJson)
{
    return hasRepeatedMember(baJson) ? QJsonDocument() : QJsonDocument::fromJson(baJson);
}

QJsonArray bodyTextArray(const QByteArray &baBody, bool &bArray)
{
    const QJsonDocument document = jsonDocument(ReplyFormats::bodyText(baBody).toUtf8());
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
    const QJsonObject info = jsonDocument(baBody).object();
    return {{QStringLiteral("API_FW"), info.value(QLatin1String("swver")).toString()},
            {QStringLiteral("API_MAC"), info.value(QLatin1String("mac")).toString()}};
}

QString ReplyFormats::exportLocation(const QByteArray &baBody)
{
    return jsonDocument(baBody).object().value(QLatin1String("url")).toString();
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
