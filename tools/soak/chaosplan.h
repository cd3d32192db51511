// What the soak does to the plugin: the fault kinds its devices show, the commands it submits, and which
// completion codes each kind may answer.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantList>

namespace ChaosPlan {

// How a kind's devices are registered with the plugin.
enum class Address
{
    Device,      // the simulated device's own base URL
    HttpsOnHttp, // https:// towards a plain HTTP simulator: every TLS handshake fails
    WrongPin,    // the device's HTTPS URL with a pin of another certificate
    WrongPass,   // the device's URL with a password it refuses
    FileUrl,     // a file:// URL, which the plugin must never open
    Alternating, // churned: deleted, created again and changed between simulators while in use
};

struct Kind
{
    const char *pcName;
    // The fault every API path of the kind's devices shows (a JSON object for the simulator); empty: none
    // (see faultOf()).
    QByteArray baFault;
    Address address;
    // Completion codes the kind's requests may be answered with, as a bit per code: 0, 101, 103.
    int iAllowed;
    int iWeight; // devices of this kind among every 23
    // Stalls or cuts the connections it uses. Real devices each have their own connections; on the shared
    // simulators such a kind gets simulators of its own, so that its neighbours' answers stay their own
    // (Qt, for one, fails requests queued for an HTTPS connection that the server closed mid-body).
    bool bRough = false;
};

constexpr int kCode0 = 1, kCode101 = 2, kCode103 = 4;

// Every fault kind; the last row is the host's own bad input, which no device answers.
const QList<Kind> &kinds();
int hostileKind();
// The fault of a kind for a run in which the plugin gives up on a silent transfer after iTimeoutMs.
QByteArray faultOf(int iKind, int iTimeoutMs);

// The kinds that devices are given, each as often as its weight says; lNames: only these (empty: all).
// Empty when a name is unknown.
QList<int> deviceSlots(const QStringList &lNames);
// Kind of device index i among the slots, spread so that each kind meets every simulator.
int kindOfDevice(const QList<int> &lSlots, int iDevice);

// Every API path of a device, as the simulator's faults name them.
const QList<QByteArray> &apiPaths();

struct Command
{
    QString sName;
    QVariantList lParam;
    // The host may index element 0 of the answer whatever the code.
    bool bOneElement = false;
    // A settings backup whose file the soak removes once answered.
    bool bBackup = false;
};

struct Files
{
    QString sFirmware;  // upload for API_CMD_FIRMWARE_UPDATE
    QString sSettings;  // upload for API_CMD_SETTINGS_LOAD
    QString sBackupDir; // destination of API_CMD_SETTINGS_SAVE, with a trailing "/"
    QString sForbidden; // a path the host never asked to write; it must not appear
};

// A command for a device, chosen by iDraw (any non-negative number) in the mix's proportions.
Command deviceCommand(int iDraw, const Files &files);
// Bad input of the host: unknown commands, internal steps, missing or unusable parameters, unknown devices.
// The device id may be replaced (unknown device).
Command hostileCommand(int iDraw, const Files &files, QString *psDeviceId);

} // namespace ChaosPlan
