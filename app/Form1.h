#pragma once

#include "platform/CommonDialog.h"
#include "platform/PictureBox.h"
#include "platform/RichTextBox.h"
#include "platform/Services.h"
#include "platform/SkinFramework.h"
#include "save/SaveState.h"
#include "text/EditingState.h"
#include "text/StampHistory.h"
#include "workspace/PictureDocument.h"

#include <QCursor>
#include <QWidget>
#include <memory>

class QGroupBox;
class QMenu;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QScrollBar;
class QSlider;

// Mouse pointer values of the main window.
enum MousePointerValue : int { vbDefault = 0, vbHourglass = 11, vbCustom = 99 };

// The 16-bit boolean values the program keeps in its flags.
constexpr qint16 vbTrue = -1;
constexpr qint16 vbFalse = 0;

// The main window: owns every control and all state; its handlers are its methods. The
// handlers are defined in the folder of their subsystem (app/, workspace/, text/, save/).
class Form1 : public QWidget {
    Q_OBJECT
public:
    explicit Form1(Services &services, QWidget *parent = nullptr);
    ~Form1() override;

    Services &services() { return services_; }

    // ---- Application shell (app/) ----
    void Form_Load();        // started the program
    void Form_QueryUnload(); // closed the window
    void Form_Unload();      // closed the window, nothing left to ask
    void Form_Click();       // clicked the window outside every control
    void ApplySkin();
    void SetApplicationTitle();
    void OpenHomePageByChance();
    void PushButton6_Click(); // clicked "Help"
    void ReportError(const QString &procedure, int line, const QString &description);
    // Shows a message box titled with the application title unless a title is given.
    MsgAnswer MsgBox(const QString &text, MsgButtons buttons, int defaultButton = 1,
                     MsgIcon icon = MsgIcon::None, const QString &title = QString());
    int MousePointer() const { return mousePointer_; }
    void setMousePointer(int value);
    // The hover rule shared by the pointer handlers: an hourglass stays, anything else is replaced.
    void HoverPointer(int value);
    QString ApplicationTitle() const { return appTitle_; }
    QString ProgramFolder() const;
    // One of the files the program reads from its folder (the name starting with "/"): there
    // when it is there, else where an installed program keeps it (Services::dataFolder), else
    // (absent) in the program's folder.
    QString ProgramFile(const QString &name) const;

    // ---- Picture workspace (workspace/) ----
    void SetPicture();
    void PushButton1_Click();  // clicked "Load Picture"
    void PushButton7_Click();  // clicked "Load Sample/Example Picture"
    void PushButton12_Click(); // clicked "Reload Original Picture"
    void PushButton10_Click(); // clicked "Zoom In"
    void PushButton11_Click(); // clicked "Zoom Out"
    void PushButton13_Click(); // clicked "Reload Original Size"
    void StepZoom(const qint32 &shrink);
    void SetZoom(const float &factor);
    void ApplyZoom();
    void ScrollBars();
    void HScroll1_Change(); // moved the horizontal scroll bar
    void VScroll1_Change(); // moved the vertical scroll bar
    void Picture2_Click();  // clicked the viewport beside the picture

    // ---- Text editing (text/) ----
    // moved the pointer over the picture
    void Picture1_MouseMove(Qt::MouseButtons button, Qt::KeyboardModifiers shift, float x, float y);
    void Picture1_Click();    // clicked on the picture
    void PushButton8_Click(); // clicked "Cancel Editing Text"
    // Scrolls the picture so that the area (the open box) is in view.
    void ScrollIntoView(const QRect &area);
    void ApplyWindowStyle(qint32 style, RichTextBox *control);
    void PushButton2_Click(); // clicked "Change Fore Color"
    void PushButton5_Click(); // clicked "Change Font"
    void FinishEditing();
    void PushButton3_Click(); // clicked "Finish Editing Text"
    // Shows the editing box anew after its caption's look changed (text/CaptionCommands.cpp).
    void ShowCaptionLook();
    // Caption commands, from the context menu of the box or of the picture, or their keys
    // (text/CaptionCommands.cpp, text/ReEdit.cpp).
    void AlignText(Qt::Alignment alignment); // chose Align Left, Center or Right
    void ChooseOutline();                    // chose Outline...
    void ToggleShadow();                     // chose Drop Shadow
    void ChoosePlate();                      // chose Background Plate...
    void ReEditLastStamp();                  // chose Re-edit Last Stamp
    bool CanReEditLastStamp() const;
    // The context menu of the open box (its own editing entries first) or of the picture; it
    // deletes itself when closed.
    QMenu *CaptionMenu(bool onBox);
    // Undo and redo of stamps (text/Undo.cpp).
    void UndoStamp(); // chose Undo Stamp
    void RedoStamp(); // chose Redo Stamp

    // Loads a file dropped on the window as "Load Picture" would with it chosen (app/FileDrop.cpp).
    void LoadDroppedFile(const QString &path); // dropped a picture file on the window
    // The same for the file the program was started with (`glyphtack FILE`, app/Startup.cpp).
    void LoadStartFile(const QString &path); // opened a picture with the program

    // ---- Saving (save/) ----
    void PushButton4_Click(); // clicked "Save As Image File"
    QString AskSaveFileName();
    void Option21_Click();    // chose "Smart-Detect"
    void Option22_Click();    // chose "Fixed Quality:"
    void Slider1_Change();    // moved the quality slider
    void PushButton9_Click(); // clicked "?" beside the quality options
    // Selecting an option in code runs its click handler when the selection changes.
    void setOptionValue(QRadioButton *option, bool value);

    // ---- Controls ----
    PictureBox *Picture2 = nullptr;
    PictureBox *Picture1 = nullptr;
    PictureBox *Zoom_Ori = nullptr;
    PictureBox *Creator = nullptr;
    RichTextBox *Text1 = nullptr;
    RichTextBox *RichTextBox1 = nullptr;
    QScrollBar *HScroll1 = nullptr;
    QScrollBar *VScroll1 = nullptr;
    QPushButton *PushButton1 = nullptr;
    QPushButton *PushButton2 = nullptr;
    QPushButton *PushButton3 = nullptr;
    QPushButton *PushButton4 = nullptr;
    QPushButton *PushButton5 = nullptr;
    QPushButton *PushButton6 = nullptr;
    QPushButton *PushButton7 = nullptr;
    QPushButton *PushButton8 = nullptr;
    QPushButton *PushButton9 = nullptr;
    QPushButton *PushButton10 = nullptr;
    QPushButton *PushButton11 = nullptr;
    QPushButton *PushButton12 = nullptr;
    QPushButton *PushButton13 = nullptr;
    QGroupBox *Frame1 = nullptr;
    QGroupBox *Frame2 = nullptr;
    QGroupBox *Frame4 = nullptr;
    QRadioButton *Option21 = nullptr;
    QRadioButton *Option22 = nullptr;
    QSlider *Slider1 = nullptr;
    std::unique_ptr<CommonDialog> CommonDialog1;
    std::unique_ptr<CommonDialog> CommonDialog2;
    SkinFramework SkinFramework1;

    // ---- State ----
    PictureDocument doc;
    qint16 TextEditing = vbFalse;
    EditingState editing;
    CaptionActions captionActions;
    SaveState saving;
    StampHistory history;
    // The record (file, quality, camera data) of the picture in the zoom source, kept with it
    // through undo and redo of loads.
    PictureRecord shownRecord;
    // True when stamps that were never saved would be lost at close: in the picture now, or in one
    // a later load replaced, which undo brings back (text/StampHistory.h).
    bool hasUnsavedStamps() const { return history.holdsUnsavedStamps(); }
    // True when the open editing box holds text the user typed (not the text it opens with).
    bool boxHoldsTypedText() const;
    // The picture shown now, whole with its record, as a load over it keeps it for undo.
    PictureChange shownPictureChange() const;
    // Before a load: asks when the load would put unsaved stamps out of undo's reach; true when
    // the load may go on (app/Unsaved.cpp).
    bool mayLoadOverUnsavedStamps();
    // Before a stamp whose undo copy would push unsaved stamps of an earlier picture out of
    // reach: true when the stamp may go on.
    bool mayStampOverUnsavedStamps(const PictureChange &before);
    // Shows or hides the sign that a save is at work (save/SaveWork.cpp).
    void showSaving(bool shown);

    // All push buttons in number order (PushButton1 first).
    QList<QPushButton *> pushButtons() const;

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    // Asks what to do with stamps that were never saved; true when the window may close.
    bool mayCloseWithUnsavedStamps();
    void createControls();
    void connectControls();
    void applyPointer();
    // Keyboard shortcuts and file drops (app/Shortcuts.cpp, app/FileDrop.cpp).
    void setUpShortcuts();
    void setUpFileDrop();
    // The editing box draws its caption as the stamp does; the caption commands and their keys
    // (text/CaptionCommands.cpp).
    void setUpCaptionBox();
    // The mouse wheel over the viewport scrolls the picture (workspace/Scrolling.cpp).
    void setUpWheelScrolling();

    Services &services_;
    QProgressBar *savingBar_ = nullptr;
    QString appTitle_;
    int mousePointer_ = vbDefault;
    bool hasHandCursor_ = false;
    QCursor handCursor_;
    bool backgroundPressed_ = false;
};
