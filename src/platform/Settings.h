#pragma once

#include <QLatin1StringView>
#include <QString>

#include <optional>

namespace platform
{

// The key under which the viewer keeps its save folder.
inline constexpr QLatin1StringView kSaveFolderKey("getFilePath");

// The user's stored settings: texts under keys, kept between runs.
//
// Main thread only. The application creates the one store and owns it; the
// objects it hands the store to keep a reference that must not outlive it.
class Settings
{
public:
    virtual ~Settings() = default;

    // The text stored under key; nothing when the key holds no text.
    virtual std::optional<QString> stringForKey(const QString &key) const = 0;

    // Stores value under key, replacing what was there, and writes it through
    // to disk before returning. False when the store could not be written;
    // the value may then be lost at exit.
    virtual bool setString(const QString &key, const QString &value) = 0;
};

} // namespace platform
