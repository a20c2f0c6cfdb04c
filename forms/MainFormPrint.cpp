#include "forms/MainForm.h"

void TfrmMain::Button8Click()
{
}

void TfrmMain::Button13Click()
{
}

void TfrmMain::Button14Click()
{
}

void TfrmMain::Button15Click()
{
}
