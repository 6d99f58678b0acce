#pragma once

#include "platform/Settings.h"

#include <QHash>

namespace platform
{

// Settings held in memory, for tests: nothing is read from or written to
// disk. setWritable(false) makes it refuse writes, like a store on a full or
// read-only disk.
//
// Main thread only; see Settings for ownership.
class MemorySettings final : public Settings
{
public:
    std::optional<QString> stringForKey(const QString &key) const override
    {
        const auto it = m_values.constFind(key);
        return it == m_values.cend() ? std::nullopt : std::optional(*it);
    }

    bool setString(const QString &key, const QString &value) override
    {
        if (!m_writable)
            return false;
        m_values.insert(key, value);
        return true;
    }

    void setWritable(bool writable) { m_writable = writable; }
    const QHash<QString, QString> &values() const { return m_values; }

private:
    QHash<QString, QString> m_values;
    bool m_writable = true;
};

} // namespace platform
