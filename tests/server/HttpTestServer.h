#pragma once

// A small HTTP server on loopback for the download tests. It serves on the thread that made it,
// so that thread must run its event loop while a download waits: a download on the same thread
// does so itself, and the conversion tests process events while the workers run.

#include <QByteArray>
#include <QHostAddress>
#include <QMap>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>
#include <memory>

class HttpTestServer {
public:
    struct Answer {
        int Status = 200;
        QByteArray Reason = "OK";
        QByteArray Body;
        bool Hang = false; // read the request and never answer
    };

    HttpTestServer()
    {
        QObject::connect(&FServer, &QTcpServer::newConnection, &FServer, [this] { Accept(); });
        FServer.listen(QHostAddress::LocalHost);
    }

    void Serve(const QString& path, const Answer& answer) { FAnswers.insert(path, answer); }
    QString Url(const QString& path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(FServer.serverPort()).arg(path);
    }
    int Requests() const { return FRequests; }

private:
    void Accept()
    {
        while (QTcpSocket* socket = FServer.nextPendingConnection()) {
            auto request = std::make_shared<QByteArray>();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, request] {
                request->append(socket->readAll());
                if (request->contains("\r\n\r\n")) {
                    Respond(socket, *request);
                }
            });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    }

    void Respond(QTcpSocket* socket, const QByteArray& request)
    {
        ++FRequests;
        const QList<QByteArray> line = request.left(request.indexOf("\r\n")).split(' ');
        const QString path = line.size() > 1 ? QString::fromLatin1(line[1]) : QString();
        const auto found = FAnswers.constFind(path);
        Answer answer = found != FAnswers.constEnd()
                            ? *found
                            : HttpTestServer::Answer{404, "Not Found", "no such page", false};
        if (answer.Hang) {
            return;
        }
        socket->write("HTTP/1.1 " + QByteArray::number(answer.Status) + ' ' + answer.Reason +
                      "\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                      QByteArray::number(answer.Body.size()) + "\r\nConnection: close\r\n\r\n" +
                      answer.Body);
        socket->disconnectFromHost();
    }

    QTcpServer FServer;
    QMap<QString, Answer> FAnswers;
    int FRequests = 0;
};
