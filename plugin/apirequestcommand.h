#ifndef APIREQUESTCOMMAND_H
#define APIREQUESTCOMMAND_H

#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>

// The record of one request. Always held through QSharedPointer, which alone decides its life (no QObject
// parent: removing one of many children from a parent costs a scan of all of them). Its identifier never
// changes, also not when the request moves on to the second step of a two-step command.
class ApiRequestCommand : public QObject
{
    Q_OBJECT

public:
    ApiRequestCommand(QString sUuid, QString sDeviceId, QString sCommand, QList<QVariant> lParam,
                      QObject *parent = nullptr);

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
