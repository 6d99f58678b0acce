#include "platform/DialogFolderChooser.h"

#include <QDir>
#include <QFileDialog>

namespace platform
{

std::optional<QString> DialogFolderChooser::chooseFolder(const QString &message)
{
    // On the heap and guarded: if the parent window is destroyed while the
    // dialog runs, it takes the dialog with it.
    QPointer<QFileDialog> dialog = new QFileDialog(m_parent, message);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setWindowModality(m_parent ? Qt::WindowModal : Qt::ApplicationModal);

    const bool accepted = dialog->exec() == QDialog::Accepted;
    if (!dialog)
        return std::nullopt;
    const QStringList chosen = dialog->selectedFiles();
    delete dialog;
    if (!accepted || chosen.isEmpty())
        return std::nullopt;
    return QDir::cleanPath(QDir(chosen.first()).absolutePath());
}

} // namespace platform
