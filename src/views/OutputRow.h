#pragma once

#include <QPointer>
#include <QWidget>

class QComboBox;
class QFileDialog;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace trimora {

class Exports;

// "Output:", the output path field, "Browse…" (a save dialog whose choice
// becomes the output path) and the Export button, which shows the export's
// progress while it runs, with a Cancel button beside it; beside it too, the
// choice between a copy cut and an exact one.
class OutputRow : public QWidget
{
    Q_OBJECT
public:
    explicit OutputRow(Exports *exports, QWidget *parent = nullptr);

    QLineEdit *pathField() const { return m_pathField; }
    QPushButton *browseButton() const { return m_browseButton; }
    QPushButton *exportButton() const { return m_exportButton; }
    // The export's progress, shown in the Export button while it runs.
    QProgressBar *busyIndicator() const { return m_busyIndicator; }
    QPushButton *cancelButton() const { return m_cancelButton; }
    // Copy or Exact.
    QComboBox *methodChoice() const { return m_method; }
    // The open save dialog, if any.
    QFileDialog *saveDialog() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void browse();
    void syncPath();
    void syncExportButton();

    Exports *m_exports;
    QLineEdit *m_pathField;
    QPushButton *m_browseButton;
    QPushButton *m_exportButton;
    QProgressBar *m_busyIndicator;
    QPushButton *m_cancelButton;
    QComboBox *m_method;
    QPointer<QFileDialog> m_saveDialog;
};

} // namespace trimora
