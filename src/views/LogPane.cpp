#include "views/LogPane.h"

LogPane::LogPane(VideoEditorViewModel *viewModel, QWidget *parent)
    : QWidget(parent), m_viewModel(viewModel)
{}
