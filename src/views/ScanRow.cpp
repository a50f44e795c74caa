#include "views/ScanRow.h"

ScanRow::ScanRow(VideoEditorViewModel *viewModel, QWidget *parent)
    : QWidget(parent), m_viewModel(viewModel)
{}
