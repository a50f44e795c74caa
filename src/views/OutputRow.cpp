#include "views/OutputRow.h"

#include "model/VideoEditorViewModel.h"
#include "views/Theme.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

namespace trimora {

namespace {

constexpr int busyIndicatorWidth = 50;

QString prominentStyle()
{
    const QColor accent = Theme::accent();
    QColor faded = accent;
    faded.setAlphaF(0.4f);
    return QStringLiteral("QPushButton { background-color: %1; color: white; border: none;"
                          " border-radius: 5px; padding: 3px 12px; }"
                          "QPushButton:pressed { background-color: %2; }"
                          "QPushButton:disabled { background-color: %3; color: #e6ffffff; }")
        .arg(accent.name(), accent.darker(120).name(), faded.name(QColor::HexArgb));
}

// Starts in the output path's folder with its name proposed. An export never
// replaces a file (it takes the next free name), so the dialog does not offer
// to replace one.
void configureSaveDialog(QFileDialog &dialog, const QString &outputPath)
{
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::ReadOnly, false); // lets the user create folders
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (outputPath.isEmpty()) {
        dialog.setDirectory(QDir::currentPath());
        return;
    }
    const QFileInfo info(QDir::current().absoluteFilePath(outputPath));
    dialog.setDirectory(info.path());
    dialog.selectFile(info.fileName());
}

} // namespace

OutputRow::OutputRow(VideoEditorViewModel *viewModel, QWidget *parent)
    : QWidget(parent), m_viewModel(viewModel), m_pathField(new QLineEdit(this)),
      m_browseButton(new QPushButton(QStringLiteral("Browse…"), this)),
      m_exportButton(new QPushButton(QStringLiteral("Export"), this)),
      m_busyIndicator(new QProgressBar(m_exportButton))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);

    auto *label = new QLabel(QStringLiteral("Output:"), this);
    Theme::setForeground(label, Theme::secondary());
    label->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    layout->addWidget(label);

    m_pathField->setPlaceholderText(QStringLiteral("Output path"));
    m_pathField->setAccessibleName(m_pathField->placeholderText());
    m_pathField->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    layout->addWidget(m_pathField, 1);

    layout->addWidget(m_browseButton);

    m_exportButton->setStyleSheet(prominentStyle());
    // Room for the busy indicator, so the button keeps its size while it runs.
    m_exportButton->setMinimumWidth(busyIndicatorWidth + 16);
    auto *busyLayout = new QHBoxLayout(m_exportButton);
    busyLayout->setContentsMargins(0, 0, 0, 0);
    m_busyIndicator->setRange(0, 0);
    m_busyIndicator->setTextVisible(false);
    m_busyIndicator->setFixedSize(busyIndicatorWidth, 6);
    m_busyIndicator->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_busyIndicator->hide();
    busyLayout->addWidget(m_busyIndicator, 0, Qt::AlignCenter);
    layout->addWidget(m_exportButton);

    // Every keystroke goes to the model at once; programmatic updates come back
    // through syncPath without looping.
    connect(m_pathField, &QLineEdit::textEdited, m_viewModel, &VideoEditorViewModel::setOutputPath);
    // Return, Enter and Esc end the typing: the editor's keys work again.
    connect(m_pathField, &QLineEdit::returnPressed, m_pathField, &QWidget::clearFocus);
    m_pathField->installEventFilter(this);
    connect(m_browseButton, &QPushButton::clicked, this, &OutputRow::browse);
    connect(m_exportButton, &QPushButton::clicked, m_viewModel, &VideoEditorViewModel::exportCut);
    connect(m_viewModel, &VideoEditorViewModel::outputPathChanged, this, [this] {
        syncPath();
        syncExportButton();
    });
    connect(m_viewModel, &VideoEditorViewModel::isProcessingChanged, this,
            &OutputRow::syncExportButton);
    syncPath();
    syncExportButton();
}

bool OutputRow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_pathField && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
        m_pathField->clearFocus();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

QFileDialog *OutputRow::saveDialog() const
{
    return m_saveDialog;
}

void OutputRow::browse()
{
    if (m_saveDialog) {
        m_saveDialog->raise();
        return;
    }
    m_saveDialog = new QFileDialog(this);
    m_saveDialog->setAttribute(Qt::WA_DeleteOnClose);
    configureSaveDialog(*m_saveDialog, m_viewModel->outputPath());
    connect(m_saveDialog, &QFileDialog::fileSelected, m_viewModel,
            &VideoEditorViewModel::setOutputPath);
    m_saveDialog->open();
}

void OutputRow::syncPath()
{
    const QString path = m_viewModel->outputPath();
    if (m_pathField->text() != path)
        m_pathField->setText(path);
}

void OutputRow::syncExportButton()
{
    const bool processing = m_viewModel->isProcessing();
    m_exportButton->setText(processing ? QString() : QStringLiteral("Export"));
    m_busyIndicator->setVisible(processing);
    m_exportButton->setEnabled(!processing && !m_viewModel->outputPath().isEmpty());
}

} // namespace trimora
