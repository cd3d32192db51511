#include "networkhandlerkestrol.h"

#include <QNetworkAccessManager>

// Placeholder until the transport lands.
NetworkHandlerKestrol::NetworkHandlerKestrol(QNetworkAccessManager *pManager, QObject *parent)
    : QObject(parent), pNetworkAccessManager(pManager)
{
}
NetworkHandlerKestrol::~NetworkHandlerKestrol() = default;
void NetworkHandlerKestrol::prRequestGetCommand(QString, QString, QString, QString, QString,
                                                QHash<QString, QString>)
{
}
void NetworkHandlerKestrol::prRequestPutCommand(QString, QString, QString, QString, QString, QString,
                                                QHash<QString, QString>)
{
}
void NetworkHandlerKestrol::prRequestPostCommand(QString, QString, QString, QString, QString, QString,
                                                 QString, QHash<QString, QString>)
{
}
void NetworkHandlerKestrol::renew() {}
void NetworkHandlerKestrol::connectReply(QNetworkReply *) {}
