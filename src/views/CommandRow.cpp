#include "views/CommandRow.h"

CommandRow::CommandRow(VideoEditorViewModel *viewModel, QWidget *parent)
    : QWidget(parent), m_viewModel(viewModel)
{}
