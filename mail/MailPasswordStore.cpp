#include "mail/MailPasswordStore.h"

#include <qt6keychain/keychain.h>

#include <QEventLoop>
#include <QString>

namespace {

const QString kService = QStringLiteral("Veilmark mail");

QString AccountKey(const std::string& server, const std::string& userName)
{
    return QString::fromStdString(userName) + QLatin1Char('@') + QString::fromStdString(server);
}

// Runs the job to its end. Plain-text fallback stays off, so a missing
// service never leads to a password in a file.
QKeychain::Error RunJob(QKeychain::Job& job, const QString& key)
{
    job.setAutoDelete(false);
    job.setInsecureFallback(false);
    job.setKey(key);
    QEventLoop loop;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, &QEventLoop::quit);
    job.start();
    loop.exec();
    return job.error();
}

} // namespace

CMailPasswordStore::Result CMailPasswordStore::Read(
    const std::string& server, const std::string& userName, std::string& password)
{
    QKeychain::ReadPasswordJob job(kService);
    switch (RunJob(job, AccountKey(server, userName))) {
    case QKeychain::NoError:
        password = job.textData().toStdString();
        return Result::Ok;
    case QKeychain::EntryNotFound:
        return Result::NotFound;
    default:
        m_errorText = job.errorString().toStdString();
        return Result::Unavailable;
    }
}

CMailPasswordStore::Result CMailPasswordStore::Write(
    const std::string& server, const std::string& userName, const std::string& password)
{
    QKeychain::WritePasswordJob job(kService);
    job.setTextData(QString::fromStdString(password));
    if (RunJob(job, AccountKey(server, userName)) == QKeychain::NoError)
        return Result::Ok;
    m_errorText = job.errorString().toStdString();
    return Result::Unavailable;
}

CMailPasswordStore::Result CMailPasswordStore::Remove(const std::string& server, const std::string& userName)
{
    QKeychain::DeletePasswordJob job(kService);
    switch (RunJob(job, AccountKey(server, userName))) {
    case QKeychain::NoError:
        return Result::Ok;
    case QKeychain::EntryNotFound:
        return Result::NotFound;
    default:
        m_errorText = job.errorString().toStdString();
        return Result::Unavailable;
    }
}
