#include "simauth.h"

#include <QCryptographicHash>
#include <QHash>
#include <QRandomGenerator>

namespace devicesim {

namespace {

constexpr int kMaxNonces = 4096;

QByteArray md5Hex(const QByteArray &baText)
{
    return QCryptographicHash::hash(baText, QCryptographicHash::Md5).toHex();
}

QByteArray randomHex(int iBytes)
{
    QByteArray baRandom(iBytes, Qt::Uninitialized);
    for (char &c : baRandom)
        c = char(QRandomGenerator::system()->bounded(256));
    return baRandom.toHex();
}

bool startsWithScheme(const QByteArray &baAuthorization, const QByteArray &baScheme)
{
    return baAuthorization.size() > baScheme.size() &&
           baAuthorization.left(baScheme.size()).toLower() == baScheme &&
           baAuthorization.at(baScheme.size()) == ' ';
}

// key=value pairs separated by commas; values may be quoted and then hold commas (a uri with a query does).
QHash<QByteArray, QByteArray> parseDigestParams(const QByteArray &baText)
{
    QHash<QByteArray, QByteArray> hParams;
    int i = 0;
    const int iSize = baText.size();
    while (i < iSize) {
        while (i < iSize && (baText[i] == ' ' || baText[i] == ','))
            ++i;
        const int iEq = baText.indexOf('=', i);
        if (iEq < 0)
            break;
        const QByteArray baKey = baText.mid(i, iEq - i).trimmed().toLower();
        i = iEq + 1;
        while (i < iSize && baText[i] == ' ')
            ++i;
        QByteArray baValue;
        if (i < iSize && baText[i] == '"') {
            for (++i; i < iSize && baText[i] != '"'; ++i) {
                if (baText[i] == '\\' && i + 1 < iSize)
                    ++i;
                baValue.append(baText[i]);
            }
            ++i;
        } else {
            const int iComma = baText.indexOf(',', i);
            const int iEnd = iComma < 0 ? iSize : iComma;
            baValue = baText.mid(i, iEnd - i).trimmed();
            i = iEnd;
        }
        hParams.insert(baKey, baValue);
    }
    return hParams;
}

bool isBasicAuthorized(const AuthRealm &realm, const QByteArray &baAuthorization)
{
    if (!startsWithScheme(baAuthorization, "basic"))
        return false;
    const QByteArray baDecoded = QByteArray::fromBase64(baAuthorization.mid(6).trimmed());
    return baDecoded == realm.sUser.toUtf8() + ':' + realm.sPassword.toUtf8();
}

bool isDigestAuthorized(const AuthRealm &realm, const NonceBook &nonces, const QByteArray &baMethod,
                        const QByteArray &baTarget, const QByteArray &baAuthorization)
{
    if (!startsWithScheme(baAuthorization, "digest"))
        return false;
    const QHash<QByteArray, QByteArray> hParams = parseDigestParams(baAuthorization.mid(7));
    const QByteArray baAlgorithm = hParams.value("algorithm", "MD5").toUpper();
    const QByteArray baNonce = hParams.value("nonce");
    // The HTTP library hands header values over percent-decoded, so the uri is compared in decoded form and
    // the hash is taken over the request target, which is what the client put into it.
    if (hParams.value("username") != realm.sUser.toUtf8() || hParams.value("realm") != realm.baRealm ||
        baAlgorithm != "MD5" || !nonces.contains(baNonce) ||
        hParams.value("uri") != QByteArray::fromPercentEncoding(baTarget))
        return false;

    const QByteArray baHa1 =
        md5Hex(realm.sUser.toUtf8() + ':' + realm.baRealm + ':' + realm.sPassword.toUtf8());
    const QByteArray baHa2 = md5Hex(baMethod + ':' + baTarget);
    const QByteArray baQop = hParams.value("qop");
    QByteArray baExpected;
    if (baQop.isEmpty())
        baExpected = md5Hex(baHa1 + ':' + baNonce + ':' + baHa2);
    else if (baQop == "auth")
        baExpected = md5Hex(baHa1 + ':' + baNonce + ':' + hParams.value("nc") + ':' +
                            hParams.value("cnonce") + ':' + baQop + ':' + baHa2);
    else
        return false;
    return hParams.value("response").toLower() == baExpected;
}

} // namespace

QByteArray NonceBook::issue()
{
    const QByteArray baNonce = randomHex(16);
    hIssued.insert(baNonce);
    lOrder.enqueue(baNonce);
    if (lOrder.size() > kMaxNonces)
        hIssued.remove(lOrder.dequeue());
    return baNonce;
}

bool isAuthorized(const AuthRealm &realm, const NonceBook &nonces, const QByteArray &baMethod,
                  const QByteArray &baTarget, const QByteArray &baAuthorization)
{
    switch (realm.mode) {
    case AuthMode::None:
        return true;
    case AuthMode::Basic:
        return isBasicAuthorized(realm, baAuthorization);
    case AuthMode::Digest:
        return isDigestAuthorized(realm, nonces, baMethod, baTarget, baAuthorization);
    }
    return false;
}

QByteArray challenge(const AuthRealm &realm, NonceBook &nonces)
{
    if (realm.mode != AuthMode::Digest)
        return "Basic realm=\"" + realm.baRealm + '"';
    return "Digest realm=\"" + realm.baRealm + "\", qop=\"auth\", algorithm=MD5, nonce=\"" + nonces.issue() +
           "\", opaque=\"" + realm.baOpaque + '"';
}

} // namespace devicesim
