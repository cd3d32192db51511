// Start and stop of the HTTP(S) server behind a Simulator.
#include "simulator_p.h"

#include "simtls.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <signal.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace devicesim {

namespace {

constexpr size_t kKeepAliveRequests = 100000;
constexpr time_t kKeepAliveSeconds = 5;

// Writing to a connection that the client already closed must fail, not end the process.
void ignoreBrokenPipes()
{
    struct sigaction current = {};
    if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
        signal(SIGPIPE, SIG_IGN);
}

// The library keeps no handle on accepted connections, and a worker waiting on an idle keep-alive connection
// only looks at the stop request after the keep-alive time-out. Shutting the sockets down wakes it at once.
void shutdownAcceptedConnections(quint16 iPort)
{
    DIR *pDir = opendir("/proc/self/fd");
    if (!pDir)
        return;
    while (const dirent *pEntry = readdir(pDir)) {
        bool bNumber = false;
        const int iFd = QByteArray(pEntry->d_name).toInt(&bNumber);
        if (!bNumber || iFd == dirfd(pDir))
            continue;
        sockaddr_in address = {};
        socklen_t iAddressSize = sizeof address;
        if (getsockname(iFd, reinterpret_cast<sockaddr *>(&address), &iAddressSize) != 0 ||
            address.sin_family != AF_INET || ntohs(address.sin_port) != iPort)
            continue;
        int iListening = 0;
        socklen_t iOptionSize = sizeof iListening;
        if (getsockopt(iFd, SOL_SOCKET, SO_ACCEPTCONN, &iListening, &iOptionSize) == 0 && !iListening)
            shutdown(iFd, SHUT_RDWR);
    }
    closedir(pDir);
}

// Records the application protocols a client offers (ALPN) and agrees on HTTP/1.1, the only one devices
// speak; a client that offers nothing else gets no protocol named and speaks HTTP/1.1 all the same.
int selectProtocol(SSL *, const unsigned char **ppOut, unsigned char *pOutSize, const unsigned char *pIn,
                   unsigned int iInSize, void *pArg)
{
    QList<QByteArray> lOffered;
    int iChosen = -1;
    for (unsigned int i = 0; i < iInSize && i + 1 + pIn[i] <= iInSize; i += 1 + pIn[i]) {
        lOffered.append(QByteArray(reinterpret_cast<const char *>(pIn + i + 1), pIn[i]));
        if (lOffered.last() == "http/1.1")
            iChosen = int(i);
    }
    auto *pOffers = static_cast<ProtocolOffers *>(pArg);
    {
        QMutexLocker locker(&pOffers->mutex);
        pOffers->lOffers.append(lOffered.join(','));
    }
    if (iChosen < 0)
        return SSL_TLSEXT_ERR_NOACK;
    *ppOut = pIn + iChosen + 1;
    *pOutSize = pIn[iChosen];
    return SSL_TLSEXT_ERR_OK;
}

std::unique_ptr<httplib::Server> makeServer(bool bTls, ProtocolOffers *pOffers)
{
    if (!bTls)
        return std::make_unique<httplib::Server>();
    const TlsIdentity identity = makeSelfSignedIdentity();
    if (!identity.isValid())
        return nullptr;
    // The server's TLS context takes its own references on the certificate and the key.
    auto pServer = std::make_unique<httplib::SSLServer>(identity.pCertificate.get(), identity.pKey.get());
    if (pServer->is_valid())
        SSL_CTX_set_alpn_select_cb(pServer->ssl_context(), selectProtocol, pOffers);
    return pServer;
}

} // namespace

bool Simulator::start()
{
    if (d->pServer)
        return true;
    ignoreBrokenPipes();
    std::unique_ptr<httplib::Server> pServer = makeServer(d->options.tls, &d->protocolOffers);
    if (!pServer || !pServer->is_valid()) {
        d->sError = QStringLiteral("cannot set up the server");
        return false;
    }

    // The library's own pool is fixed at a few threads; hanging handlers would starve every other request.
    const size_t iThreads = size_t(qMax(1, d->options.threads));
    pServer->new_task_queue = [iThreads] { return new httplib::ThreadPool(iThreads); };
    pServer->set_keep_alive_max_count(kKeepAliveRequests);
    pServer->set_keep_alive_timeout(kKeepAliveSeconds);
    // Headers and body go out in separate writes; without this, delayed ACKs add 40 ms to every reply.
    pServer->set_tcp_nodelay(true);
    // The library's default is SO_REUSEPORT, with which a second simulator shares a busy port and takes
    // half of its connections. SO_REUSEADDR only lets a port in TIME_WAIT be bound again.
    pServer->set_socket_options([](int iSocket) {
        const int iYes = 1;
        setsockopt(iSocket, SOL_SOCKET, SO_REUSEADDR, &iYes, sizeof iYes);
    });

    Private *pPrivate = d.get();
    const auto plain = [pPrivate](const httplib::Request &req, httplib::Response &res) {
        pPrivate->serve(req, res, nullptr);
    };
    const auto withBody = [pPrivate](const httplib::Request &req, httplib::Response &res,
                                     const httplib::ContentReader &reader) {
        pPrivate->serve(req, res, &reader);
    };
    pServer->Get(".*", plain);
    pServer->Options(".*", plain);
    pServer->Post(".*", withBody);
    pServer->Put(".*", withBody);
    pServer->Patch(".*", withBody);
    pServer->Delete(".*", withBody);

    errno = 0;
    int iPort = d->options.port;
    if (iPort == 0)
        iPort = pServer->bind_to_any_port("127.0.0.1");
    else if (!pServer->bind_to_port("127.0.0.1", iPort))
        iPort = -1;
    if (iPort <= 0) {
        // The library closes the socket after the failed bind or listen, which leaves errno as they set it.
        d->sError = errno != 0 ? QString::fromLocal8Bit(std::strerror(errno)) : QStringLiteral("cannot bind");
        return false;
    }
    d->sError.clear();

    d->bStopping = false;
    d->iPort = quint16(iPort);
    httplib::Server *pListening = pServer.get();
    auto pEnded = std::make_shared<std::atomic<bool>>(false);
    d->listener = std::thread([pListening, pEnded] {
        pListening->listen_after_bind();
        *pEnded = true;
    });
    // stop() is only heard once the accept loop runs.
    while (!pListening->is_running() && !*pEnded)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    d->pServer = std::move(pServer);
    return true;
}

void Simulator::stop()
{
    if (!d->pServer)
        return;
    {
        QMutexLocker locker(&d->mutex);
        d->bStopping = true;
        d->wakeUp.wakeAll();
    }
    d->pServer->stop();
    shutdownAcceptedConnections(d->iPort);
    d->listener.join();
    d->pServer.reset();
}

} // namespace devicesim
