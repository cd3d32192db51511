// Server side of HTTP Basic and Digest (MD5, qop="auth") authentication for one device.
#pragma once

#include "devicesim.h"

#include <QByteArray>
#include <QQueue>
#include <QSet>

namespace devicesim {

// Nonces a device handed out. A Digest answer is accepted for any of them for the device's lifetime, because
// clients keep one nonce per connection and only raise the nonce count.
class NonceBook
{
public:
    QByteArray issue();
    bool contains(const QByteArray &baNonce) const { return hIssued.contains(baNonce); }

private:
    QSet<QByteArray> hIssued;
    QQueue<QByteArray> lOrder;
};

struct AuthRealm
{
    AuthMode mode = AuthMode::None;
    QString sUser;
    QString sPassword;
    QByteArray baRealm;
    QByteArray baOpaque;
};

bool isAuthorized(const AuthRealm &realm, const NonceBook &nonces, const QByteArray &baMethod,
                  const QByteArray &baTarget, const QByteArray &baAuthorization);

// Value of WWW-Authenticate with a fresh nonce; a device without authentication challenges with Basic.
QByteArray challenge(const AuthRealm &realm, NonceBook &nonces);

} // namespace devicesim
