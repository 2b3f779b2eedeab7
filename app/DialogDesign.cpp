#include "DialogDesign.h"

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>

#include "Drawingutils.h"
#include "Qxgradbutton.h"
#include "Qxgradpanel.h"

TQXGradPanel* BuildDialogFrame(QDialog& dialog, QSize clientSize)
{
    dialog.setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    dialog.setFixedSize(clientSize);
    auto* panel = new TQXGradPanel(&dialog);
    panel->setGeometry(QRect(QPoint(0, 0), clientSize));
    panel->SetBevelInner(bvLowered);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(13);
    font.setBold(true);
    panel->setFont(font);
    return panel;
}

QLabel* AddDialogLabel(QWidget* parent, const QString& caption, QRect rect, Qt::Alignment horizontal)
{
    auto* label = new QLabel(caption, parent);
    label->setGeometry(rect);
    label->setAlignment(horizontal | Qt::AlignVCenter);
    label->setAttribute(Qt::WA_TranslucentBackground);
    return label;
}

QLineEdit* AddReadOnlyField(QWidget* parent, QRect rect)
{
    auto* field = new QLineEdit(parent);
    field->setGeometry(rect);
    field->setReadOnly(true);
    QPalette palette = field->palette();
    palette.setColor(QPalette::Base, ToQColor(clBtnFace));
    field->setPalette(palette);
    return field;
}

TQXGradButton* AddDialogButton(QWidget* parent, const QString& caption, QRect rect, int modalResult)
{
    auto* button = new TQXGradButton(parent);
    button->setGeometry(rect);
    button->SetCaption(caption);
    button->SetModalResult(modalResult);
    return button;
}
