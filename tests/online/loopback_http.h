// A small HTTP server on the loopback interface for the online tests: it
// records each request whole and answers by path, so no test reaches the
// outside network. Single-threaded on the test's event loop; waitFor() turns
// the loop while a test waits.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHash>
#include <QList>
#include <QMap>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <functional>

namespace parlune::test {

// Turns the event loop until done() holds or timeoutMs passed (a guard
// against hanging, not a measure); false on time-out.
inline bool waitFor(const std::function<bool()>& done, int timeoutMs = 10000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) return false;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

// Turns the event loop for about ms milliseconds.
inline void spin(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

struct HttpRequest {
    QByteArray method;
    QByteArray target;                     // path and query as sent
    QMap<QByteArray, QByteArray> headers;  // names in lower case
    QByteArray body;
};

struct HttpResponse {
    enum class Mode {
        Whole,     // status, Content-Length and the whole body
        CutShort,  // Content-Length of the whole body, then only cutAfter bytes and a close
        Silent,    // reads the request and never answers
        Stall,     // like CutShort, but keeps the connection open instead
    };
    int status = 200;
    QByteArray body;
    Mode mode = Mode::Whole;
    int cutAfter = 0;
};

class LoopbackHttp {
public:
    LoopbackHttp() {
        server_.listen(QHostAddress::LocalHost);
        QObject::connect(&server_, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, [this, socket] { read(socket); });
                QObject::connect(socket, &QTcpSocket::disconnected,
                                 [this, socket] { pending_.remove(socket); });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }

    bool listening() const { return server_.isListening(); }
    QString url(const QString& path) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(server_.serverPort()).arg(path);
    }
    // A path without a route answers 404.
    void route(const QByteArray& path, HttpResponse response) { routes_[path] = response; }
    const QList<HttpRequest>& requests() const { return requests_; }

    // An address on which nothing listens: connections are refused.
    static QString refusingUrl(const QString& path) {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        const quint16 port = probe.serverPort();
        probe.close();
        return QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path);
    }

private:
    // One request per connection: every answer closes it.
    void read(QTcpSocket* socket) {
        QByteArray& buffer = pending_[socket];
        buffer += socket->readAll();
        {
            const int headerEnd = buffer.indexOf("\r\n\r\n");
            if (headerEnd < 0) return;
            HttpRequest request;
            const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
            const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
            request.method = first.value(0);
            request.target = first.value(1);
            for (int i = 1; i < lines.size(); ++i) {
                const int colon = lines[i].indexOf(':');
                if (colon > 0)
                    request.headers[lines[i].left(colon).trimmed().toLower()] =
                        lines[i].mid(colon + 1).trimmed();
            }
            const int length = request.headers.value("content-length", "0").toInt();
            if (buffer.size() < headerEnd + 4 + length) return;
            request.body = buffer.mid(headerEnd + 4, length);
            pending_.remove(socket);  // the answer may close the socket at once
            requests_ << request;
            answer(socket, request);
        }
    }

    void answer(QTcpSocket* socket, const HttpRequest& request) {
        const QByteArray path = request.target.left(
            request.target.indexOf('?') < 0 ? request.target.size() : request.target.indexOf('?'));
        const HttpResponse response = routes_.value(path, HttpResponse{404, "not here"});
        if (response.mode == HttpResponse::Mode::Silent) return;
        QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) +
                          (response.status == 200 ? " OK" : " Failed") +
                          "\r\nContent-Length: " + QByteArray::number(response.body.size()) +
                          "\r\nConnection: close\r\n\r\n";
        const bool partly = response.mode == HttpResponse::Mode::CutShort ||
                            response.mode == HttpResponse::Mode::Stall;
        socket->write(head + (partly ? response.body.left(response.cutAfter) : response.body));
        socket->flush();
        if (response.mode != HttpResponse::Mode::Stall) socket->disconnectFromHost();
    }

    QHash<QTcpSocket*, QByteArray> pending_;
    QHash<QByteArray, HttpResponse> routes_;
    QList<HttpRequest> requests_;
    // Last, so it goes first: its sockets still reach pending_ as they close.
    QTcpServer server_;
};

}  // namespace parlune::test
