#include "platform/DialogFolderChooser.h"

#include <QApplication>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

namespace
{

// Runs act on the folder dialog once it is up. The chooser blocks in the
// dialog's own event loop, so this has to be armed before calling it.
void whenDialogOpens(std::function<void(QFileDialog *)> act)
{
    auto *poll = new QTimer;
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, act = std::move(act)] {
        if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            act(dialog);
        }
    });
    poll->start();
}

} // namespace

class tst_DialogFolderChooser : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void answersTheChosenFolder()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString picked = dir.filePath(QStringLiteral("picked"));
        QVERIFY(QDir().mkpath(picked));

        QWidget window;
        window.show();
        platform::DialogFolderChooser chooser(&window);
        QString title;
        QFileDialog::FileMode mode = QFileDialog::AnyFile;
        bool dirsOnly = false;
        Qt::WindowModality modality = Qt::NonModal;
        whenDialogOpens([&](QFileDialog *dialog) {
            title = dialog->windowTitle();
            mode = dialog->fileMode();
            dirsOnly = dialog->testOption(QFileDialog::ShowDirsOnly);
            modality = dialog->windowModality();
            dialog->setDirectory(dir.path());
            dialog->selectFile(picked);
            static_cast<QDialog *>(dialog)->accept(); // QFileDialog::accept is protected
        });
        QCOMPARE(chooser.chooseFolder(QStringLiteral("Choose save location")), picked);
        QCOMPARE(title, QStringLiteral("Choose save location"));
        QCOMPARE(mode, QFileDialog::Directory);
        QVERIFY(dirsOnly);
        QCOMPARE(modality, Qt::WindowModal);
    }

    void cancelAnswersNothing()
    {
        platform::DialogFolderChooser chooser;
        Qt::WindowModality modality = Qt::NonModal;
        whenDialogOpens([&](QFileDialog *dialog) {
            modality = dialog->windowModality();
            dialog->reject();
        });
        QVERIFY(!chooser.chooseFolder(QStringLiteral("Choose save location")));
        QCOMPARE(modality, Qt::ApplicationModal);
    }

    void parentClosingWhileOpenIsACancel()
    {
        auto *window = new QWidget;
        window->show();
        platform::DialogFolderChooser chooser(window);
        whenDialogOpens([window](QFileDialog *) { delete window; });
        QVERIFY(!chooser.chooseFolder(QStringLiteral("Choose save location")));
        // The chooser outlives its parent and asks without one.
        whenDialogOpens([](QFileDialog *dialog) { dialog->reject(); });
        QVERIFY(!chooser.chooseFolder(QStringLiteral("again")));
    }
};

QTEST_MAIN(tst_DialogFolderChooser)
#include "tst_DialogFolderChooser.moc"
