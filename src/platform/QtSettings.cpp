#include "platform/QtSettings.h"

#include <QSettings>

namespace platform
{

QtSettings::QtSettings() : m_settings(std::make_unique<QSettings>()) {}

QtSettings::~QtSettings() = default;

std::optional<QString> QtSettings::stringForKey(const QString &key) const
{
    const QVariant value = m_settings->value(key);
    if (value.metaType() != QMetaType::fromType<QString>())
        return std::nullopt;
    return value.toString();
}

bool QtSettings::setString(const QString &key, const QString &value)
{
    m_settings->setValue(key, value);
    // QSettings would write on its own later; a crash before then would
    // forget the save folder the user just chose.
    m_settings->sync();
    return m_settings->status() == QSettings::NoError;
}

} // namespace platform
