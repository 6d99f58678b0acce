#include "control/RequestManager.h"

#include "control/CommandAnswer.h"
#include "control/CommandUrl.h"
#include "platform/LogCategories.h"
#include "platform/MainQueue.h"
#include "platform/SharedInstance.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <utility>

namespace
{

platform::SharedInstance<RequestManager> g_shared;
bool g_postRoutineAdded = false; // set while creating, under the slot's lock

QString withParameters(const QString &url, const QVariantMap &parameters)
{
    if (parameters.isEmpty())
        return url;
    QString query;
    for (auto it = parameters.cbegin(); it != parameters.cend(); ++it) {
        if (!query.isEmpty())
            query += QLatin1Char('&');
        query += QString::fromLatin1(QUrl::toPercentEncoding(it.key())) + QLatin1Char('=') +
                 QString::fromLatin1(QUrl::toPercentEncoding(it.value().toString()));
    }
    return url + (url.contains(QLatin1Char('?')) ? QLatin1Char('&') : QLatin1Char('?')) + query;
}

void abortIfTooLong(QNetworkReply *reply)
{
    const QVariant declared = reply->header(QNetworkRequest::ContentLengthHeader);
    if ((declared.isValid() && declared.toLongLong() > CommandAnswer::kMaxBodyBytes) ||
        reply->bytesAvailable() > CommandAnswer::kMaxBodyBytes)
        reply->abort();
}

} // namespace

RequestManager &RequestManager::sharedManager()
{
    return g_shared.get([] {
        auto *instance = new RequestManager;
        if (QCoreApplication *app = QCoreApplication::instance())
            instance->moveToThread(app->thread()); // answers arrive on the main thread
        if (!g_postRoutineAdded) {
            // Requests must not outlive the application object they run on.
            qAddPostRoutine(&RequestManager::releaseSharedInstance);
            g_postRoutineAdded = true;
        }
        return instance;
    });
}

bool RequestManager::hasSharedInstance()
{
    return g_shared.peek() != nullptr;
}

void RequestManager::releaseSharedInstance()
{
    g_shared.release();
}

RequestManager::RequestManager() = default;

// QObject cuts every connection to this manager before it deletes the
// network manager and its replies, so no reply can report into it.
RequestManager::~RequestManager() = default;

void RequestManager::getApi(const QString &url, const QVariantMap &parameters,
                            ResponseCompletion completed)
{
    QString full = withParameters(url, parameters);
    if (QThread::currentThread() != thread()) {
        platform::mainqueue::post(
            this, [this, full = std::move(full), completed = std::move(completed)]() mutable {
                send(full, std::move(completed));
            });
        return;
    }
    send(full, std::move(completed));
}

void RequestManager::send(const QString &url, ResponseCompletion completed)
{
    // Strict parsing: a command goes out exactly as written or not at all.
    // Tolerant parsing would quietly percent-encode a stray character, and
    // the box would be sent something nobody wrote.
    const QUrl parsed(url, QUrl::StrictMode);
    if (!parsed.isValid() || parsed.scheme() != QLatin1String("http") || parsed.host().isEmpty()) {
        complete(std::move(completed), QJsonValue(QJsonValue::Undefined));
        return;
    }
    if (!m_network) {
        m_network = new QNetworkAccessManager(this);
        // The box is on its own network next to the computer; no proxy can
        // reach it.
        m_network->setProxy(QNetworkProxy::NoProxy);
    }
    QNetworkRequest request(parsed);
    // The box never redirects; a redirect is not its answer.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply *reply = m_network->get(request);
    // Leave room for one byte past the limit, so that an overlong body shows.
    reply->setReadBufferSize(CommandAnswer::kMaxBodyBytes + 1);
    connect(reply, &QNetworkReply::metaDataChanged, this, [reply] { abortIfTooLong(reply); });
    connect(reply, &QNetworkReply::readyRead, this, [reply] { abortIfTooLong(reply); });
    QTimer::singleShot(m_requestTimeout, reply, [reply, timeoutMs = m_requestTimeout] {
        qCInfo(lcControl).noquote()
            << "no answer in" << timeoutMs.count() << "ms:" << reply->url().toString();
        reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, completed = std::move(completed)]() mutable {
                finish(reply, std::exchange(completed, nullptr));
            });
}

void RequestManager::finish(QNetworkReply *reply, ResponseCompletion completed)
{
    reply->deleteLater();
    QJsonValue object(QJsonValue::Undefined);
    if (reply->error() == QNetworkReply::NoError) {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const QByteArray body = reply->read(CommandAnswer::kMaxBodyBytes + 1);
        object = CommandAnswer::responseObject(status, reply->rawHeader("Content-Type"), body);
    }
    complete(std::move(completed), object);
}

void RequestManager::complete(ResponseCompletion completed, const QJsonValue &responseObject)
{
    if (!completed)
        return;
    // Posted with this manager as context: a completion never runs after the
    // manager is gone, and never inside the call that issued the command.
    platform::mainqueue::post(this, [completed = std::move(completed), responseObject] {
        completed(responseObject, QString());
    });
}

void RequestManager::sendJudged(const QString &url, SuccessCompletion completed)
{
    getApi(url, {}, [completed = std::move(completed)](const QJsonValue &object, const QString &) {
        if (completed)
            completed(CommandAnswer::isSuccess(object));
    });
}

void RequestManager::setFocusStyle(const QString &value, SuccessCompletion completed)
{
    sendJudged(CommandUrl::controlCommand(
                   CommandUrl::parameterString(CommandUrl::ControlId::FocusAuto, value)),
               std::move(completed));
}

void RequestManager::setFocusWithValue(const QString &value, SuccessCompletion completed)
{
    sendJudged(CommandUrl::controlCommand(
                   CommandUrl::parameterString(CommandUrl::ControlId::FocusAbsolute, value)),
               std::move(completed));
}

void RequestManager::setLeftCompleted(SuccessCompletion completed)
{
    // The second command does not wait for the first; only its outcome counts.
    setFocusWithValue(QStringLiteral("20"), [](bool) {});
    setFocusWithValue(QStringLiteral("10"), std::move(completed));
}

void RequestManager::setRightCompleted(SuccessCompletion completed)
{
    setFocusWithValue(QStringLiteral("90"), [](bool) {});
    setFocusWithValue(QStringLiteral("80"), std::move(completed));
}

void RequestManager::setParameterWithIdValue(const QString &parameter, SuccessCompletion completed)
{
    sendJudged(CommandUrl::controlCommand(parameter), std::move(completed));
}
