#pragma once

#include "res/DialogTemplates.h"

#include <QList>
#include <QRect>
#include <QString>
#include <QWidget>

class QDialog;
class QFont;

// Builds Qt dialogs from the dialog templates: every control is created at its
// rectangle, converted from dialog units to pixels with the dialog font's base
// units, and carries its numeric id so code finds it with FindControl.

struct DialogBaseUnits {
    int x = 0; // average character width of the dialog font
    int y = 0; // character height of the dialog font
};

// The font dialogs are laid out with. Templates name the Windows dialog font;
// here the desktop's general user-interface font takes its place.
QFont DialogFont();

DialogBaseUnits GetDialogBaseUnits(const QFont& font);

// Dialog units to pixels: x * baseX / 4 and y * baseY / 8, rounded.
QRect MapDialogRect(const QRect& dialogUnits, DialogBaseUnits units);

// A text a dialog puts into one of its controls itself.
struct ControlText {
    int controlId;
    QString text;
};

// Sets the dialog's caption, font, window kind and client size from template
// `templateId` and creates its controls in tab order; the buttons with ids
// IDOK and IDCANCEL call the dialog's accept() and reject(). The horizontal
// base unit is widened where a control's text would not fit otherwise: the
// template texts and `contents`, which are put into their controls. Returns
// false (and creates nothing) when there is no such template.
bool BuildDialog(QDialog& dialog, int templateId, const QList<ControlText>& contents = {});

// The base units a dialog was built with.
DialogBaseUnits GetDialogBaseUnits(const QWidget& dialog);

// The control with the given id among the dialog's controls, or nullptr.
QWidget* FindControl(const QWidget& dialog, int controlId);

template <class T> T* FindControl(const QWidget& dialog, int controlId)
{
    return qobject_cast<T*>(FindControl(dialog, controlId));
}

// The numeric id of a control built from a template, or IDC_STATIC.
int ControlId(const QWidget& control);
