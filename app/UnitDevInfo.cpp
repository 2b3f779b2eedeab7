#include "UnitDevInfo.h"

#include <QLabel>
#include <QLineEdit>

#include "DialogDesign.h"
#include "Qxgradbutton.h"
#include "Qxgradpanel.h"
#include "VersionNumber.h"

TFormDevInfo* FormDevInfo = nullptr;

namespace {
constexpr int ModalResultOk = 1;
}

TFormDevInfo::TFormDevInfo(QWidget* owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("FormDevInfo"));
    QXGradPanel1 = BuildDialogFrame(*this, QSize(352, 193));
    LabelSerialNumber = AddDialogLabel(QXGradPanel1, QStringLiteral("Serial Number:"), QRect(15, 22, 140, 20));
    Label1 = AddDialogLabel(QXGradPanel1, QStringLiteral("Device Key:"), QRect(15, 52, 140, 20));
    Label2 = AddDialogLabel(QXGradPanel1, QStringLiteral("Firmware Version:"), QRect(15, 82, 140, 20));
    Label3 = AddDialogLabel(QXGradPanel1, QStringLiteral("Bootloader Version"), QRect(15, 112, 140, 20));
    EditSerialNumber = AddReadOnlyField(QXGradPanel1, QRect(162, 20, 184, 24));
    EditDeviceKey = AddReadOnlyField(QXGradPanel1, QRect(162, 50, 184, 24));
    EditFirmwareVersion = AddReadOnlyField(QXGradPanel1, QRect(162, 80, 184, 24));
    EditBootloaderVersion = AddReadOnlyField(QXGradPanel1, QRect(162, 110, 184, 24));
    QXGradButton1 = AddDialogButton(QXGradPanel1, QStringLiteral("Close"), QRect(131, 162, 100, 25), ModalResultOk);
    connect(QXGradButton1, &TQXGradButton::clicked, this, [this] { QXGradButton1Click(); });
}

TFormDevInfo::~TFormDevInfo() = default;

void TFormDevInfo::QXGradButton1Click() { setProperty(TQXGradButton::ModalResultProperty, ModalResultOk); }

QString DeviceKeyText(const DISPLAY_IDENTITY& identity)
{
    QString text;
    for (const uint8_t byte : identity.DeviceKey)
        text += QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
    return text;
}

void TFormDevInfo::ShowIdentity(const DISPLAY_INFO& info, const DISPLAY_IDENTITY& identity)
{
    // The serial number is 8-bit text on the unit; Latin-1 keeps every byte as one character.
    EditSerialNumber->setText(QString::fromLatin1(identity.Serial()));
    EditDeviceKey->setText(DeviceKeyText(identity));
    EditFirmwareVersion->setText(QString::fromStdString(FormatVersionNumber(info.FirmwareVersion)));
    EditBootloaderVersion->setText(QString::fromStdString(FormatVersionNumber(identity.BootloaderVersion)));
}
