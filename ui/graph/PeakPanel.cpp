#include "ui/graph/PeakPanel.h"

#include "ui/graph/UGraph.h"
#include "ui/graph/ViewChoices.h"
#include "ui/platform/Platform.h"

#include <QApplication>
#include <QClipboard>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cmath>
#include <numeric>

namespace {
constexpr double kSecondsPerDay = 86400.0;

enum Column { ColWhat, ColChannel, ColEnergy, ColFwhm, ColGross, ColNet, ColNetSigma, ColRate, ColRateSigma, ColNuclides, ColCount };

// The locale's decimal separator, no group separators (the text is copied
// into other programs).
QString Number(double v, int decimals)
{
    QLocale l;
    l.setNumberOptions(QLocale::OmitGroupSeparator);
    return l.toString(v, 'f', decimals);
}

QString Seconds(double days) { return Number(days * kSecondsPerDay, 1) + QStringLiteral(" с"); }
} // namespace

TPeakPanel::TPeakPanel(QWidget *parent) : QDockWidget(QStringLiteral("Пики"), parent)
{
    setObjectName(QStringLiteral("DPeaks"));
    setAllowedAreas(Qt::BottomDockWidgetArea | Qt::TopDockWidgetArea);
    setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    auto *body = new QWidget(this);
    auto *layout = new QVBoxLayout(body);
    layout->setContentsMargins(4, 2, 4, 2);
    auto *top = new QHBoxLayout;
    header_ = new QLabel(body);
    header_->setObjectName(QStringLiteral("LPeakHeader"));
    header_->setTextFormat(Qt::PlainText);
    header_->setWordWrap(true);
    top->addWidget(header_, 1);
    top->addWidget(new QLabel(QStringLiteral("Порог, σ:"), body));
    threshold_ = new QDoubleSpinBox(body);
    threshold_->setObjectName(QStringLiteral("SEThreshold"));
    threshold_->setRange(1.0, 50.0);
    threshold_->setSingleStep(0.5);
    threshold_->setDecimals(1);
    threshold_->setValue(View.Threshold);
    threshold_->setToolTip(QStringLiteral("Значимость пика при поиске, в стандартных отклонениях."));
    connect(threshold_, &QDoubleSpinBox::valueChanged, this, [this](double v) {
        View.Threshold = v;
        SaveViewChoices();
        if (window_)
            Platform::Guarded([this] { Refresh(window_); });
    });
    top->addWidget(threshold_);
    layout->addLayout(top);
    table_ = new QTableWidget(0, ColCount, body);
    table_->setObjectName(QStringLiteral("TPeaks"));
    table_->setHorizontalHeaderLabels({QStringLiteral(""), QStringLiteral("Канал"), QStringLiteral("Энергия, кэВ"),
                                       QStringLiteral("FWHM"), QStringLiteral("Сумма"), QStringLiteral("Площадь"),
                                       QStringLiteral("±σ"), QStringLiteral("Скорость, 1/с"), QStringLiteral("±σ"),
                                       QStringLiteral("Нуклиды")});
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->horizontalHeader()->setSectionResizeMode(ColWhat, QHeaderView::ResizeToContents);
    table_->installEventFilter(this);
    connect(table_, &QTableWidget::cellDoubleClicked, this,
            [this](int row, int) { Platform::Guarded([&] { PeakRowActivated(row); }); });
    layout->addWidget(table_, 1);
    setWidget(body);
}

bool TPeakPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == table_ && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent *>(event)->matches(QKeySequence::Copy)) {
        QApplication::clipboard()->setText(TableText());
        return true;
    }
    return QDockWidget::eventFilter(watched, event);
}

QString TPeakPanel::TableText() const
{
    QStringList lines;
    QStringList cells;
    for (int c = 0; c < table_->columnCount(); ++c)
        cells << table_->horizontalHeaderItem(c)->text();
    lines << cells.join(QLatin1Char('\t'));
    for (int r = 0; r < table_->rowCount(); ++r) {
        cells.clear();
        for (int c = 0; c < table_->columnCount(); ++c) {
            const QTableWidgetItem *item = table_->item(r, c);
            cells << (item ? item->text() : QString());
        }
        lines << cells.join(QLatin1Char('\t'));
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

void TPeakPanel::Refresh(TFGraph *window)
{
    window_ = window;
    const int n = window ? window->InputNumber : 0;
    if (n < 1 || n > 3) {
        header_->setText(QString());
        table_->setRowCount(0);
        return;
    }
    setWindowTitle(QStringLiteral("Пики: вход %1").arg(n));
    const std::vector<double> counts = SpectrumOf(n);
    const double total = std::accumulate(counts.begin(), counts.end(), 0.0);
    const Calibration cal = CalibrationOf(Settings);
    const double real = std::isfinite(Elapsed[n - 1]) ? Elapsed[n - 1] : 0.0;
    double live = 0;
    const bool hasLive = LiveTime(n, live);
    const double time = (hasLive ? live : real) * kSecondsPerDay; // seconds the rates are over

    // Rate over the last refresh interval, from this panel's previous look,
    // over the same time as the exposure's rate: live where it is known.
    double &lastTotal = lastTotal_[n - 1], &lastElapsed = lastElapsed_[n - 1], &lastLive = lastLive_[n - 1];
    const double span = hasLive ? live - lastLive : real - lastElapsed;
    if (lastTotal >= 0 && real > lastElapsed && span > 0)
        intervalRate_[n - 1] = (total - lastTotal) / (span * kSecondsPerDay);
    else if (real < lastElapsed || lastTotal < 0)
        intervalRate_[n - 1] = 0;
    if (real != lastElapsed || lastTotal < 0) {
        lastTotal = total;
        lastElapsed = real;
        lastLive = hasLive ? live : 0.0;
    }

    peaks_ = FindPeaks(counts, View.Threshold, cal);
    const int32_t channels = static_cast<int32_t>(counts.size());

    QString head = QStringLiteral("Реальное время: ") + Seconds(real);
    if (hasLive)
        head += QStringLiteral("   Живое время: ") + Seconds(live);
    head += QStringLiteral("   Скорость счёта: ") +
            (time > 0 ? Number(total / time, 1) : QStringLiteral("—")) + QStringLiteral(" 1/с, за интервал: ") +
            Number(intervalRate_[n - 1], 1) + QStringLiteral(" 1/с");
    if (!cal.Valid) {
        head += QStringLiteral("\nСпектр не откалиброван.");
    } else {
        QStringList present;
        for (const std::string &s : NuclidesPresent(peaks_, cal, channels, counts))
            present << QString::fromStdString(s);
        head += QStringLiteral("\nНуклиды: ") + (present.isEmpty() ? QStringLiteral("—") : present.join(QStringLiteral(", ")));
    }
    header_->setText(head);

    table_->setRowCount(1 + static_cast<int>(peaks_.size()));
    auto set = [this](int row, int col, const QString &text) {
        QTableWidgetItem *item = table_->item(row, col);
        if (!item) {
            item = new QTableWidgetItem;
            item->setTextAlignment(col == ColWhat || col == ColNuclides ? Qt::AlignLeft | Qt::AlignVCenter
                                                                        : Qt::AlignRight | Qt::AlignVCenter);
            table_->setItem(row, col, item);
        }
        if (item->text() != text)
            item->setText(text);
    };
    auto rate = [time](double v) { return time > 0 ? Number(v / time, 2) : QStringLiteral("—"); };

    // The region between the markers.
    const int32_t m1 = std::min(Settings.Marker[0], Settings.Marker[1]);
    const int32_t m2 = std::max(Settings.Marker[0], Settings.Marker[1]);
    const RegionArea r = MeasureRegion(counts, m1, m2);
    set(0, ColWhat, QStringLiteral("Маркеры %1–%2").arg(m1).arg(m2));
    if (r.Valid) {
        set(0, ColChannel, r.Net > 0 ? Number(r.Centroid, 2) : QString());
        set(0, ColEnergy, cal.Valid && r.Net > 0 ? Number(cal.Energy(r.Centroid), 2) : QString());
        set(0, ColFwhm, cal.Valid && r.Net > 0 ? Number(r.Fwhm * cal.KeVPerChannel(), 2) + QStringLiteral(" кэВ")
                                             : QString());
        set(0, ColGross, Number(r.Gross, 0));
        set(0, ColNet, Number(r.Net, 0));
        set(0, ColNetSigma, Number(r.NetSigma, 0));
        set(0, ColRate, rate(r.Net));
        set(0, ColRateSigma, rate(r.NetSigma));
    } else {
        for (int c = ColChannel; c < ColNuclides; ++c)
            set(0, c, QString());
        set(0, ColGross, QStringLiteral("мало каналов"));
    }
    set(0, ColNuclides, QString());

    for (size_t i = 0; i < peaks_.size(); ++i) {
        const FoundPeak &p = peaks_[i];
        const int row = 1 + static_cast<int>(i);
        set(row, ColWhat, QStringLiteral("Пик %1").arg(row));
        set(row, ColChannel, Number(p.Centroid, 2));
        set(row, ColEnergy, cal.Valid ? Number(cal.Energy(p.Centroid), 2) : QString());
        set(row, ColFwhm, cal.Valid ? Number(p.Fwhm * cal.KeVPerChannel(), 2) + QStringLiteral(" кэВ")
                                    : Number(p.Fwhm, 2) + QStringLiteral(" кан."));
        set(row, ColGross, QString());
        set(row, ColNet, Number(p.Area, 0));
        set(row, ColNetSigma, Number(p.AreaSigma, 0));
        set(row, ColRate, rate(p.Area));
        set(row, ColRateSigma, rate(p.AreaSigma));
        QStringList names;
        if (cal.Valid)
            for (const std::string &s : NuclidesAt(cal.Energy(p.Centroid), p.Fwhm * cal.KeVPerChannel()))
                names << QString::fromStdString(s);
        set(row, ColNuclides, names.join(QStringLiteral(", ")));
    }
}

void TPeakPanel::PeakRowActivated(int row)
{
    if (row < 1 || row > static_cast<int>(peaks_.size()) || !window_)
        return;
    const FoundPeak &p = peaks_[size_t(row - 1)];
    const int32_t last = std::max(Settings.ChannelCount - 1, 0);
    const auto lo = static_cast<int32_t>(std::clamp(std::floor(p.Centroid - 1.5 * p.Fwhm), 0.0, double(last)));
    const auto hi = static_cast<int32_t>(std::clamp(std::ceil(p.Centroid + 1.5 * p.Fwhm), 0.0, double(last)));
    window_->Markers().MoveMarker(1, lo);
    window_->Markers().MoveMarker(2, hi);
    Refresh(window_);
}
