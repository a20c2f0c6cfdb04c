// The journey driver: loaded into the real kivaro (LD_PRELOAD on Linux, as a Qt plugin on Windows), it plays a
// script of a user's steps on the program's windows by objectName, on the window's own thread, while the program
// runs its own start, login and event loops. It fails the journey on an unexpected message box, a step that does
// not come true in time, a window that stops answering, or a program that ends early; a crash ends the process,
// which the runner reports. See tests/journeys/README.md for the steps.

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateEdit>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGenericPlugin>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSet>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <unistd.h>

namespace {

struct Step
{
    int line = 0;
    QStringList words;
};

struct JourneyFailed
{
    QString why;
};

// Splits a script line into words; "double quotes" keep spaces, ${NAME} is the environment's value.
QStringList splitWords(const QString& line)
{
    QStringList words;
    QString word;
    bool quoted = false;
    bool any = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (c == QLatin1Char('"')) {
            quoted = !quoted;
            any = true;
        } else if (c == QLatin1Char('\\') && quoted && i + 1 < line.size()) {
            word += line.at(++i);
        } else if (c.isSpace() && !quoted) {
            if (any || !word.isEmpty())
                words << word;
            word.clear();
            any = false;
        } else {
            word += c;
        }
    }
    if (any || !word.isEmpty())
        words << word;
    return words;
}

QString expanded(QString text)
{
    static const QRegularExpression variable(QStringLiteral("\\$\\{([A-Za-z_][A-Za-z0-9_]*)\\}"));
    QRegularExpressionMatch match;
    qsizetype from = 0;
    while ((match = variable.match(text, from)).hasMatch()) {
        const QString value = qEnvironmentVariable(match.captured(1).toLatin1().constData());
        text.replace(match.capturedStart(), match.capturedLength(), value);
        from = match.capturedStart() + value.size();
    }
    return text;
}

QString widgetText(QWidget* widget)
{
    if (auto* label = qobject_cast<QLabel*>(widget))
        return label->text();
    if (auto* edit = qobject_cast<QLineEdit*>(widget))
        return edit->text();
    if (auto* date = qobject_cast<QDateEdit*>(widget))
        return date->date().toString(Qt::ISODate);
    if (auto* combo = qobject_cast<QComboBox*>(widget))
        return combo->currentText();
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        return button->text();
    if (auto* box = qobject_cast<QMessageBox*>(widget))
        return box->text();
    if (auto* progress = qobject_cast<QProgressDialog*>(widget))
        return progress->labelText();
    if (widget->isWindow())
        return widget->windowTitle();
    return QString();
}

QString rowText(QAbstractItemModel* model, int row)
{
    QStringList cells;
    for (int column = 0; column < model->columnCount(); ++column)
        cells << model->index(row, column).data().toString();
    return cells.join(QStringLiteral(" | "));
}

// The first cell of the named columns (by header caption) whose whole text does not fit its column's width; an
// invalid index when every one fits. A cell's text has the style's margin on either side of it.
QModelIndex cellNotFitting(QAbstractItemView* view, const QStringList& captions)
{
    QAbstractItemModel* model = view->model();
    auto* tree = qobject_cast<QTreeView*>(view);
    if (!tree)
        throw JourneyFailed { QStringLiteral("\"%1\" has no columns").arg(view->objectName()) };
    QHeaderView* header = tree->header();
    const int margins = 2 * (view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1);
    const QFontMetrics metrics(view->font());
    QStringList missing = captions;
    for (int column = 0; column < model->columnCount(); ++column) {
        if (!missing.removeOne(model->headerData(column, Qt::Horizontal).toString()))
            continue;
        for (int row = 0; row < model->rowCount(); ++row) {
            const QModelIndex index = model->index(row, column);
            if (metrics.horizontalAdvance(index.data().toString()) + margins > header->sectionSize(column))
                return index;
        }
    }
    if (!missing.isEmpty())
        throw JourneyFailed { QStringLiteral("the list has no column \"%1\"").arg(missing.join(QLatin1Char(','))) };
    return {};
}

bool textMatches(const QString& text, const QString& op, const QString& expected)
{
    if (op == QLatin1String("="))
        return text == expected;
    if (op == QLatin1String("~"))
        return text.contains(expected);
    if (op == QLatin1String("!~"))
        return !text.contains(expected);
    if (op == QLatin1String("re"))
        return QRegularExpression(expected).match(text).hasMatch();
    throw JourneyFailed { QStringLiteral("unknown comparison \"%1\" (=, ~, !~, re)").arg(op) };
}

class Driver : public QObject
{
public:
    Driver(QList<Step> steps, QString resultPath)
        : m_steps(std::move(steps))
        , m_resultPath(std::move(resultPath))
    {
        m_tick.setInterval(40);
        connect(&m_tick, &QTimer::timeout, this, &Driver::onTick);
        m_tick.start();
        m_stepClock.start();
        m_beat = now();
        m_watchdog = std::thread([this] { watch(); });
        m_watchdog.detach();
        // Every press of a mouse button the program gets, from the driver or from anywhere else, is counted.
        QCoreApplication::instance()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)
            ++m_mousePresses;
        return QObject::eventFilter(watched, event);
    }

public:
    // The program ended: only a journey whose steps are all done has passed.
    void programEnded()
    {
        if (m_index < m_steps.size())
            fail(QStringLiteral("the program ended before the step was done"));
        writeResult(QStringLiteral("passed"));
        m_finished = true;
    }

private:
    static qint64 now()
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }

    void log(const QString& text) const
    {
        std::fprintf(stderr, "journey: %s\n", text.toUtf8().constData());
        std::fflush(stderr);
    }

    void writeResult(const QString& text) const
    {
        QFile result(m_resultPath);
        if (result.open(QIODevice::WriteOnly | QIODevice::Truncate))
            result.write(text.toUtf8() + '\n');
    }

    [[noreturn]] void fail(const QString& why)
    {
        const Step* step = m_index < m_steps.size() ? &m_steps.at(m_index) : nullptr;
        const QString where = step ? QStringLiteral("line %1 (%2): ").arg(step->line).arg(step->words.join(u' '))
                                   : QStringLiteral("after the last step: ");
        const QString text = QStringLiteral("FAILED at ") + where + why;
        log(text);
        writeResult(text);
        screenshot(qEnvironmentVariable("KIVARO_JOURNEY_DIR") + QStringLiteral("/failure.png"));
        std::fflush(nullptr);
        _exit(1);
    }

    // A second thread that notices a window that stopped answering (its thread blocked in a call) or a program
    // that does not end after the last step.
    void watch()
    {
        for (;;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            const qint64 silent = now() - m_beat.load();
            if (!m_inShell.load() && silent > m_hangLimitMs.load()) {
                const QString text = QStringLiteral("FAILED: the window did not respond for %1 s (step at line %2)")
                                         .arg(silent / 1000)
                                         .arg(m_currentLine.load());
                std::fprintf(stderr, "journey: %s\n", text.toUtf8().constData());
                writeResult(text);
                std::fflush(nullptr);
                _exit(3);
            }
            if (m_doneAt.load() && now() - m_doneAt.load() > 20'000 && !m_finished.load()) {
                writeResult(QStringLiteral("FAILED: the program did not end 20 s after the last step"));
                std::fflush(nullptr);
                _exit(4);
            }
        }
    }

    // The control with the focus. No window is active after a box closed on a platform without a window manager:
    // the focus is then the one its window kept, which a desktop gives back.
    QWidget* focusedControl() const
    {
        if (QWidget* focused = QApplication::focusWidget())
            return focused;
        for (QWidget* window : visibleWindows()) {
            if (!qobject_cast<QMessageBox*>(window) && window->focusWidget())
                return window->focusWidget();
        }
        return nullptr;
    }

    QList<QWidget*> visibleWindows() const
    {
        QList<QWidget*> windows;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->isVisible())
                windows << widget;
        }
        return windows;
    }

    QMessageBox* visibleBox() const
    {
        for (QWidget* widget : visibleWindows()) {
            if (auto* box = qobject_cast<QMessageBox*>(widget))
                return box;
        }
        return nullptr;
    }

    // "name" anywhere in a visible window, or "window/name" in that window; nothing when it is not shown.
    QWidget* find(const QString& path) const
    {
        const qsizetype slash = path.indexOf(QLatin1Char('/'));
        const QString windowName = slash < 0 ? QString() : path.left(slash);
        const QString name = slash < 0 ? path : path.mid(slash + 1);
        for (QWidget* window : visibleWindows()) {
            if (!windowName.isEmpty() && window->objectName() != windowName)
                continue;
            if (window->objectName() == name)
                return window;
            const QList<QWidget*> found = window->findChildren<QWidget*>(name);
            for (QWidget* widget : found) {
                if (widget->isVisible())
                    return widget;
            }
        }
        return nullptr;
    }

    QWidget* need(const QString& path) const
    {
        QWidget* widget = find(path);
        if (!widget)
            throw JourneyFailed { QStringLiteral("no visible control \"%1\"").arg(path) };
        return widget;
    }

    // A user cannot reach a control behind a modal window (a wait with 取消, a dialog): acting on one waits.
    static bool reachable(QWidget* widget)
    {
        QWidget* modal = QApplication::activeModalWidget();
        return !modal || modal == widget->window() || modal->isAncestorOf(widget);
    }

    void screenshot(const QString& path) const
    {
        if (!QDir::isAbsolutePath(path))
            return;
        const QList<QWidget*> windows = visibleWindows();
        for (int i = 0; i < windows.size(); ++i) {
            QString name = path;
            if (i > 0)
                name.insert(name.lastIndexOf(QLatin1Char('.')), QStringLiteral("-%1").arg(i));
            windows.at(i)->grab().save(name);
        }
    }

    void noteBoxes()
    {
        for (QWidget* window : visibleWindows()) {
            if (auto* box = qobject_cast<QMessageBox*>(window); box && !m_boxesSeen.contains(box)) {
                m_boxesSeen.insert(box);
                log(QStringLiteral("box: ") + box->text());
                // What no box may say, whatever the journey: a second stop after a Chinese one, or a driver's English.
                static const QRegularExpression driverText(
                    QStringLiteral("connection to server|FATAL|ERROR:|could not|Is the server running"));
                if (box->text().endsWith(QStringLiteral("。.")) || driverText.match(box->text()).hasMatch())
                    fail(QStringLiteral("a box says it badly: ") + box->text());
            }
        }
    }

    // Actions go through the event loop, so that a handler that opens a modal loop does not hold the script.
    void post(std::function<void()> action) { QTimer::singleShot(0, this, std::move(action)); }

    void sendText(QWidget* widget, const QString& text)
    {
        widget->setFocus(Qt::OtherFocusReason);
        QWidget* target = widget;
        if (auto* combo = qobject_cast<QComboBox*>(widget); combo && combo->lineEdit())
            target = combo->lineEdit();
        for (qsizetype i = 0; i < text.size(); ++i) {
            QString unit(text.at(i));
            if (text.at(i).isHighSurrogate() && i + 1 < text.size())
                unit += text.at(++i);
            // A digit or a Latin letter is its own key, as a keyboard sends it (a date field reads the key).
            const char16_t c = unit.size() == 1 ? unit.at(0).toUpper().unicode() : 0;
            const bool plain = (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z');
            const auto key = plain ? Qt::Key(c) : Qt::Key_unknown;
            QTest::sendKeyEvent(QTest::Press, target, key, unit, Qt::NoModifier);
            QTest::sendKeyEvent(QTest::Release, target, key, unit, Qt::NoModifier);
        }
    }

    QAbstractItemView* needView(const QString& path) const
    {
        auto* view = qobject_cast<QAbstractItemView*>(need(path));
        if (!view || !view->model())
            throw JourneyFailed { QStringLiteral("\"%1\" is not a list").arg(path) };
        return view;
    }

    // One step: true when it is done, false while it waits.
    bool run(const QStringList& w)
    {
        const QString& verb = w.at(0);
        const auto arg = [&](int i) {
            if (i >= w.size())
                throw JourneyFailed { QStringLiteral("missing argument %1").arg(i) };
            return expanded(w.at(i));
        };
        const auto rest = [&](int from) {
            QStringList parts;
            for (int i = from; i < w.size(); ++i)
                parts << expanded(w.at(i));
            return parts.join(u' ');
        };
        if (verb == QLatin1String("box"))
            return answerBox(arg(1), w.size() > 2 ? rest(2) : QString());
        if (verb == QLatin1String("no-mouse")) {
            if (m_mousePresses > 0)
                throw JourneyFailed { QStringLiteral("the program got %1 mouse presses").arg(m_mousePresses) };
            return true;
        }
        // Checking a box's buttons, or a picture of the screen with it, is no reason to fail on the box.
        const bool aboutTheBox = (verb == QLatin1String("chinese") && w.value(1) == QLatin1String("box"))
            || verb == QLatin1String("screenshot");
        if (QMessageBox* box = visibleBox(); box && !aboutTheBox)
            throw JourneyFailed { QStringLiteral("unexpected message box: ") + box->text() };
        if (verb == QLatin1String("window"))
            return find(arg(1)) != nullptr;
        if (verb == QLatin1String("gone"))
            return find(arg(1)) == nullptr;
        if (verb == QLatin1String("type")) {
            QWidget* widget = need(arg(1));
            if (!reachable(widget))
                return false;
            const QString text = rest(2);
            post([this, widget = QPointer<QWidget>(widget), text] {
                if (widget)
                    sendText(widget, text);
            });
            return true;
        }
        if (verb == QLatin1String("clear")) {
            QWidget* widget = need(arg(1));
            if (!reachable(widget))
                return false;
            if (auto* combo = qobject_cast<QComboBox*>(widget))
                widget = combo->lineEdit();
            auto* edit = qobject_cast<QLineEdit*>(widget);
            if (!edit)
                throw JourneyFailed { QStringLiteral("\"%1\" is not a text field").arg(arg(1)) };
            post([edit = QPointer<QLineEdit>(edit)] {
                if (edit) {
                    edit->setFocus(Qt::OtherFocusReason);
                    edit->selectAll();
                    QTest::keyClick(edit, Qt::Key_Backspace);
                }
            });
            return true;
        }
        if (verb == QLatin1String("key")) {
            const QKeyCombination key = QKeySequence(arg(w.size() > 2 ? 2 : 1))[0];
            QWidget* widget = w.size() > 2 ? need(arg(1)) : focusedControl();
            if (!widget)
                throw JourneyFailed { QStringLiteral("no control has the focus") };
            if (!reachable(widget))
                return false;
            post([widget = QPointer<QWidget>(widget), key] {
                if (!widget)
                    return;
                if (!widget->window()->isActiveWindow()) {
                    widget->window()->activateWindow();
                    if (!QTest::qWaitForWindowActive(widget->window(), 2'000))
                        qWarning("journey: the window did not become active");
                }
                if (!widget)
                    return;
                QTest::keyClick(widget, key.key(), key.keyboardModifiers());
            });
            return true;
        }
        if (verb == QLatin1String("click")) {
            QWidget* widget = need(arg(1));
            if (!widget->isEnabled() || !reachable(widget))
                return false;
            post([widget = QPointer<QWidget>(widget)] {
                if (widget)
                    QTest::mouseClick(widget, Qt::LeftButton);
            });
            return true;
        }
        if (verb == QLatin1String("action")) {
            for (QWidget* window : visibleWindows()) {
                auto* menu = qobject_cast<QMenu*>(window);
                if (!menu)
                    continue;
                for (QAction* action : menu->actions()) {
                    if (action->objectName() == arg(1)) {
                        const QPoint at = menu->actionGeometry(action).center();
                        post([menu = QPointer<QMenu>(menu), at] {
                            if (menu)
                                QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier, at);
                        });
                        return true;
                    }
                }
            }
            return false;
        }
        if (verb == QLatin1String("select")) {
            QAbstractItemView* view = needView(arg(1));
            const int row = arg(2).toInt();
            if (row >= view->model()->rowCount() || !reachable(view))
                return false;
            const int column = view->model()->columnCount() > 1 ? 1 : 0;
            const QModelIndex index = view->model()->index(row, column);
            view->scrollTo(index);
            const QPoint at = view->visualRect(index).center();
            post([view = QPointer<QAbstractItemView>(view), at] {
                if (view)
                    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, at);
            });
            return true;
        }
        if (verb == QLatin1String("header")) {
            // A click on the column header of that caption, as on a list's title row.
            auto* tree = qobject_cast<QTreeView*>(needView(arg(1)));
            if (!tree || !reachable(tree))
                return false;
            QHeaderView* header = tree->header();
            for (int section = 0; section < header->count(); ++section) {
                if (header->isSectionHidden(section)
                    || tree->model()->headerData(section, Qt::Horizontal).toString() != arg(2))
                    continue;
                const QPoint at(
                    header->sectionViewportPosition(section) + header->sectionSize(section) / 2, header->height() / 2);
                post([header = QPointer<QHeaderView>(header), at] {
                    if (header)
                        QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, at);
                });
                return true;
            }
            return false;
        }
        if (verb == QLatin1String("text")) {
            m_lastSeen = widgetText(need(arg(1)));
            return textMatches(m_lastSeen, arg(2), rest(3));
        }
        if (verb == QLatin1String("rows")) {
            QAbstractItemView* view = needView(arg(1));
            return view->model()->rowCount() == arg(2).toInt();
        }
        if (verb == QLatin1String("row")) {
            QAbstractItemView* view = needView(arg(1));
            const int row = arg(2).toInt();
            if (row >= view->model()->rowCount())
                return false;
            m_lastSeen = rowText(view->model(), row);
            return textMatches(m_lastSeen, arg(3), rest(4));
        }
        if (verb == QLatin1String("top")) {
            // The row the list shows first, where its scroll position is.
            QAbstractItemView* view = needView(arg(1));
            const QModelIndex top = view->indexAt(QPoint(1, 1));
            return top.isValid() && textMatches(rowText(view->model(), top.row()), arg(2), rest(3));
        }
        if (verb == QLatin1String("fits")) {
            // A cell not yet painted is shown, as a user scrolling to it would.
            QAbstractItemView* view = needView(arg(1));
            QStringList captions;
            for (int i = 2; i < w.size(); ++i)
                captions << arg(i);
            const QModelIndex index = cellNotFitting(view, captions);
            if (index.isValid())
                view->scrollTo(index);
            return !index.isValid();
        }
        if (verb == QLatin1String("enabled")) {
            const bool wanted = arg(2) == QLatin1String("yes");
            return need(arg(1))->isEnabled() == wanted;
        }
        if (verb == QLatin1String("focus"))
            return focusedControl() && focusedControl()->objectName() == arg(1);
        if (verb == QLatin1String("sleep"))
            return m_stepClock.elapsed() >= arg(1).toInt();
        if (verb == QLatin1String("shell")) {
            runShell(rest(1));
            return true;
        }
        if (verb == QLatin1String("spawn")) {
            auto process = std::make_shared<QProcess>();
            process->setProcessChannelMode(QProcess::ForwardedChannels);
            process->setProcessEnvironment(childEnvironment());
            process->start(QStringLiteral("/bin/sh"), { QStringLiteral("-c"), rest(2) });
            if (!process->waitForStarted())
                throw JourneyFailed { QStringLiteral("could not start: ") + rest(2) };
            m_spawned.insert(arg(1), process);
            return true;
        }
        if (verb == QLatin1String("join")) {
            const auto process = m_spawned.value(arg(1));
            if (!process)
                throw JourneyFailed { QStringLiteral("nothing was spawned as ") + arg(1) };
            if (process->state() != QProcess::NotRunning)
                return false;
            if (process->exitStatus() != QProcess::NormalExit || process->exitCode() != 0)
                throw JourneyFailed { QStringLiteral("%1 ended with %2").arg(arg(1)).arg(process->exitCode()) };
            return true;
        }
        if (verb == QLatin1String("cancel-wait")) {
            // The user gives up a wait that shows 取消.
            for (QWidget* window : visibleWindows()) {
                auto* progress = qobject_cast<QProgressDialog*>(window);
                QPushButton* cancel = progress ? progress->findChild<QPushButton*>() : nullptr;
                if (cancel && cancel->isVisible()) {
                    post([cancel = QPointer<QPushButton>(cancel)] {
                        if (cancel)
                            cancel->click();
                    });
                    return true;
                }
            }
            return false;
        }
        if (verb == QLatin1String("wait-file"))
            return QFile::exists(arg(1));
        if (verb == QLatin1String("screenshot")) {
            screenshot(arg(1));
            return true;
        }
        if (verb == QLatin1String("log")) {
            log(rest(1));
            return true;
        }
        if (verb == QLatin1String("timeout")) {
            m_stepTimeoutMs = arg(1).toInt() * 1000;
            return true;
        }
        if (verb == QLatin1String("hang")) {
            m_hangLimitMs = arg(1).toLongLong() * 1000;
            return true;
        }
        if (verb == QLatin1String("after-restart")) {
            // The script that the program started again (切换用户, a restore) plays; the runner waits for its result.
            qputenv("KIVARO_JOURNEY", arg(1).toUtf8());
            qputenv("KIVARO_JOURNEY_RESULT", (arg(1) + QStringLiteral(".result")).toUtf8());
            return true;
        }
        if (verb == QLatin1String("resize") || verb == QLatin1String("maximize")) {
            // What dragging the window's corner or its maximise button does.
            QWidget* window = need(arg(1))->window();
            const QSize size = verb == QLatin1String("resize") ? QSize(arg(2).toInt(), arg(3).toInt()) : QSize();
            post([window = QPointer<QWidget>(window), size] {
                if (window && size.isValid())
                    window->resize(size);
                else if (window)
                    window->showMaximized();
            });
            return true;
        }
        if (verb == QLatin1String("chinese")) {
            // Every button the window (or the message box, "box") shows reads in Chinese: no Latin letter but the
            // accelerator mark "(&Y)" Chinese texts carry.
            QWidget* window = arg(1) == QLatin1String("box") ? visibleBox() : need(arg(1))->window();
            if (!window)
                return false;
            static const QRegularExpression accelerator(QStringLiteral("\\(&.\\)|&"));
            static const QRegularExpression latin(QStringLiteral("[A-Za-z]"));
            QStringList english;
            for (QAbstractButton* button : window->findChildren<QAbstractButton*>())
                if (button->isVisible() && QString(button->text()).remove(accelerator).contains(latin))
                    english << button->text();
            m_lastSeen = english.join(QStringLiteral(", "));
            return english.isEmpty();
        }
        if (verb == QLatin1String("on-screen")) {
            // The whole window, its frame and title bar included, inside the screen's work area.
            QWidget* window = need(arg(1))->window();
            const QRect workArea = window->screen()->availableGeometry();
            m_lastSeen = QStringLiteral("the frame at %1,%2 %3×%4 in the work area at %5,%6 %7×%8")
                             .arg(window->frameGeometry().x())
                             .arg(window->frameGeometry().y())
                             .arg(window->frameGeometry().width())
                             .arg(window->frameGeometry().height())
                             .arg(workArea.x())
                             .arg(workArea.y())
                             .arg(workArea.width())
                             .arg(workArea.height());
            return workArea.contains(window->frameGeometry());
        }
        if (verb == QLatin1String("geometry")) {
            // Left, top, width and height in the window, as "x,y,w,h".
            QWidget* widget = need(arg(1));
            const QPoint at = widget->isWindow() ? QPoint() : widget->mapTo(widget->window(), QPoint());
            const QString geometry
                = QStringLiteral("%1,%2,%3,%4").arg(at.x()).arg(at.y()).arg(widget->width()).arg(widget->height());
            m_lastSeen = geometry;
            return textMatches(geometry, arg(2), rest(3));
        }
        if (verb == QLatin1String("close")) {
            QWidget* window = need(arg(1));
            post([window = QPointer<QWidget>(window)] {
                if (window)
                    window->close();
            });
            return true;
        }
        throw JourneyFailed { QStringLiteral("unknown step \"%1\"").arg(verb) };
    }

    QProcessEnvironment childEnvironment() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("KIVARO_JOURNEY"));
        environment.remove(QStringLiteral("LD_PRELOAD"));
        return environment;
    }

    void runShell(const QString& command)
    {
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.setProcessEnvironment(childEnvironment());
        m_inShell = true;
        process.start(QStringLiteral("/bin/sh"), { QStringLiteral("-c"), command });
        const bool finished = process.waitForFinished(120'000);
        m_inShell = false;
        m_beat = now();
        if (!finished || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
            throw JourneyFailed { QStringLiteral("the command failed (%1): %2").arg(process.exitCode()).arg(command) };
    }

    bool answerBox(const QString& answer, const QString& expected)
    {
        QMessageBox* box = visibleBox();
        if (!box)
            return false;
        if (!expected.isEmpty() && !box->text().contains(expected))
            throw JourneyFailed { QStringLiteral("the box says \"%1\", not \"%2\"").arg(box->text(), expected) };
        // Answered from the keyboard: Enter presses the box's default button.
        if (answer == QLatin1String("enter")) {
            m_boxesSeen.remove(box);
            post([box = QPointer<QMessageBox>(box)] {
                if (box)
                    QTest::keyClick(
                        QApplication::focusWidget() ? QApplication::focusWidget() : box.data(), Qt::Key_Return);
            });
            return true;
        }
        static const QHash<QString, QMessageBox::StandardButton> standard {
            { QStringLiteral("ok"), QMessageBox::Ok },
            { QStringLiteral("yes"), QMessageBox::Yes },
            { QStringLiteral("no"), QMessageBox::No },
            { QStringLiteral("cancel"), QMessageBox::Cancel },
        };
        QAbstractButton* button = box->button(standard.value(answer.toLower(), QMessageBox::NoButton));
        if (!button) {
            for (QAbstractButton* candidate : box->buttons()) {
                if (candidate->text().remove(QLatin1Char('&')).contains(answer))
                    button = candidate;
            }
        }
        if (!button)
            throw JourneyFailed { QStringLiteral("the box \"%1\" has no button \"%2\"").arg(box->text(), answer) };
        m_boxesSeen.remove(box);
        post([button = QPointer<QAbstractButton>(button)] {
            if (button)
                button->click();
        });
        return true;
    }

    void onTick()
    {
        m_beat = now();
        if (m_busy || m_index >= m_steps.size())
            return;
        m_busy = true;
        noteBoxes();
        const Step& step = m_steps.at(m_index);
        m_currentLine = step.line;
        try {
            if (run(step.words)) {
                ++m_index;
                m_stepClock.restart();
                m_lastSeen.clear();
                if (m_index >= m_steps.size()) {
                    log(QStringLiteral("all steps done"));
                    m_doneAt = now();
                }
            } else if (m_stepClock.elapsed() > m_stepTimeoutMs) {
                const QMessageBox* box = visibleBox();
                fail(QStringLiteral("not so after %1 s").arg(m_stepTimeoutMs / 1000)
                    + (m_lastSeen.isEmpty() ? QString() : QStringLiteral("; it is ") + m_lastSeen)
                    + (box ? QStringLiteral("; a message box says: ") + box->text() : QString()));
            }
        } catch (const JourneyFailed& failed) {
            fail(failed.why);
        }
        m_busy = false;
    }

    QList<Step> m_steps;
    QString m_resultPath;
    qsizetype m_index = 0;
    QTimer m_tick;
    QElapsedTimer m_stepClock;
    // What the waiting step last saw, told when it times out.
    QString m_lastSeen;
    int m_stepTimeoutMs = 20'000;
    bool m_busy = false;
    QSet<QMessageBox*> m_boxesSeen;
    QHash<QString, std::shared_ptr<QProcess>> m_spawned;
    std::thread m_watchdog;
    std::atomic<qint64> m_beat { 0 };
    std::atomic<qint64> m_hangLimitMs { 15'000 };
    std::atomic<bool> m_inShell { false };
    std::atomic<int> m_currentLine { 0 };
    std::atomic<qint64> m_doneAt { 0 };
    std::atomic<bool> m_finished { false };
    int m_mousePresses = 0;
};

Driver* driver = nullptr;

QList<Step> readScript(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "journey: cannot read %s\n", qPrintable(path));
        _exit(1);
    }
    QList<Step> steps;
    int number = 0;
    for (const QByteArray& raw : file.readAll().split('\n')) {
        ++number;
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        steps.append({ number, splitWords(line) });
    }
    return steps;
}

void startJourney()
{
    const QString script = qEnvironmentVariable("KIVARO_JOURNEY");
    // The command-line tools make no windows, and a program started again by the one played plays nothing unless
    // the script named what it should play.
    if (script.isEmpty() || !qobject_cast<QApplication*>(QCoreApplication::instance()))
        return;
    qunsetenv("KIVARO_JOURNEY");
    const QString result = qEnvironmentVariable("KIVARO_JOURNEY_RESULT", script + QStringLiteral(".result"));
    driver = new Driver(readScript(script), result);
    qAddPostRoutine([] {
        if (driver)
            driver->programEnded();
    });
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startJourney)

// Windows has no LD_PRELOAD: there the program loads the driver as one of Qt's generic plugins (`kivaro.exe -plugin
// kivarojourney`, with the library in plugins/generic/), and the startup function above runs as it is loaded, while
// the application is being made.
class JourneyPlugin : public QGenericPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "journey.json")

public:
    // Qt keeps what a generic plugin makes until it ends; the driver itself is made by the startup function.
    QObject* create(const QString&, const QString&) override { return new QObject; }
};

#include "Driver.moc"
