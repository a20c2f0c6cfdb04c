#include "tests/TestUtil.h"

#include "app/MessageBox.h"
#include "app/Startup.h"

#include <QDialog>
#include <QTimer>

TestDataHome::TestDataHome()
{
    qputenv("XDG_DATA_HOME", m_dir.path().toLocal8Bit());
}

void typeText(QWidget* widget, const QString& text)
{
    for (const QChar ch : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(ch), Qt::NoModifier);
}

void whenDialogShows(const char* objectName, std::function<void(QWidget*)> action)
{
    const QString name = QString::fromLatin1(objectName);
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, name, action] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal->objectName() != name || !modal->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        action(modal);
        // A failed check inside the action must not leave the test waiting on an open dialog.
        if (QTest::currentTestFailed() && modal->isVisible())
            static_cast<QDialog*>(modal)->reject();
    });
    timer->start();
}

void prepareTestApplication()
{
    MessageBox::setTestMode(true);
    installFontSubstitutes();
}
