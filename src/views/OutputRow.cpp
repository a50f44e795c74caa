#include "views/OutputRow.h"

OutputRow::OutputRow(VideoEditorViewModel *viewModel, QWidget *parent)
    : QWidget(parent), m_viewModel(viewModel)
{}
