#include "PlatformServices.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QRegularExpression>

void QtPlatformServices::ShowMessage(QWidget* owner, const QString& text, const QString& caption)
{
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, owner);
    box.exec();
}

bool QtPlatformServices::Confirm(QWidget* owner, const QString& text, const QString& caption)
{
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, owner);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void QtPlatformServices::ShowError(QWidget* owner, const QString& text)
{
    QMessageBox box(QMessageBox::Critical, QCoreApplication::applicationName(), text, QMessageBox::Ok, owner);
    box.exec();
}

QStringList QtNameFilters(const QString& filter)
{
    // Qt reads a filter's patterns from its last parentheses, separated by blanks: the shown
    // text ("Map Files (*.qxm; *.wzm)") is kept and the pattern half of the pair goes behind it,
    // split on ";" and blanks. "*.*" means every file, also one without an extension.
    static const QRegularExpression separators(QStringLiteral("[;\\s]+"));
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList names;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts[i + 1].split(separators, Qt::SkipEmptyParts);
        for (QString& pattern : patterns)
            if (pattern == QStringLiteral("*.*"))
                pattern = QStringLiteral("*");
        names << parts[i] + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return names;
}

QStringList QtPlatformServices::OpenFiles(QWidget* owner, const OpenDialogRequest& request)
{
    QFileDialog dialog(owner);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // The patterns Qt reads stay out of sight: the filters read as they are written.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
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

QString QtPlatformServices::SaveFile(QWidget* owner, const QString& caption, const QString& suggested)
{
    return QFileDialog::getSaveFileName(owner, caption, suggested);
}

int QtPlatformServices::ExecDialog(QDialog& dialog) { return dialog.exec(); }
