#pragma once

#include <QDialog>
#include <QString>

#include <cstdint>
#include <vector>

class QSettings;

// A dialog with a sizing border: registered controls move or stretch with the
// right and bottom edges, the window cannot be made smaller than it was
// created, a size grip sits in the bottom-right corner, and the size is kept
// between runs in the application profile (section named after the template
// number in lower-case hexadecimal, keys "CX" and "CY").
class CResizableDlg : public QDialog {
    Q_OBJECT

public:
    enum AnchorFlags : unsigned {
        ANCHOR_MOVE_X = 1, // moves right by dx (unless ANCHOR_SIZE_X)
        ANCHOR_MOVE_Y = 2, // moves down by dy (unless ANCHOR_SIZE_Y)
        ANCHOR_SIZE_X = 4, // right edge follows: widens by dx
        ANCHOR_SIZE_Y = 8, // bottom edge follows: grows by dy
    };

    // Builds the dialog's controls from the template; the size at creation is
    // the minimum size.
    CResizableDlg(int templateId, QWidget* parent = nullptr);
    ~CResizableDlg() override;

    // Registers a control to follow the edges; flags 0 registers nothing.
    void AddAnchor(int controlId, unsigned flags);

    virtual QString GetSectionName() const;

    // The profile: an INI file in the user's configuration folder named after
    // the executable.
    static QString ProfilePath();

    void done(int result) override;

protected:
    // Applies the size remembered in the profile, if any. A derived dialog
    // calls it (through its own override) at the end of its constructor.
    virtual void OnInitDialog();
    void resizeEvent(QResizeEvent* event) override;

    // Stores the window size in the profile once it has been resized.
    void StoreWindowSize();

    int m_bRememberSize = 1;
    int m_bGrip = 1;
    int m_minWidth = 0;
    int m_minHeight = 0;
    int m_lastWidth = 0;
    int m_lastHeight = 0;
    int m_bResized = 0;
    std::vector<std::uint32_t> m_anchors;
    int m_templateId;
};
