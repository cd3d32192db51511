// The two hosts the benchmark compares: one that loads the plugin as a host does, and one that calls
// QNetworkAccessManager::get() itself for the same URLs. Both ask for device info, or for a snapshot of
// channel 1, and report each answer with whether it is what the device serves.
#pragma once

#include "tickgate.h"

#include <QByteArray>
#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPluginLoader>
#include <QStringList>

#include <atomic>
#include <functional>

class DeviceApiInterface;

class LoadClient
{
public:
    virtual ~LoadClient() = default;
    // Sends (or queues) request iRequest to the device at index iDevice of the client's list.
    virtual void send(int iRequest, int iDevice, bool bSnapshot) = 0;
    // Answers that belong to no request still waiting for one: duplicates or strays. Thread-safe.
    virtual int unexpectedAnswers() const { return 0; }

    std::function<void(int iRequest, bool bOk)> answered;
};

// Devices answer info and snapshots the same way everywhere; both clients check that they did.
bool isExpectedInfo(const QByteArray &baJson);
bool isExpectedSnapshot(const QByteArray &baJpeg);
QByteArray basicAuthorization();

class ReferenceClient : public QObject, public LoadClient
{
public:
    // bTick: requests wait for the next tick of a 100 ms host timer, as the plugin's do. iTransferTimeoutMs:
    // each request gets Qt's inactivity time-out (a timer per reply), as the plugin's do; 0: none.
    ReferenceClient(const QStringList &lUrls, bool bTick, int iTransferTimeoutMs = 0);
    void send(int iRequest, int iDevice, bool bSnapshot) override;

private:
    void prGet(int iRequest, int iDevice, bool bSnapshot);

    QNetworkAccessManager manager;
    QStringList lUrls;
    QByteArray baAuthorization;
    TickGate gate;
    int iTransferTimeoutMs;
};

class PluginClient : public QObject, public LoadClient
{
public:
    explicit PluginClient(const QString &sPluginPath);
    ~PluginClient() override;
    bool isLoaded() const { return pApi != nullptr; }
    QString errorString() const { return loader.errorString(); }
    DeviceApiInterface *api() const { return pApi; }
    // Device i gets the id "i".
    void registerDevices(const QStringList &lUrls);
    void send(int iRequest, int iDevice, bool bSnapshot) override;
    int unexpectedAnswers() const override { return iUnexpected; }
    qint64 logLines() const { return iLogLines; }

private:
    struct Sent
    {
        int iRequest;
        bool bSnapshot;
    };
    void onResponse(const QString &sUuid, int iError, const QVariantList &lResult);

    QPluginLoader loader;
    DeviceApiInterface *pApi = nullptr;
    QHash<QString, Sent> hSent;
    std::atomic<int> iUnexpected{0}; // read by a watchdog thread
    qint64 iLogLines = 0;
};
