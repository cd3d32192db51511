#ifndef DEVICE_H
#define DEVICE_H

#include <QObject>
#include <QString>

// What the host gives for one device: its id, base URL and credentials.
class Device : public QObject
{
    Q_OBJECT

public:
    Device(QString sId, QString sUrl, QString sUser, QString sPassword, QObject *parent = nullptr);

    QString getId() const { return sId; }
    QString getUrl() const { return sUrl; }
    QString getUser() const { return sUser; }
    QString getPassword() const { return sPassword; }

    void setId(const QString &sValue) { sId = sValue; }
    void setUrl(const QString &sValue) { sUrl = sValue; }
    void setUser(const QString &sValue) { sUser = sValue; }
    void setPassword(const QString &sValue) { sPassword = sValue; }

protected:
    QString sId;
    QString sUrl;
    QString sUser;
    QString sPassword;
};

#endif // DEVICE_H
