#ifndef APIREQUESTCOMMAND_H
#define APIREQUESTCOMMAND_H

#include <QList>
#include <QString>
#include <QVariant>

// The record of one request. Always held through QSharedPointer, which alone decides its life. Not a QObject:
// nothing connects to it or casts it, and a QObject would cost every request its private data and the
// bookkeeping of a shared pointer to a QObject. Its identifier never changes, also not when the request
// moves on to the second step of a two-step command.
class ApiRequestCommand
{
public:
    ApiRequestCommand(QString sUuid, QString sDeviceId, QString sCommand, QList<QVariant> lParam);

    void setCommand(QString sValue) { sCommand = std::move(sValue); }
    void replaceParams(QList<QVariant> lValue) { lParam = std::move(lValue); }
    void setHttpsChange(bool bValue) { bHttpsChange = bValue; }
    bool isHttpsChanged() const { return bHttpsChange; }

    QString sUuid;
    QString sDeviceId;
    QString sCommand;
    QList<QVariant> lParam;
    bool bHttpsChange = false;
    // Made or moved on by the plugin itself; only such a request may carry an internal command name.
    bool bInternal = false;
    // The URL of the HTTP request last sent for it.
    QString sRequestUrl;
};

#endif // APIREQUESTCOMMAND_H
