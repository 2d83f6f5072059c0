#include "app/Regstry.h"

#include <QDate>
#include <QLocale>
#include <QSettings>
#include <QStringList>

namespace kova::app {
namespace {

struct TKeyParts {
    QString organisation;
    QString application;
    QString group;
};

// "Software\Org\App\Group\Sub" → organisation "Org", application "App", group "Group/Sub".
// A path without organisation or application cannot be stored and is refused like a key the
// system would not open.
[[nodiscard]] bool SplitKey(const QString& key, TKeyParts& parts) {
    QStringList components = key.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    if (!components.isEmpty() && components.front().compare(QLatin1String("Software"), Qt::CaseInsensitive) == 0) {
        components.removeFirst();
    }
    if (components.size() < 2) return false;
    parts.organisation = components.takeFirst();
    parts.application = components.takeFirst();
    parts.group = components.join(QLatin1Char('/'));
    return true;
}

} // namespace

TRegstry::TRegstry() : DefaultValue(QLocale().toString(QDate::currentDate(), QStringLiteral("dd.MM.yyyy"))) {}

TRegstry::~TRegstry() = default;

void TRegstry::OpenKey(const QString& key) {
    openedKey_ = key;
    store_.reset();
    TKeyParts parts;
    if (!SplitKey(key, parts)) throw ERegistryException(QStringLiteral("RegOpenKey failed!"));
    auto store = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, parts.organisation,
                                             parts.application);
    if (store->status() == QSettings::AccessError) throw ERegistryException(QStringLiteral("RegOpenKey failed!"));
    store_ = std::move(store);
    group_ = parts.group;
}

void TRegstry::WriteString(const QString& key, const QString& name, const QString& value) {
    OpenKey(key);
    const QString path = group_.isEmpty() ? name : group_ + QLatin1Char('/') + name;
    store_->setValue(path, value);
    // Written through at once: a failure must surface here, not at some later destruction.
    store_->sync();
    if (store_->status() != QSettings::NoError || !store_->isWritable()) {
        throw ERegistryException(QStringLiteral("RegSetValue failed: %1 set to %2").arg(key + name, value));
    }
}

QString TRegstry::ReadString(const QString& key, const QString& name) {
    OpenKey(key);
    const QString path = group_.isEmpty() ? name : group_ + QLatin1Char('/') + name;
    const QVariant value = store_->value(path);
    const QString text = value.toString();
    if (!value.isValid() || store_->status() != QSettings::NoError || text.toLocal8Bit().size() > kReadBufferSize) {
        throw ERegistryException(QStringLiteral("RegQueryValue failed: %1").arg(key + name));
    }
    // The value is read as text up to its first zero, as a fixed buffer would hold it.
    const qsizetype zero = text.indexOf(QChar(u'\0'));
    return zero < 0 ? text : text.left(zero);
}

QString TRegstry::ReadStringDef(const QString& key, const QString& name, const QString& defaultValue) {
    try {
        return ReadString(key, name);
    } catch (const std::exception&) {
        return defaultValue;
    }
}

} // namespace kova::app
