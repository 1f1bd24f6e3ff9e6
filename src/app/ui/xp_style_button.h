// The push button of every dialog (an icon left of its caption, drawn by the
// current style), and the program's icons and pictures.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QHBoxLayout>
#include <QPushButton>

namespace torvane {

// Icon and picture resources of the program, by their resource numbers.
enum IconResource : int {
    kIconProgram = 128,
    kIconLoadLog = 365,
    kIconSaveBeforeExit = 366,
    kIconSupport = 372,
    kIconAbout = 376,
    kIconHelpManual = 377,
    kIconOpenWebsite = 380,
    kIconDoNotExit = 396,
    kIconOk = 397,
    kIconExitWithoutSaving = 444,
    kIconCopy = 448,
    kIconSendEmail = 452,
    kIconReview = 469,
    // Mode pictures of the main window.
    kPictureBasic = 404,
    kPictureDeep = 403,
    kPicturePhoto = 206,
    kPictureVideo = 271,
    kPictureSignature = 405,
};

// The icon of that resource at the requested size (the desktop's icon theme
// where it has one, else our own drawing or the style's standard icon). A
// null icon for an unknown id.
QIcon LoadIconResource(int id, int cx, int cy);

// A mode picture of the main window, drawn at `size` pixels.
QPixmap ModePicture(int id, int size);

// The program's icon (window icons of every dialog).
QIcon ProgramIcon();

// The themed icon button. The style draws the face; SetThemeHelper is kept
// for the dialogs' set-up code and does nothing more.
class CXPStyleButtonST : public QPushButton {
    Q_OBJECT
public:
    explicit CXPStyleButtonST(const QString& text = QString(), QWidget* parent = nullptr);

    void SetThemeHelper() {}
    // Gives the button an icon resource at size x size pixels; returns 1 when
    // the resource has no icon (the button then has none), else 0.
    int SetIcon(int iconId, int size);
};

// A button with a caption, an icon resource and an optional font, in one call.
CXPStyleButtonST* MakeIconButton(const QString& text, int iconId, int size, QWidget* parent);

// The right-aligned "OK" (default) and "Cancel" row of the small dialogs.
struct OkCancelRow {
    QHBoxLayout* layout = nullptr;
    CXPStyleButtonST* ok = nullptr;
    CXPStyleButtonST* cancel = nullptr;
};
OkCancelRow MakeOkCancelRow(QWidget* parent);

// A two-line command button of the question dialogs: the answer, then what
// it does (also its tool tip).
QPushButton* MakeCommandButton(const QString& text, const QString& note, const QString& name, QWidget* parent);

}  // namespace torvane
