#pragma once

#include <QPlainTextEdit>

namespace trimora {

class VideoEditorViewModel;

// The export's console output, following the model's log by appending each
// chunk (a long export prints thousands) and keeping its end in view; its
// text can be selected and copied. The
// status marks ✅ and ❌ are drawn by the pane itself: many desktops have no
// font with them and would show an empty box.
class LogPane : public QPlainTextEdit
{
    Q_OBJECT
public:
    explicit LogPane(VideoEditorViewModel *viewModel, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void append(const QString &chunk);
    void reset();
    void scrollToEnd();
    // The chunk as the pane shows it: a carriage return starts a new line, as
    // a terminal's rewritten progress line would read, and no line grows past
    // maxLineLength, since the text layout's cost grows with the line.
    QString displayText(const QString &chunk);

    VideoEditorViewModel *m_viewModel;
    qsizetype m_lineLength = 0;
    bool m_afterCarriageReturn = false;
};

} // namespace trimora
