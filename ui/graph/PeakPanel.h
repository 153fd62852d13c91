// The peak panel: a dock of the frame that follows the active spectrum
// window's input. A header with the exposure's real and live time, the
// count rates and the nuclides present; a table with the region between the
// markers and one row per peak found. A double click on a peak puts the
// markers around it; Ctrl+C copies the table as tab-separated text.
#pragma once

#include "analysis/Peaks.h"
#include "ui/graph/UGraph.h"

#include <QDockWidget>
#include <QPointer>

class QDoubleSpinBox;
class QLabel;
class QTableWidget;

class TPeakPanel : public QDockWidget {
    Q_OBJECT
public:
    explicit TPeakPanel(QWidget *parent);

    // Measures the window's input and shows the results.
    void Refresh(TFGraph *window);
    // The table as tab-separated text, one line per row, header first.
    QString TableText() const;

    QLabel *Header() const { return header_; }
    QTableWidget *Table() const { return table_; }
    QDoubleSpinBox *Threshold() const { return threshold_; }
    const std::vector<FoundPeak> &Peaks() const { return peaks_; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void PeakRowActivated(int row);

    QLabel *header_;
    QDoubleSpinBox *threshold_;
    QTableWidget *table_;
    QPointer<TFGraph> window_;
    std::vector<FoundPeak> peaks_;
    // The last refresh's total and real time per input, for the rate over
    // the refresh interval.
    double lastTotal_[3] = {-1, -1, -1};
    double lastElapsed_[3] = {0, 0, 0};
    double lastLive_[3] = {0, 0, 0};
    double intervalRate_[3] = {0, 0, 0};
};
