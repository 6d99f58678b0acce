#pragma once

#include <QDateTime>
#include <QVariant>
#include <QtGlobal>

// What the file system records about one item, read without following a
// final symbolic link (a link reports itself, not its target).
struct ZUFileAttributes {
    enum class Type {
        Regular = 1,
        Directory,
        SymbolicLink,
        CharacterSpecial,
        BlockSpecial,
        Socket,
        Fifo,
        Unknown
    };
    // The keys of value(), one per member below.
    enum class Key {
        Type = 1,
        Size,
        CreationDate,
        ModificationDate,
        PosixPermissions,
        OwnerAccountId,
        GroupOwnerAccountId,
        ReferenceCount,
        SystemNumber,
        SystemFileNumber,
    };

    Type type = Type::Unknown;
    quint64 size = 0; // bytes; for a folder, the size of its own entry
    // Birth time; invalid where the file system does not record one.
    QDateTime creationDate;
    QDateTime modificationDate;
    uint posixPermissions = 0; // the mode's permission bits, e.g. 0644
    uint ownerAccountId = 0;
    uint groupOwnerAccountId = 0;
    quint64 referenceCount = 0;   // hard links
    quint64 systemNumber = 0;     // device
    quint64 systemFileNumber = 0; // inode

    // The member under key; an invalid QVariant for a creation date that is
    // not recorded. Type comes back as a ZUFileAttributes::Type.
    QVariant value(Key key) const
    {
        switch (key) {
        case Key::Type:
            return QVariant::fromValue(type);
        case Key::Size:
            return QVariant::fromValue(size);
        case Key::CreationDate:
            return creationDate.isValid() ? QVariant(creationDate) : QVariant();
        case Key::ModificationDate:
            return modificationDate;
        case Key::PosixPermissions:
            return posixPermissions;
        case Key::OwnerAccountId:
            return ownerAccountId;
        case Key::GroupOwnerAccountId:
            return groupOwnerAccountId;
        case Key::ReferenceCount:
            return QVariant::fromValue(referenceCount);
        case Key::SystemNumber:
            return QVariant::fromValue(systemNumber);
        case Key::SystemFileNumber:
            return QVariant::fromValue(systemFileNumber);
        }
        return {};
    }
};
