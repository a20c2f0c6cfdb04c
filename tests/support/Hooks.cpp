#include "tests/support/Hooks.h"

#include "db/DbClass.h"
#include "forms/EntryPage.h"
#include "forms/FileDialog.h"
#include "forms/MainForm.h"
#include "forms/MessageBox.h"
#include "reports/PrintForm.h"

#include <QTest>

MessageQueueGuard::MessageQueueGuard()
{
    MessageBox::setTestMode(true);
}

MessageQueueGuard::~MessageQueueGuard()
{
    QTest::qCompare(MessageBox::pendingAnswers(), 0, "MessageBox::pendingAnswers()", "0", __FILE__, __LINE__);
    // The wrapper drops an answer only by using it.
    while (MessageBox::pendingAnswers() > 0)
        MessageBox::information(nullptr, QString());
    MessageBox::takeShownTexts();
}

HookGuard::HookGuard()
    : m_startCalculator(TEntryPage::startCalculator)
    , m_restartProgram(TfrmMain::restartProgram)
    , m_execPrintDialog(TfrmPrint::execPrintDialog)
    , m_longWorkNotice(TDbMan::longWorkNotice)
    , m_passwordPrompt(TDbMan::passwordPrompt)
    , m_dailyBackup(TfrmMain::dailyBackup)
{
}

HookGuard::~HookGuard()
{
    TEntryPage::startCalculator = std::move(m_startCalculator);
    TfrmMain::restartProgram = std::move(m_restartProgram);
    TfrmPrint::execPrintDialog = std::move(m_execPrintDialog);
    TDbMan::longWorkNotice = std::move(m_longWorkNotice);
    TDbMan::passwordPrompt = std::move(m_passwordPrompt);
    TfrmMain::dailyBackup = std::move(m_dailyBackup);
    // A queued file name left over would answer the next test's dialog.
    QTest::qCompare(FileDialog::pendingFileNames(), 0, "FileDialog::pendingFileNames()", "0", __FILE__, __LINE__);
    while (FileDialog::pendingFileNames() > 0)
        FileDialog::getOpenFileName(nullptr, FileKind::Import, QString(), QString());
}
