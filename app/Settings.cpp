#include "app/Settings.h"

#include <QSettings>
#include <QString>
#include <QVariant>

#include <cstring>
#include <limits>
#include <optional>

namespace {

struct StoredValue {
    unsigned type = kRegNone;
    std::string bytes;
};

std::optional<std::uint32_t> AsDword(const QVariant& value)
{
    bool ok = false;
    qulonglong number = 0;
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        number = value.toULongLong(&ok);
        break;
    case QMetaType::QString: {
        const QString text = value.toString();
        if (text.isEmpty() || text.size() > 10)
            return std::nullopt;
        for (const QChar character : text) {
            if (character < QLatin1Char('0') || character > QLatin1Char('9'))
                return std::nullopt;
        }
        number = text.toULongLong(&ok);
        break;
    }
    default:
        return std::nullopt;
    }
    if (!ok || number > std::numeric_limits<std::uint32_t>::max())
        return std::nullopt;
    return static_cast<std::uint32_t>(number);
}

StoredValue Interpret(const QVariant& value)
{
    if (const auto number = AsDword(value)) {
        StoredValue stored { kRegDword, std::string(sizeof(std::uint32_t), '\0') };
        std::memcpy(stored.bytes.data(), &*number, sizeof *number);
        return stored;
    }
    StoredValue stored { kRegSz, value.toString().toStdString() };
    stored.bytes.push_back('\0');
    return stored;
}

// The current user's own settings; values installed for all users are not
// mixed in.
class CUserSettings : public QSettings {
public:
    CUserSettings()
        : QSettings(
            QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Norvanta"), QStringLiteral("Veilmark"))
    {
        setFallbacksEnabled(false);
    }
};

QSettings::Status Store(const char* subKey, const char* valueName, const QVariant& value, bool& writable)
{
    CUserSettings settings;
    writable = settings.isWritable();
    if (!writable)
        return QSettings::AccessError;
    settings.beginGroup(QString::fromUtf8(subKey));
    settings.setValue(QString::fromUtf8(valueName), value);
    settings.endGroup();
    settings.sync();
    return settings.status();
}

int WriteValue(const char* subKey, const char* valueName, const QVariant& value)
{
    bool writable = false;
    const QSettings::Status status = Store(subKey, valueName, value, writable);
    if (!writable)
        return -1;
    return status == QSettings::NoError ? 0 : -2;
}

// The text of a value read into a 512-byte buffer, or nothing. A number
// stored under a text's name would read as four raw bytes, so it counts as
// missing too.
std::optional<std::string> ReadText(const char* valueName)
{
    char buffer[kSettingTextBuffer] = {};
    unsigned size = sizeof buffer;
    unsigned type = kRegNone;
    if (RegReadValue(kOptionSubKey, valueName, &type, buffer, &size) != 0 || type != kRegSz)
        return std::nullopt;
    return std::string(buffer, strnlen(buffer, size));
}

// A text exactly as stored, even one made of digits alone (which the typed
// reading takes for a number): a user name such as "0042" must come back as
// it was written.
std::optional<std::string> ReadTextAsStored(const char* valueName)
{
    CUserSettings settings;
    settings.beginGroup(QString::fromUtf8(kOptionSubKey));
    const QString name = QString::fromUtf8(valueName);
    if (settings.status() != QSettings::NoError || !settings.contains(name))
        return std::nullopt;
    const QVariant value = settings.value(name);
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    std::string text = value.toString().toStdString();
    if (text.size() >= kSettingTextBuffer)
        return std::nullopt;
    return text;
}

} // namespace

int RegReadValue(const char* subKey, const char* valueName, unsigned* type, void* buffer, unsigned* size)
{
    if (subKey == nullptr || valueName == nullptr || size == nullptr)
        return -2;
    CUserSettings settings;
    if (settings.status() != QSettings::NoError)
        return -1;
    const QString group = QString::fromUtf8(subKey);
    if (!settings.childGroups().contains(group))
        return -1;
    settings.beginGroup(group);
    const QString name = QString::fromUtf8(valueName);
    if (!settings.contains(name))
        return -2;

    const StoredValue stored = Interpret(settings.value(name));
    if (type != nullptr)
        *type = stored.type;
    const unsigned needed = static_cast<unsigned>(stored.bytes.size());
    if (buffer == nullptr) {
        *size = needed;
        return 2;
    }
    if (*size < needed) {
        *size = needed;
        return 1;
    }
    std::memcpy(buffer, stored.bytes.data(), needed);
    *size = needed;
    return 0;
}

int RegWriteString(const char* subKey, const char* valueName, const std::string& text)
{
    return WriteValue(subKey, valueName, QString::fromStdString(text));
}

int RegWriteDword(const char* subKey, const char* valueName, std::uint32_t value)
{
    return WriteValue(subKey, valueName, QVariant::fromValue<uint>(value));
}

MailSettings ReadMailSettings()
{
    MailSettings settings;
    settings.smtpServer = ReadText("SMTPServerAddress").value_or(kPlaceholderSmtpServer);
    settings.userEmail = ReadText("UserEmailAddress").value_or(kPlaceholderUserEmail);

    // Any non-zero number is on, whoever stored it.
    std::uint32_t flag = 0;
    unsigned size = sizeof flag;
    unsigned type = kRegNone;
    settings.sendAfterSave
        = RegReadValue(kOptionSubKey, "SendAfterSave", &type, &flag, &size) == 0 && type == kRegDword && flag != 0;

    // Values that cannot be read, or make no sense, fall back to plain SMTP
    // on port 25 without sign-in, as before these settings existed.
    std::uint32_t port = 0;
    size = sizeof port;
    if (RegReadValue(kOptionSubKey, "SMTPPort", &type, &port, &size) == 0 && type == kRegDword && port >= 1
        && port <= 65535)
        settings.smtpPort = static_cast<int>(port);
    settings.smtpSecurity
        = SmtpSecurityFromName(ReadText("SMTPSecurity").value_or(std::string())).value_or(SmtpSecurity::None);
    settings.smtpUserName = ReadTextAsStored("SMTPUserName").value_or(std::string());
    return settings;
}

bool WriteMailSettings(const MailSettings& settings)
{
    return RegWriteString(kOptionSubKey, "SMTPServerAddress", settings.smtpServer) == 0
        && RegWriteString(kOptionSubKey, "UserEmailAddress", settings.userEmail) == 0
        && RegWriteDword(kOptionSubKey, "SendAfterSave", settings.sendAfterSave ? 0xFFFFFFFFu : 0u) == 0
        && RegWriteDword(kOptionSubKey, "SMTPPort", static_cast<std::uint32_t>(settings.smtpPort)) == 0
        && RegWriteString(kOptionSubKey, "SMTPSecurity", std::string(SmtpSecurityName(settings.smtpSecurity))) == 0
        && RegWriteString(kOptionSubKey, "SMTPUserName", settings.smtpUserName) == 0;
}

SaveFormat ReadDefaultSaveFormat()
{
    return ReadText("SaveFormat").value_or(std::string()) == "Sealed" ? SaveFormat::Sealed : SaveFormat::Compatible;
}

bool WriteDefaultSaveFormat(SaveFormat format)
{
    return RegWriteString(kOptionSubKey, "SaveFormat", format == SaveFormat::Sealed ? "Sealed" : "Compatible") == 0;
}
