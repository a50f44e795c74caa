#include "views/OutputRow.h"

#include "model/Exports.h"
#include "views/Theme.h"

#include <QComboBox>
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
constexpr int progressSteps = 1000;

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

OutputRow::OutputRow(Exports *exports, QWidget *parent)
    : QWidget(parent), m_exports(exports), m_pathField(new QLineEdit(this)),
      m_browseButton(new QPushButton(QStringLiteral("Browse…"), this)),
      m_exportButton(new QPushButton(QStringLiteral("Export"), this)),
      m_busyIndicator(new QProgressBar(m_exportButton)),
      m_cancelButton(new QPushButton(tr("Cancel"), this)), m_method(new QComboBox(this))
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

    m_method->addItems({tr("Copy"), tr("Exact")});
    m_method->setAccessibleName(tr("Method"));
    m_method->setToolTip(tr("Copy: streams copied unchanged; a cut starts at a keyframe.\n"
                            "Exact: the frames at the edges are re-encoded, so that a cut starts "
                            "and ends on its marks; the rest is copied."));
    // A click leaves the keys with the editor.
    m_method->setFocusPolicy(Qt::TabFocus);
    layout->addWidget(m_method);

    m_exportButton->setStyleSheet(prominentStyle());
    // Room for the busy indicator, so the button keeps its size while it runs.
    m_exportButton->setMinimumWidth(busyIndicatorWidth + 16);
    auto *busyLayout = new QHBoxLayout(m_exportButton);
    busyLayout->setContentsMargins(0, 0, 0, 0);
    m_busyIndicator->setRange(0, progressSteps);
    m_busyIndicator->setTextVisible(false);
    m_busyIndicator->setFixedSize(busyIndicatorWidth, 6);
    m_busyIndicator->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_busyIndicator->hide();
    busyLayout->addWidget(m_busyIndicator, 0, Qt::AlignCenter);
    layout->addWidget(m_exportButton);
    m_cancelButton->setToolTip(tr("Stop the export; the files it has finished stay"));
    m_cancelButton->hide();
    layout->addWidget(m_cancelButton);

    // Every keystroke goes to the model at once; programmatic updates come back
    // through syncPath without looping.
    connect(m_pathField, &QLineEdit::textEdited, m_exports, &Exports::setOutputPath);
    // Return, Enter and Esc end the typing: the editor's keys work again.
    connect(m_pathField, &QLineEdit::returnPressed, m_pathField, &QWidget::clearFocus);
    m_pathField->installEventFilter(this);
    connect(m_browseButton, &QPushButton::clicked, this, &OutputRow::browse);
    connect(m_exportButton, &QPushButton::clicked, m_exports, &Exports::exportCut);
    connect(m_exports, &Exports::outputPathChanged, this, [this] {
        syncPath();
        syncExportButton();
    });
    connect(m_exports, &Exports::isProcessingChanged, this, &OutputRow::syncExportButton);
    connect(m_method, &QComboBox::activated, this, [this](int index) {
        ExportChoice choice = m_exports->choice();
        choice.exact = index == 1;
        m_exports->setChoice(choice);
    });
    connect(m_exports, &Exports::choiceChanged, this, &OutputRow::syncExportButton);
    connect(m_cancelButton, &QPushButton::clicked, m_exports, &Exports::cancelExport);
    connect(m_exports, &Exports::progressChanged, this, [this] {
        m_busyIndicator->setValue(static_cast<int>(m_exports->progress() * progressSteps));
    });
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
    configureSaveDialog(*m_saveDialog, m_exports->outputPath());
    connect(m_saveDialog, &QFileDialog::fileSelected, m_exports, &Exports::setOutputPath);
    m_saveDialog->open();
}

void OutputRow::syncPath()
{
    const QString path = m_exports->outputPath();
    if (m_pathField->text() != path)
        m_pathField->setText(path);
}

void OutputRow::syncExportButton()
{
    const bool processing = m_exports->isProcessing();
    m_exportButton->setText(processing ? QString() : QStringLiteral("Export"));
    m_busyIndicator->setVisible(processing);
    m_busyIndicator->setValue(static_cast<int>(m_exports->progress() * progressSteps));
    m_cancelButton->setVisible(processing);
    m_method->setCurrentIndex(m_exports->choice().exact ? 1 : 0);
    m_method->setEnabled(!processing);
    m_exportButton->setEnabled(!processing && !m_exports->outputPath().isEmpty());
}

} // namespace trimora
