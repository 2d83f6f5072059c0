// A small per-user string store under a key path such as "Software\Talmir\KovaMeldungen\Main".
//
// The key path is kept as the program always wrote it; underneath, the values live in the
// platform's per-user settings store (QSettings, native format): the component after
// "Software\" names the organisation, the next one the application and the rest the group.
// Reading and writing report failures with ERegistryException and the texts the program has
// always shown.
#pragma once

#include <QString>

#include <memory>
#include <stdexcept>

class QSettings;

namespace kova::app {

class ERegistryException final : public std::runtime_error {
public:
    explicit ERegistryException(const QString& message) : std::runtime_error(message.toStdString()) {}
};

enum class TProfileAction { paReadLocalMachine, paWriteLocalMachine, paReadCurrentUser, paWriteCurrentUser };

class TRegstry {
public:
    TRegstry();
    ~TRegstry();
    TRegstry(const TRegstry&) = delete;
    TRegstry& operator=(const TRegstry&) = delete;

    // Published properties: stored as given, not consulted by the operations.
    QString Category = QStringLiteral("Main");
    QString KeyName = QStringLiteral("LastUsed");
    QString DefaultValue;  // today's date in the short date format
    QString DataString;
    QString IniFileName = QStringLiteral("Software\\Talmir\\MyTask");
    TProfileAction Action = TProfileAction::paReadCurrentUser;

    // Opens (and so creates) `key` below the current user's root; it stays the open key.
    void OpenKey(const QString& key);
    void WriteString(const QString& key, const QString& name, const QString& value);
    [[nodiscard]] QString ReadString(const QString& key, const QString& name);
    [[nodiscard]] QString ReadStringDef(const QString& key, const QString& name, const QString& defaultValue);

    [[nodiscard]] const QString& OpenedKey() const noexcept { return openedKey_; }

    // Values longer than this many bytes do not fit the read buffer and fail to read.
    static constexpr int kReadBufferSize = 255;

private:
    QString openedKey_;
    std::unique_ptr<QSettings> store_;
    QString group_;
};

} // namespace kova::app
