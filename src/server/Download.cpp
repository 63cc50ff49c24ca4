#include "server/Download.h"

#include "platform/Exception.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QTimer>
#include <QUrl>
#include <memory>

namespace server {

namespace {

[[noreturn]] void Fail(const QString& address, const QString& reason)
{
    throw Exception(QStringLiteral("Cannot download \"%1\": %2").arg(address, reason));
}

// The address's own file name, made safe to stand in a local name, so that the temporary file
// still says what it holds ("tabulix-Ab12Cd-report.xlsx").
QString LocalNamePart(const QUrl& url)
{
    QString name = url.fileName();
    static const QRegularExpression unsafe(QStringLiteral("[^A-Za-z0-9._-]"));
    name.replace(unsafe, QStringLiteral("_"));
    if (name.size() > 60) {
        name = name.right(60);
    }
    return name.isEmpty() ? QStringLiteral("download") : name;
}

} // namespace

QString DownloadToTemporaryFile(const QString& address, std::chrono::milliseconds idleTimeout)
{
    const QUrl url(address, QUrl::TolerantMode);
    if (!url.isValid() || url.host().isEmpty()) {
        Fail(address, QStringLiteral("it is not a valid web address"));
    }
    if (QCoreApplication::instance() == nullptr) {
        // Qt's network transfers need the application object's event machinery.
        Fail(address, QStringLiteral("the program has no application object for network "
                                     "transfers"));
    }

    QTemporaryFile file(QDir::tempPath() + QStringLiteral("/tabulix-XXXXXX-") + LocalNamePart(url));
    if (!file.open()) {
        Fail(address, QStringLiteral("cannot create a temporary file: ") + file.errorString());
    }

    QNetworkAccessManager manager;
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Tabulix Converter"));
    const std::unique_ptr<QNetworkReply> reply(manager.get(request));

    QEventLoop loop;
    QTimer idle;
    idle.setSingleShot(true);
    idle.setInterval(idleTimeout);
    bool timedOut = false;
    QString writeError;
    const auto store = [&] {
        if (!reply->isOpen()) {
            return; // aborted: nothing more to read
        }
        const QByteArray data = reply->readAll();
        if (writeError.isEmpty() && !data.isEmpty() && file.write(data) != data.size()) {
            writeError = file.errorString();
            reply->abort();
        }
    };
    QObject::connect(reply.get(), &QNetworkReply::readyRead, &loop, [&] {
        store();
        idle.start();
    });
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(&idle, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        reply->abort();
    });
    idle.start();
    if (!reply->isFinished()) {
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    idle.stop();
    store();

    if (timedOut) {
        const auto seconds = std::chrono::duration<double>(idleTimeout).count();
        Fail(address, QStringLiteral("the server sent nothing for %1 seconds")
                          .arg(QString::number(seconds, 'g', 3)));
    }
    if (!writeError.isEmpty()) {
        Fail(address, QStringLiteral("cannot write the temporary file: ") + writeError);
    }
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && status.toInt() >= 400) {
        const QString phrase =
            reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
        Fail(address,
             QStringLiteral("the server answered %1 %2").arg(status.toInt()).arg(phrase).trimmed());
    }
    if (reply->error() != QNetworkReply::NoError) {
        Fail(address, reply->errorString());
    }
    if (!file.flush()) {
        Fail(address, QStringLiteral("cannot write the temporary file: ") + file.errorString());
    }
    file.close();
    file.setAutoRemove(false);
    return file.fileName();
}

} // namespace server
