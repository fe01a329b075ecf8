// The top-level widget of a dialog while its modal run lasts: builds the
// controls of the dialog's template, places them by scaling the template's
// dialog units to the widget's size (so relative positions and proportions
// stay as designed whatever the screen), scales the dialog's font with them,
// and hands close requests, the Enter and Escape keys and activation to the
// dialog.
//
// Threads: the user-interface thread only.
#pragma once

#include <QSizeF>
#include <QWidget>
#include <map>
#include <utility>
#include <vector>

#include "framework/dialog_template.h"

class CDialog;

class CDialogWindow : public QWidget {
public:
    // owner: the window of the dialog that owns this one (it then stays above
    // it), or null.
    CDialogWindow(CDialog& dialog, const DialogTemplate& dialogTemplate, QWidget* owner);
    ~CDialogWindow() override;

    // Makes the template's controls (once) and places them.
    void CreateControls();
    // The widget of control id; null when there is none.
    QWidget* Control(int controlId) const;

    // Pixels per dialog unit, horizontally and vertically, at the current size.
    QSizeF PixelsPerUnit() const;
    // Pixels per dialog unit for the template's own font, at the nominal
    // resolution (96 dots per inch): the size a dialog has when nothing else
    // decides it.
    static QSizeF NominalPixelsPerUnit(const DialogTemplate& dialogTemplate);
    // The template's font height in pixels at the nominal resolution.
    static double NominalFontPixels(const DialogTemplate& dialogTemplate);
    // The pixel rectangle of an item at the given scale.
    static QRect ScaleItem(const DialogItemTemplate& item, QSizeF pixelsPerUnit);

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QWidget* MakeControl(const DialogItemTemplate& item);
    void LayOut();
    void SendCommand(int controlId);

    CDialog& m_dialog;
    const DialogTemplate& m_template;
    std::map<int, QWidget*> m_controls;  // children of this widget, by id (not the labels)
    std::vector<std::pair<const DialogItemTemplate*, QWidget*>> m_items;  // every control
};
