#pragma once
// The log export options dialog: the CSV export interval and whether log files are converted as
// they are got from the unit, confirmed with "OK" or left with "Cancel". Its command creates it,
// shows it modally and destroys it again.
#include <QDialog>
#include <QLocale>
#include <QString>

#include "UserSettings.h"

class QComboBox;
class QLabel;
class TQXGradButton;
class TQXGradPanel;


// The interval as the field shows it: the fewest decimals that give the value back (0.25 stays
// 0.25), at least one (1 shows as 1.0), with the locale's decimal separator and no grouping.
QString FormatExportInterval(double seconds, const QLocale& locale = QLocale());

// The interval a text gives: a number written with a point or with the locale's decimal
// separator. Text that is not a finite number, and a number of 0 or below, give 1.0; a positive
// number below MinExportInterval gives MinExportInterval. So the result is always usable.
double ParseExportInterval(const QString& text, const QLocale& locale = QLocale());


class TFormExportOptions : public QDialog {
    Q_OBJECT

public:
    explicit TFormExportOptions(QWidget* owner);
    ~TFormExportOptions() override;

    // "OK": modal result 1; "Cancel": modal result 2.
    void QXGradButton1Click();
    void QXGradButton2Click();

    TQXGradPanel* QXGradPanel1 = nullptr;
    QLabel* LabelSerialNumber = nullptr;
    QLabel* Label1 = nullptr;
    QComboBox* ComboBoxInterval = nullptr;
    QComboBox* ComboBoxAutoExport = nullptr;
    TQXGradButton* QXGradButton1 = nullptr;
    TQXGradButton* QXGradButton2 = nullptr;
};

// The dialog while the export options command shows it, else null.
extern TFormExportOptions* FormExportOptions;
