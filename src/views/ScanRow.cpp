#include "views/ScanRow.h"

#include "analysis/ScanLogic.h"
#include "model/Analysis.h"
#include "model/Movie.h"
#include "model/Transport.h"
#include "model/VideoEditorViewModel.h"
#include "views/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <cmath>

namespace trimora {

namespace {

QPushButton *smallButton(const QString &text, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    QFont font = button->font();
    font.setPointSizeF(Theme::font(Theme::TextStyle::Caption).pointSizeF() * 1.1);
    button->setFont(font);
    return button;
}

QLabel *captionLabel(QWidget *parent, bool monospacedDigits = false)
{
    auto *label = new QLabel(parent);
    label->setFont(Theme::font(Theme::TextStyle::Caption, monospacedDigits));
    Theme::setForeground(label, Theme::secondary());
    return label;
}

} // namespace

ScanRow::ScanRow(VideoEditorViewModel *viewModel, QWidget *parent)
    : QWidget(parent), m_viewModel(viewModel)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);

    // Whole percents, as the text beside it: every change repaints the window,
    // which the GL video surface makes Qt compose whole, so a step that moves
    // neither costs nothing.
    m_progress = new QProgressBar(this);
    m_progress->setRange(0, 100);
    m_progress->setTextVisible(false);
    m_progress->setFixedWidth(120);
    m_percent = captionLabel(this, true);
    m_cancel = smallButton(QStringLiteral("Cancel"), this);
    m_scan = smallButton(QStringLiteral("Scan B/W Frames"), this);
    m_notFound = captionLabel(this);
    m_notFound->setText(QStringLiteral("Not Found"));
    m_count = captionLabel(this);
    m_previous = smallButton(QStringLiteral("◀ Prev"), this);
    m_next = smallButton(QStringLiteral("Next ▶"), this);

    for (QWidget *item : std::initializer_list<QWidget *>{m_progress, m_percent, m_cancel, m_scan,
                                                          m_notFound, m_count, m_previous, m_next})
        layout->addWidget(item, 0, Qt::AlignVCenter);
    layout->addStretch(1);

    Analysis *analysis = m_viewModel->analysis();
    connect(m_cancel, &QPushButton::clicked, analysis, &Analysis::cancelScan);
    connect(m_scan, &QPushButton::clicked, analysis, &Analysis::startScan);
    connect(m_previous, &QPushButton::clicked, m_viewModel,
            &VideoEditorViewModel::goToPreviousMarker);
    connect(m_next, &QPushButton::clicked, m_viewModel, &VideoEditorViewModel::goToNextMarker);

    for (auto signal : {&Analysis::isScanningChanged, &Analysis::hasScannedChanged,
                        &Analysis::scanProgressChanged, &Analysis::blackWhiteFramesChanged})
        connect(analysis, signal, this, &ScanRow::refresh);
    connect(m_viewModel->movie(), &Movie::isLoadedChanged, this, &ScanRow::refresh);
    connect(m_viewModel->transport(), &Transport::currentTimeChanged, this, &ScanRow::refresh);
    refresh();
}

void ScanRow::refresh()
{
    const Analysis &m = *m_viewModel->analysis();
    const double now = m_viewModel->transport()->currentTime();
    const bool scanning = m.isScanning();
    const QVector<double> frames = m.blackWhiteFrames();
    const std::vector<double> markers(frames.begin(), frames.end());
    const bool notFound = !scanning && m.hasScanned() && markers.empty();
    const bool found = !scanning && !markers.empty();

    m_progress->setVisible(scanning);
    m_percent->setVisible(scanning);
    m_cancel->setVisible(scanning);
    m_scan->setVisible(!scanning);
    m_notFound->setVisible(notFound);
    m_count->setVisible(found);
    m_previous->setVisible(found);
    m_next->setVisible(found);

    if (scanning) {
        const double percent = std::trunc(m.scanProgress() * 100);
        m_progress->setValue(static_cast<int>(std::clamp(percent, 0.0, 100.0)));
        m_percent->setText(QStringLiteral("%1%").arg(static_cast<long long>(percent)));
    }
    m_scan->setEnabled(m_viewModel->movie()->isLoaded());
    if (found) {
        m_count->setText(QStringLiteral("%1 found").arg(markers.size()));
        m_previous->setEnabled(scan::previousMarker(markers, now).has_value());
        m_next->setEnabled(scan::nextMarker(markers, now).has_value());
    }
}

} // namespace trimora
