#pragma once

#include "platform/FolderChooser.h"

#include <QPointer>
#include <QWidget>

namespace platform
{

// A FolderChooser that shows a QFileDialog for folders only, with the message
// as its title, modal to the parent window (or to the application when there
// is none). The parent is not owned and may go away; then the dialog is
// simply cancelled.
//
// Main thread only; see FolderChooser.
class DialogFolderChooser final : public FolderChooser
{
public:
    explicit DialogFolderChooser(QWidget *parent = nullptr) : m_parent(parent) {}

    // The window the dialog is modal to from now on; for a window created
    // after its chooser, as the viewer's is.
    void setWindow(QWidget *parent) { m_parent = parent; }

    std::optional<QString> chooseFolder(const QString &message) override;

private:
    QPointer<QWidget> m_parent;
};

} // namespace platform
