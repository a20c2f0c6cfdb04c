#include "app/Terminal.h"

#include "base/Platform.h"

#include <QByteArray>

void print(FILE* stream, const QString& text)
{
    std::fputs(text.toUtf8().constData(), stream);
    std::fflush(stream);
}

InputLine readInputLine()
{
    QByteArray typed;
    bool ended = false;
    for (;;) {
        char ch = 0;
        if (Platform::readStandardInputByte(ch) <= 0) {
            ended = true;
            break;
        }
        if (ch == '\n')
            break;
        typed.append(ch);
    }
    if (typed.endsWith('\r'))
        typed.chop(1);
    InputLine line { Platform::standardInputText(typed), ended };
    typed.fill('\0');
    return line;
}

std::optional<InputLine> readWithoutEcho(const QString& prompt)
{
    print(stderr, prompt);
    std::optional<InputLine> typed;
    {
        const Platform::EchoOff echoOff;
        if (!echoOff.active())
            return std::nullopt;
        typed = readInputLine();
    }
    print(stderr, QStringLiteral("\n"));
    return typed;
}

std::optional<QString> readPassword(const QString& server, const QString& reason)
{
    const std::optional<InputLine> typed
        = readWithoutEcho(QStringLiteral("%1\n数据库服务器“%2”的密码：").arg(reason, server));
    if (!typed || typed->ended || typed->text.isEmpty())
        return std::nullopt;
    return typed->text;
}
