#include "PlatformServices.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>

void QtPlatformServices::ShowMessage(QWidget* owner, const QString& text, const QString& caption)
{
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, owner);
    box.exec();
}

void QtPlatformServices::ShowError(QWidget* owner, const QString& text)
{
    QMessageBox box(QMessageBox::Critical, QCoreApplication::applicationName(), text, QMessageBox::Ok, owner);
    box.exec();
}

QStringList QtNameFilters(const QString& filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList names;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        names << parts[i];
    return names;
}

QStringList QtPlatformServices::OpenFiles(QWidget* owner, const OpenDialogRequest& request)
{
    QFileDialog dialog(owner);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    const QStringList names = QtNameFilters(request.Filter);
    dialog.setNameFilters(names);
    if (request.FilterIndex >= 1 && request.FilterIndex <= names.size())
        dialog.selectNameFilter(names[request.FilterIndex - 1]);
    dialog.setDirectory(request.InitialDir);
    if (!request.FileName.isEmpty())
        dialog.selectFile(request.FileName);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles();
}

QString QtPlatformServices::SelectFolder(QWidget* owner, const QString& caption, const QString& startFolder)
{
    return QFileDialog::getExistingDirectory(owner, caption, startFolder, QFileDialog::ShowDirsOnly);
}

int QtPlatformServices::ExecDialog(QDialog& dialog) { return dialog.exec(); }
