#pragma once
// The device information dialog: the unit's serial number, device key, firmware and bootloader
// versions in read-only fields on a gradient panel, closed with "Close". The Show Device Info
// command creates it, shows it modally and destroys it again.
#include <QDialog>

#include "Qxdisplay.h"

class QLabel;
class QLineEdit;
class TQXGradButton;
class TQXGradPanel;

class TFormDevInfo : public QDialog {
    Q_OBJECT

public:
    explicit TFormDevInfo(QWidget* owner);
    ~TFormDevInfo() override;

    // Fills the four fields from what the unit reported.
    void ShowIdentity(const DISPLAY_INFO& info, const DISPLAY_IDENTITY& identity);

    // "Close": modal result 1 (OK).
    void QXGradButton1Click();

    TQXGradPanel* QXGradPanel1 = nullptr;
    QLabel* LabelSerialNumber = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* EditSerialNumber = nullptr;
    QLineEdit* EditDeviceKey = nullptr;
    QLineEdit* EditFirmwareVersion = nullptr;
    QLineEdit* EditBootloaderVersion = nullptr;
    TQXGradButton* QXGradButton1 = nullptr;
};

// The dialog while the Show Device Info command shows it, else null.
extern TFormDevInfo* FormDevInfo;

// The device key as the dialog shows it: each byte in stored order as two upper-case hexadecimal
// digits, high half first.
QString DeviceKeyText(const DISPLAY_IDENTITY& identity);
