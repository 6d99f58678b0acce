#pragma once

#include "platform/Settings.h"

#include <memory>

class QSettings;

namespace platform
{

// Settings kept by QSettings in the application's own store, named after
// QCoreApplication's organisation and application names (on Linux an INI file
// under $XDG_CONFIG_HOME). Set those names before creating it.
//
// Main thread only; see Settings for ownership.
class QtSettings final : public Settings
{
public:
    QtSettings();
    ~QtSettings() override;
    QtSettings(const QtSettings &) = delete;
    QtSettings &operator=(const QtSettings &) = delete;

    std::optional<QString> stringForKey(const QString &key) const override;
    bool setString(const QString &key, const QString &value) override;

private:
    std::unique_ptr<QSettings> m_settings;
};

} // namespace platform
