#include "UnitExportOptions.h"

#include <cmath>

#include <QComboBox>
#include <QLabel>

#include "DialogDesign.h"
#include "Qxgradbutton.h"
#include "Qxgradpanel.h"

TFormExportOptions* FormExportOptions = nullptr;

namespace {

constexpr int ModalResultOk = 1;
constexpr int ModalResultCancel = 2;
constexpr int ComboItemHeight = 16;

QComboBox* AddCombo(QWidget* parent, QRect rect)
{
    auto* combo = new QComboBox(parent);
    combo->setGeometry(rect);
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    return combo;
}

void SetItemHeights(QComboBox* combo)
{
    for (int i = 0; i < combo->count(); ++i)
        combo->setItemData(i, QSize(0, ComboItemHeight), Qt::SizeHintRole);
}

QLocale WithoutGrouping(QLocale locale)
{
    locale.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    return locale;
}

} // namespace


QString FormatExportInterval(double seconds, const QLocale& locale)
{
    const QLocale plain = WithoutGrouping(locale);
    QString text = plain.toString(seconds, 'f', QLocale::FloatingPointShortest);
    if (!text.contains(plain.decimalPoint()))
        text += plain.decimalPoint() + plain.zeroDigit();
    return text;
}

double ParseExportInterval(const QString& text, const QLocale& locale)
{
    // A point is always taken as the decimal separator; so is the locale's own. Grouping is
    // refused, so "1.000" in a locale that groups with points is one second, never a thousand.
    QString number = text.trimmed();
    const QString point = locale.decimalPoint();
    if (point != QStringLiteral("."))
        number.replace(point, QStringLiteral("."));
    bool ok = false;
    const double value = WithoutGrouping(QLocale::c()).toDouble(number, &ok);
    return ok ? CorrectedExportInterval(value) : DefaultExportInterval;
}

TFormExportOptions::TFormExportOptions(QWidget* owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("FormExportOptions"));
    QXGradPanel1 = BuildDialogFrame(*this, QSize(370, 137));
    LabelSerialNumber =
        AddDialogLabel(QXGradPanel1, QStringLiteral("Export Time Interval (sec):"), QRect(15, 22, 226, 20));
    Label1 = AddDialogLabel(QXGradPanel1, QStringLiteral("Auto Convert Log Files:"), QRect(15, 52, 226, 20));

    // The items follow the user's number format, like the text the field is given.
    ComboBoxInterval = AddCombo(QXGradPanel1, QRect(245, 20, 100, 24));
    const QLocale locale;
    for (const double item : {0.1, 0.25, 0.5})
        ComboBoxInterval->addItem(FormatExportInterval(item, locale));
    ComboBoxInterval->addItem(QStringLiteral("1"));
    SetItemHeights(ComboBoxInterval);
    ComboBoxInterval->setCurrentIndex(-1);
    ComboBoxInterval->setEditText(FormatExportInterval(1.0, locale));

    ComboBoxAutoExport = AddCombo(QXGradPanel1, QRect(245, 50, 100, 24));
    ComboBoxAutoExport->addItems({QStringLiteral("Yes"), QStringLiteral("No")});
    SetItemHeights(ComboBoxAutoExport);
    ComboBoxAutoExport->setCurrentIndex(0);

    QXGradButton1 = AddDialogButton(QXGradPanel1, QStringLiteral("OK"), QRect(86, 97, 100, 25), ModalResultOk);
    QXGradButton2 =
        AddDialogButton(QXGradPanel1, QStringLiteral("Cancel"), QRect(196, 97, 100, 25), ModalResultCancel);
    connect(QXGradButton1, &TQXGradButton::clicked, this, [this] { QXGradButton1Click(); });
    connect(QXGradButton2, &TQXGradButton::clicked, this, [this] { QXGradButton2Click(); });
}

TFormExportOptions::~TFormExportOptions() = default;

void TFormExportOptions::QXGradButton1Click() { setProperty(TQXGradButton::ModalResultProperty, ModalResultOk); }

void TFormExportOptions::QXGradButton2Click()
{
    setProperty(TQXGradButton::ModalResultProperty, ModalResultCancel);
}
