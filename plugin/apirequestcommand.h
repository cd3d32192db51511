#ifndef APIREQUESTCOMMAND_H
#define APIREQUESTCOMMAND_H

#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>

// The record of one request from the host. Always held through QSharedPointer; its identifier never
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
};

#endif // APIREQUESTCOMMAND_H
