#pragma once
// Pieces shared by the small dialogs of the main window: a frameless dialog of a fixed client
// area filled by a gradient panel with a lowered inner bevel, right-aligned captions and gradient
// buttons that set the dialog's modal result.
#include <QFont>
#include <QRect>
#include <QSize>
#include <QString>

class QDialog;
class QLabel;
class QLineEdit;
class QWidget;
class TQXGradButton;
class TQXGradPanel;

// Makes `dialog` frameless and of the fixed client size, and fills it with the panel it returns.
TQXGradPanel* BuildDialogFrame(QDialog& dialog, QSize clientSize);

// A fixed-size caption, vertically centred (right-aligned unless told), on a transparent background.
QLabel* AddDialogLabel(QWidget* parent, const QString& caption, QRect rect,
                       Qt::Alignment horizontal = Qt::AlignRight);

// A read-only field on the button face colour.
QLineEdit* AddReadOnlyField(QWidget* parent, QRect rect);

// A gradient button anchored to the dialog's bottom edge; a click gives the dialog `modalResult`.
TQXGradButton* AddDialogButton(QWidget* parent, const QString& caption, QRect rect, int modalResult);
