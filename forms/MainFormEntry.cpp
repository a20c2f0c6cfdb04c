#include "forms/MainForm.h"

void TfrmMain::setupEntryPage()
{
}

void TfrmMain::prepareEntryPage()
{
}
