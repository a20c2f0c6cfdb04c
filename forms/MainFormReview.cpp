#include "forms/MainForm.h"

void TfrmMain::setupReviewPage()
{
}

void TfrmMain::prepareReviewPage()
{
}
