// The frame window: hosts the spectrum windows, owns the menu bar, the
// exposure timer and the exit with its confirmation and settings save.
#pragma once

#include <QKeySequence>
#include <QMainWindow>
#include <QPointer>

class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QAction;
class QTimer;
class TPeakPanel;
#include "ui/platform/MenuItems.h"
#include "ui/graph/UGraph.h"

class TFRYV : public QMainWindow {
    Q_OBJECT
public:
    explicit TFRYV(QWidget *parent = nullptr);
    ~TFRYV() override; // runs FormDestroy

    // Opening handlers: bring marks, captions and enabled states up to date.
    void MWindClick();
    void MStartClick();
    void MOperationClick();
    void MDeviceClick();
    void MHelpClick();
    void MViewClick();

    // Item handlers.
    void MNewClick();
    void MCascadeClick();
    void MHorClick();
    void MVertClick();
    void MIconsClick();
    void MCloseAllClick();
    void MExitClick();
    void NStartClick();
    void NStopClick();
    void MClearClick();
    void NIn_1Click();
    void NIn_2Click();
    void NIn_3Click();
    void NIn_AllClick();
    void TimerExpTimer();
    void EnableTimerExp();
    void MISAClick();
    void MPCIClick();
    void MPCMCIAClick();
    void MPrintClick();
    void NTypeParClick();
    void NTyprOtherClick();
    void MIn1Click();
    void MIn2Click();
    void MIn3Click();
    void M1KClick();
    void M4KClick();
    void M16KClick();
    void NHRYVClick();
    void NAbProgrammClick();
    void NHintWinClick();
    void Natcsalo();
    void NLogScaleClick();
    void NAutoScaleClick();
    void NKeVAxisClick();
    void NPeakPanelClick();
    void NFindPeaksClick();

    bool FormCloseQuery();
    void FormDestroy();

    // Spectrum windows in creation order.
    QList<TFGraph *> SpectrumWindows() const;
    int SpectrumWindowCount() const;

    // The shortcut dispatcher: runs the opening handlers of the menus above
    // the item, then the item when it and all menus above are enabled.
    // Returns true when the key is a shortcut of the current menu bar.
    bool DispatchShortcut(const QKeySequence &key);
    // Rebuilds the bar: the frame's menus and the active window's, by group.
    void RebuildMenuBar();
    TFGraph *MenuWindow() const { return menuGraph_; }

    QMdiArea *MdiArea;
    QTimer *TimerExp;
    // Hidden hot-key fields that supply the action inputs' shortcuts.
    QKeySequence HotKey1, HotKey2, HotKey3;

    QMenu *MWind;
    QAction *MNew, *MCascade, *MHor, *MVert, *MIcons, *MCloseAll, *MExit;
    QMenu *MStart;
    QAction *NStart, *NStop;
    QAction *MClear;
    QMenu *MOperation;
    QAction *NIn_1, *NIn_2, *NIn_3, *NIn_All;
    QMenu *MDevice;
    QMenu *MInterface, *NTypeADC, *MInNumber, *MChenNumber;
    QAction *MISA, *MPCI, *MPCMCIA, *MPrint;
    QAction *NTypePar, *NTyprOther;
    QAction *MIn1, *MIn2, *MIn3;
    QAction *M1K, *M4K, *M16K;
    QMenu *MView;
    QAction *NLogScale, *NAutoScale, *NKeVAxis, *NPeakPanel, *NFindPeaks;
    // The peak panel, made when first shown.
    TPeakPanel *PeakPanel = nullptr;
    QMenu *MHelp;
    QAction *NAbProgramm, *NHRYV, *NHintWin;

protected:
    void closeEvent(QCloseEvent *e) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void BuildMenus();
    void SubWindowActivated(QMdiSubWindow *w);
    void BuildViewMenu();
    // Every spectrum window redrawn after a view choice changed.
    void ViewChanged();
    void ShowPeakPanel(bool show);
    QPointer<TFGraph> menuGraph_;
    bool destroyed_ = false;
};
