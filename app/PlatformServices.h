#pragma once
// The platform services the main window uses: message boxes, the error report, file and folder
// dialogs, and the modal run of its own dialogs. The window reaches them only through this
// interface, so tests drive the real handlers with scripted answers. Files dropped on the window arrive as local paths at its drop handler.
#include <QDir>
#include <QFileInfo>
#include <QString>
#include <QStringList>

class QDialog;
class QWidget;

struct OpenDialogRequest {
    QString Filter;     // "Name (*.a; *.b)|*.a; *.b|..." pairs, as the window describes them
    int FilterIndex = 1; // 1-based
    QString FileName;
    QString InitialDir;
};

class PlatformServices {
public:
    virtual ~PlatformServices() = default;
    // Modal message box with an OK button and no icon.
    virtual void ShowMessage(QWidget* owner, const QString& text, const QString& caption) = 0;
    // The application's standard error report: a message box with the error's text.
    virtual void ShowError(QWidget* owner, const QString& text) = 0;
    // Chosen files, empty when the user cancels.
    virtual QStringList OpenFiles(QWidget* owner, const OpenDialogRequest& request) = 0;
    // Chosen folder, empty when the user cancels.
    virtual QString SelectFolder(QWidget* owner, const QString& caption, const QString& startFolder) = 0;
    // The path to save a new file at, offering `suggested` (a full path); empty when the user
    // cancels. Services without a save dialog ask for the folder and keep the suggested name.
    virtual QString SaveFile(QWidget* owner, const QString& caption, const QString& suggested)
    {
        const QFileInfo file(suggested);
        const QString folder = SelectFolder(owner, caption, file.absolutePath());
        return folder.isEmpty() ? QString() : QDir(folder).filePath(file.fileName());
    }
    // Shows one of the window's own dialogs modally; its modal result.
    virtual int ExecDialog(QDialog& dialog) = 0;
    // Modal question with Yes and No buttons; true for Yes. Services that cannot ask (a run
    // that only saves a picture) answer Yes.
    virtual bool Confirm(QWidget* owner, const QString& text, const QString& caption)
    {
        (void)owner;
        (void)text;
        (void)caption;
        return true;
    }
};

// The services of the desktop, on Qt's dialogs.
class QtPlatformServices : public PlatformServices {
public:
    QString SaveFile(QWidget* owner, const QString& caption, const QString& suggested) override;
    void ShowMessage(QWidget* owner, const QString& text, const QString& caption) override;
    void ShowError(QWidget* owner, const QString& text) override;
    QStringList OpenFiles(QWidget* owner, const OpenDialogRequest& request) override;
    QString SelectFolder(QWidget* owner, const QString& caption, const QString& startFolder) override;
    int ExecDialog(QDialog& dialog) override;
    bool Confirm(QWidget* owner, const QString& text, const QString& caption) override;
};

// "A (*.x)|*.x|B (*.y)|*.y" as Qt's filter list "A (*.x)", "B (*.y)": Qt takes the patterns from
// the names' brackets, so the second half of each pair only has to agree with them.
QStringList QtNameFilters(const QString& filter);
